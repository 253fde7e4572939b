// The natives the model knows, the reading of their text arguments, and the
// one-line description of a call for traces: each native and each hash of the
// game's constants by the game's name.
#include "standin/game_hashes.h"
#include "standin/host_internals.h"
#include "standin/native_table.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cmath>
#include <cstring>

namespace sim {

namespace {

// The native table, sorted by hash at first use.
const std::vector<NativeInfo>& table() {
    static const std::vector<NativeInfo> sorted = [] {
        std::vector<NativeInfo> v(std::begin(natives::Table), std::end(natives::Table));
        std::sort(v.begin(), v.end(),
                  [](const NativeInfo& a, const NativeInfo& b) { return a.hash < b.hash; });
        return v;
    }();
    return sorted;
}

void append(std::string& out, const char* format, ...) {
    char b[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(b, sizeof b, format, ap);
    va_end(ap);
    out += b;
}

// A 32-bit hash by the game's name of it (INPUT_MOVE_UD), or in hex when the game's
// constants do not have it.
void appendHash(std::string& out, uint32_t hash) {
    if (const hashes::Constant* known = hashes::find(hash))
        out += known->name;
    else
        append(out, "0x%08" PRIX32, hash);
}

void appendArgument(std::string& out, char kind, const Call& c, int k) {
    const uint64_t v = c.args[k];
    switch (kind) {
    case 'i':
        append(out, "%" PRId32, c.i32(k));
        break;
    case 'u':
        appendHash(out, c.u32(k));
        break;
    case 'b':
        append(out, "%" PRIu32, c.u32(k));
        break;
    case 'f':
        append(out, "%g", (double)c.f32(k));
        break;
    case 's':
        out += '"', out += c.text[k], out += '"';
        break;
    case 'r':
        out += c.text[k];
        break;
    case 'p':
        append(out, "&0x%" PRIX64, v);
        break;
    case 'g':
        append(out, "%" PRId64, (int64_t)v);
        break;
    default:
        append(out, "0x%016" PRIX64, v);
        break;
    }
}

} // namespace

float floatOf(uint64_t cell) {
    const uint32_t bits = (uint32_t)cell;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

bool sameFloat(uint32_t a, uint32_t b) {
    return a == b || (std::isnan(floatOf(a)) && std::isnan(floatOf(b)));
}

float Call::f32(int k) const { return floatOf(args[k]); }
float Call::resultFloat() const { return floatOf(result[0]); }

Sprite spriteOf(const Call& c) {
    Sprite s;
    s.dictionary = c.text[0];
    s.texture = c.text[1];
    s.x = c.f32(2);
    s.y = c.f32(3);
    s.width = c.f32(4);
    s.height = c.f32(5);
    s.rotation = c.f32(6);
    s.red = c.i32(7);
    s.green = c.i32(8);
    s.blue = c.i32(9);
    s.alpha = c.i32(10);
    s.last = c.i32(11);
    return s;
}

Speech speechOf(const Call& c, int frame) {
    Speech s;
    s.frame = frame;
    s.speaker = c.i32(0);
    if (const void* record = (const void*)(uintptr_t)c.args[1]) {
        memcpy(s.slots, record, sizeof s.slots);
        if (const char* line = (const char*)(uintptr_t)s.slots[0]) s.line = line;
        if (const char* voice = (const char*)(uintptr_t)s.slots[1]) s.voice = voice;
    }
    return s;
}

const NativeInfo* findNative(uint64_t hash) {
    const std::vector<NativeInfo>& t = table();
    auto it = std::lower_bound(t.begin(), t.end(), hash,
                               [](const NativeInfo& n, uint64_t h) { return n.hash < h; });
    return it != t.end() && it->hash == hash ? &*it : nullptr;
}

std::string describe(const Call& c) {
    std::string out;
    append(out, "frame %d  ", c.frame);
    switch (c.kind) {
    case CallKind::Native: {
        const NativeInfo* info = findNative(c.hash);
        append(out, "0x%016" PRIX64 " ", c.hash);
        out += info ? natives::fullName(*info) : "unknown";
        out += '(';
        const size_t known = info ? strlen(info->args) : 0;
        for (int k = 0; k < c.argc; ++k) {
            if (k) out += ", ";
            appendArgument(out, (size_t)k < known ? info->args[k] : 'x', c, k);
        }
        out += ')';
        const char result = info ? info->result : 'x';
        switch (result) {
        case 'v':
            break;
        case 'i':
            append(out, " -> %" PRId32, c.resultInt());
            break;
        case 'u':
            out += " -> ";
            appendHash(out, (uint32_t)c.result[0]);
            break;
        case 'f':
            append(out, " -> %g", (double)c.resultFloat());
            break;
        case 'P':
            append(out, " -> (%g, %g, %g)", (double)floatOf(c.result[0]), (double)floatOf(c.result[1]),
                   (double)floatOf(c.result[2]));
            break;
        default:
            append(out, " -> 0x%016" PRIX64, c.result[0]);
            break;
        }
        break;
    }
    case CallKind::Wait:
        append(out, "scriptWait(%" PRIu32 ")", c.waitMs);
        break;
    case CallKind::GlobalPtr:
        append(out, "getGlobalPtr(%" PRId32 ") -> 0x%" PRIX64, c.globalIndex, c.pointer);
        break;
    case CallKind::ScriptRegister:
        append(out, "scriptRegister(module 0x%" PRIX64 ", script 0x%" PRIX64 ")", c.pointer, c.args[0]);
        break;
    case CallKind::ScriptUnregister:
        append(out, "scriptUnregister(module 0x%" PRIX64 ")", c.pointer);
        break;
    case CallKind::KeyboardRegister:
        append(out, "keyboardHandlerRegister(0x%" PRIX64 ")", c.pointer);
        break;
    case CallKind::KeyboardUnregister:
        append(out, "keyboardHandlerUnregister(0x%" PRIX64 ")", c.pointer);
        break;
    }
    return out;
}

namespace detail {

// The speech record: eight 8-byte slots, the line's and the voice's names first.
static void readSpeechRecord(uint64_t address, std::string& out) {
    out.clear();
    if (!address) return;
    uint64_t slots[8];
    memcpy(slots, (const void*)(uintptr_t)address, sizeof slots);
    out += '{';
    for (int k = 0; k < 8; ++k) {
        if (k) out += ", ";
        if (k < 2) {
            const char* s = (const char*)(uintptr_t)slots[k];
            out += '"';
            if (s) out += s;
            out += '"';
        } else if (k == 3) {
            append(out, "0x%08" PRIX32, (uint32_t)slots[k]);
        } else {
            append(out, "%" PRId32, (int32_t)(uint32_t)slots[k]);
        }
    }
    out += '}';
}

void readTextArguments(const NativeInfo& info, Call& c) {
    for (int k = 0; k < c.argc && info.args[k] != '\0'; ++k) {
        if (info.args[k] == 's') {
            const char* s = (const char*)(uintptr_t)c.args[k];
            if (s)
                c.text[k].assign(s);
            else
                c.text[k].clear();
        } else if (info.args[k] == 'r') {
            readSpeechRecord(c.args[k], c.text[k]);
        }
    }
}

} // namespace detail

} // namespace sim
