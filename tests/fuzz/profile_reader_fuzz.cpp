// The settings reader on arbitrary text: no crash, no read outside the text (which
// has no terminating NUL), and these properties of a lookup:
//   - a key or a section whose name appears nowhere in the text gives the default;
//   - the result depends on the default only when it is the default;
//   - a key placed at the top of its section wins, and its value converts as
//     Windows converts it (blanks, quotes, '-', "0x", digits up to the first other
//     character, 32-bit wrap).
//
// Besides, against a plain model of the file (lines, "[section]" headers, "key=value"
// lines, ';' comments), the key read is the first of the first section of that name,
// and the default comes back exactly when that section lacks the key.
//
// Input: one byte choosing the section and the key, four bytes of default, one byte
// giving the length of a value placed in front, that value, then the file's text.
#include "platform/profile_reader.h"

#include "fuzz_check.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* const Sections[] = {"SETTINGS", "settings", "Other Section", "S"};
const char* const Keys[] = {"TOLVENMIRE_KEY",
                            "DEADEYE_LOCK_THRESHOLD",
                            "HEAL_WHEN_DRUNK",
                            "REFILL_PRICE",
                            "SOBER_UP_TIME",
                            "sober_up_time",
                            "K",
                            "KEY WITH BLANKS"};

bool containsIgnoringCase(const std::string& text, const char* name) {
    const size_t n = std::strlen(name);
    if (n > text.size()) return false;
    for (size_t i = 0; i + n <= text.size(); ++i) {
        size_t k = 0;
        while (k < n && std::tolower((unsigned char)text[i + k]) == std::tolower((unsigned char)name[k])) ++k;
        if (k == n) return true;
    }
    return false;
}

// The reader on a heap copy of exactly the text's bytes.
uint32_t lookup(const std::string& text, const char* section, const char* key, int32_t def) {
    std::unique_ptr<char[]> copy(new char[text.empty() ? 1 : text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    return profileReadInt(copy.get(), text.size(), section, key, def);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(std::string s) {
    while (!s.empty() && isBlank(s.front())) s.erase(s.begin());
    while (!s.empty() && isBlank(s.back())) s.pop_back();
    return s;
}

std::string lowered(std::string s) {
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

// The model's answer: the value text of `key` in the first section named `section`,
// or nothing.
bool modelFind(const std::string& text, const char* section, const char* key, std::string* value) {
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[' && line.find(']') != std::string::npos) {
            if (inSection) return false;
            const std::string name = trimmed(line.substr(1, line.find(']') - 1));
            inSection = lowered(name) == lowered(section);
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos) continue;
        if (lowered(trimmed(line.substr(0, eq))) == lowered(key)) {
            *value = line.substr(eq + 1);
            return true;
        }
    }
    return false;
}

// The integer of a value's text, as GetPrivateProfileIntA gives it.
uint32_t expectedValue(std::string v) {
    v = trimmed(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = trimmed(v.substr(1, v.size() - 2));
    bool negative = false;
    size_t i = 0;
    if (i < v.size() && v[i] == '-') {
        negative = true;
        ++i;
    }
    uint64_t base = 10;
    if (v.size() - i >= 2 && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint64_t value = 0;
    for (; i < v.size(); ++i) {
        const char c = v[i];
        uint64_t d;
        if (c >= '0' && c <= '9')
            d = (uint64_t)(c - '0');
        else if (base == 16 && std::isxdigit((unsigned char)c))
            d = (uint64_t)(std::tolower((unsigned char)c) - 'a' + 10);
        else
            break;
        value = (value * base + d) & 0xFFFFFFFFu;
    }
    return negative ? (uint32_t)(0u - (uint32_t)value) : (uint32_t)value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const char* section = Sections[data[0] & 3];
    const char* key = Keys[(data[0] >> 2) & 7];
    int32_t def;
    std::memcpy(&def, data + 1, sizeof def);
    size_t valueLength = data[5];
    data += 6;
    size -= 6;
    if (valueLength > size) valueLength = size;
    std::string value((const char*)data, valueLength);
    const std::string text((const char*)data + valueLength, size - valueLength);

    const uint32_t got = lookup(text, section, key, def);
    FUZZ_CHECK(lookup(text, section, key, def) == got, "two lookups of \"%s\" differ", key);
    if (!containsIgnoringCase(text, key) || !containsIgnoringCase(text, section))
        FUZZ_CHECK(got == (uint32_t)def, "[%s] %s is not in the text, yet reads %u instead of the default %d",
                   section, key, got, def);
    const int32_t otherDef = (int32_t) ~(uint32_t)def;
    const uint32_t withOtherDef = lookup(text, section, key, otherDef);
    if (withOtherDef != got)
        FUZZ_CHECK(got == (uint32_t)def && withOtherDef == (uint32_t)otherDef,
                   "[%s] %s reads %u with default %d and %u with default %d", section, key, got, def,
                   withOtherDef, otherDef);

    std::string modelValue;
    if (modelFind(text, section, key, &modelValue))
        FUZZ_CHECK(got == expectedValue(modelValue), "[%s] %s=\"%s\" reads %u, expected %u", section, key,
                   modelValue.c_str(), got, expectedValue(modelValue));
    else
        FUZZ_CHECK(got == (uint32_t)def, "[%s] %s is missing, yet reads %u instead of the default %d",
                   section, key, got, def);

    // The same text behind a section header and the key with the chosen value.
    const size_t lineEnd = value.find('\n');
    if (lineEnd != std::string::npos) value.resize(lineEnd);
    const std::string front = std::string("[") + section + "]\n" + key + "=" + value + "\n";
    const uint32_t first = lookup(front + text, section, key, def);
    FUZZ_CHECK(first == expectedValue(value), "[%s] %s=\"%s\" reads %u, expected %u", section, key,
               value.c_str(), first, expectedValue(value));
    return 0;
}
