// The save-file reader against the C++ library's own formatted extraction of a
// signed 32-bit integer (the classic locale), and the writer against printf's "%d",
// with the round trip between them.
#include "base/decimal_text.h"

#include "fuzz_check.h"

#include <cinttypes>
#include <cstring>
#include <locale>
#include <memory>
#include <sstream>
#include <string>

namespace {

// What the reader's result does to a flask level that held `before`.
int32_t loadedLevel(FlaskParse p, int32_t before) {
    switch (p.kind) {
    case FlaskRead::Nothing:
        return before;
    case FlaskRead::NotANumber:
        return 0;
    case FlaskRead::Value:
        return p.value;
    }
    return before;
}

// `std::istream >> int32_t` on the text, cut at the first Ctrl-Z as a text-mode
// read on Windows cuts it.
FlaskParse referenceParse(const char* text, size_t size) {
    std::string s(text, size);
    const size_t eof = s.find('\x1A');
    if (eof != std::string::npos) s.resize(eof);
    std::istringstream in(s);
    in.imbue(std::locale::classic());
    in >> std::ws;
    if (in.eof()) return {FlaskRead::Nothing, 0};
    int32_t v = 12345;
    in >> v;
    // A failed extraction stores 0; one out of range stores the nearest limit.
    if (in.fail() && v == 0) return {FlaskRead::NotANumber, 0};
    return {FlaskRead::Value, v};
}

const char* kindName(FlaskRead k) {
    return k == FlaskRead::Nothing ? "nothing" : k == FlaskRead::NotANumber ? "not a number" : "value";
}

void checkRoundTrip(int32_t value) {
    // Exactly the 12 bytes the writer is promised, on the heap, so that a write past
    // them is caught.
    std::unique_ptr<char[]> out(new char[12]);
    const int len = formatFlaskLevel(value, out.get());
    char expected[16];
    std::snprintf(expected, sizeof expected, "%" PRId32, value);
    FUZZ_CHECK(len == (int)std::strlen(expected) && std::strcmp(out.get(), expected) == 0,
               "value %" PRId32 ": written \"%s\" (%d bytes), printf gives \"%s\"", value, out.get(), len,
               expected);
    const FlaskParse back = parseFlaskLevelText(out.get(), (size_t)len);
    FUZZ_CHECK(back.kind == FlaskRead::Value && back.value == value,
               "value %" PRId32 " reads back as %s %" PRId32, value, kindName(back.kind), back.value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = (const char*)data;
    const FlaskParse got = parseFlaskLevelText(text, size);
    const FlaskParse want = referenceParse(text, size);
    FUZZ_CHECK(got.kind == want.kind, "input of %zu bytes: read as %s, formatted extraction gives %s", size,
               kindName(got.kind), kindName(want.kind));
    for (int32_t before : {99, 0, -1}) {
        FUZZ_CHECK(loadedLevel(got, before) == loadedLevel(want, before),
                   "input of %zu bytes, flask at %" PRId32 ": loads %" PRId32
                   ", formatted extraction gives %" PRId32,
                   size, before, loadedLevel(got, before), loadedLevel(want, before));
    }
    if (got.kind == FlaskRead::Value) checkRoundTrip(got.value);
    // The first four bytes as a level, whatever the text says.
    if (size >= 4) {
        int32_t value;
        std::memcpy(&value, data, sizeof value);
        checkRoundTrip(value);
    }
    return 0;
}
