// A recording's events as lines of text (describeEvent, recording_reader.h), for
// `tolvenmire-sim --dump`: each native by the game's name with its arguments and its
// result as the plug-in read them, the game's hashes by their names, records in hex
// with their strings' texts, and every other event in a word or two.
#include "replay/recording_reader.h"
#include "standin/game_hashes.h"
#include "standin/printable_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace rec {

namespace {

void append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string& out, const char* format, ...) {
    char b[256];
    va_list args;
    va_start(args, format);
    vsnprintf(b, sizeof b, format, args);
    va_end(args);
    out += b;
}

void appendHex(std::string& out, const std::string& bytes) {
    for (unsigned char c : bytes) append(out, "%02X", c);
}

// A text of the recording between quotes, every byte that could act on a terminal
// escaped (a recording is anyone's).
void appendQuoted(std::string& out, const std::string& text) {
    out += '"' + sim::printable(text, true) + '"';
}

// A record argument: its size, its bytes as passed, its string slots' texts, and
// its bytes after the call when the game changed them.
void appendRecord(std::string& out, const Event& e, int k) {
    append(out, "record[%" PRIu32 "] ", e.recordSize[k]);
    const std::string& b = e.before[k];
    const size_t size = e.recordSize[k] < b.size() ? e.recordSize[k] : b.size();
    appendHex(out, b.substr(0, size));
    // The string slots' texts follow the bytes, each ending with a NUL.
    for (size_t from = size; from < b.size();) {
        size_t to = b.find('\0', from);
        if (to == std::string::npos) to = b.size();
        out += ' ';
        appendQuoted(out, b.substr(from, to - from));
        from = to + 1;
    }
    if (e.after[k] != b.substr(0, size)) {
        out += " -> ";
        appendHex(out, e.after[k]);
    }
}

// The game's constant a value stands for, where the native takes a hash there (its
// kind is 'u') and the game's constants have it; nullptr otherwise.
const hashes::Constant* constantOf(uint64_t value, char kind) {
    return kind == 'u' && value <= UINT32_MAX ? hashes::find((uint32_t)value) : nullptr;
}

// A native: its hash and name, its arguments, and its result.
void appendNative(std::string& out, const Event& e, const natives::Native* (*findNative)(uint64_t)) {
    const natives::Native* native = findNative ? findNative(e.hash) : nullptr;
    append(out, "native 0x%016" PRIX64 " %s(", e.hash, native ? natives::fullName(*native).c_str() : "");
    const size_t known = native ? strlen(native->args) : 0;
    for (int k = 0; k < e.argc; ++k) {
        if (k) out += ", ";
        const hashes::Constant* constant = constantOf(e.args[k], (size_t)k < known ? native->args[k] : 'x');
        if (e.argKind[k] == ArgKind::Value && constant)
            out += constant->name;
        else if (e.argKind[k] == ArgKind::Value)
            append(out, e.args[k] < 0x10000 ? "%" PRIu64 : "0x%" PRIX64, e.args[k]);
        else if (e.argKind[k] == ArgKind::Text)
            appendQuoted(out, e.text[k]);
        else
            appendRecord(out, e, k);
    }
    out += ')';
    const hashes::Constant* named = native ? constantOf((uint32_t)e.result[0], native->result) : nullptr;
    if (e.nullResult) {
        out += " -> null";
    } else if (e.resultBytes == 4 && named) {
        append(out, " -> %s (0x%08" PRIX32 ")", named->name, (uint32_t)e.result[0]);
    } else if (e.resultBytes == 4) {
        append(out, " -> %" PRId32 " (0x%08" PRIX32 ")", (int32_t)(uint32_t)e.result[0],
               (uint32_t)e.result[0]);
    } else if (e.resultBytes == 8) {
        append(out, " -> 0x%016" PRIX64, e.result[0]);
    } else if (e.resultBytes == 24) {
        float f[3];
        for (int k = 0; k < 3; ++k) {
            const uint32_t bits = (uint32_t)e.result[k];
            memcpy(&f[k], &bits, sizeof bits);
        }
        append(out, " -> (%g, %g, %g)", (double)f[0], (double)f[1], (double)f[2]);
    }
}

} // namespace

std::string describeEvent(const Event& e) { return describeEvent(e, nullptr); }

std::string describeEvent(const Event& e, const natives::Native* (*findNative)(uint64_t)) {
    std::string out;
    switch (e.kind) {
    case EventKind::Native:
        appendNative(out, e, findNative);
        break;
    case EventKind::Wait:
        append(out, "wait %" PRIu32, e.waitMs);
        break;
    case EventKind::Resume:
        out += "resume";
        break;
    case EventKind::Global:
        append(out, "global %" PRId32, e.globalIndex);
        if (e.globalNull)
            out += " null";
        else
            append(out, " = 0x%016" PRIX64, e.globalValue);
        break;
    case EventKind::Tick:
        append(out, "tick %" PRIu32, e.tick);
        break;
    case EventKind::Key:
        append(out, "key %" PRIu32 " %u %u %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 " tick %" PRIu32,
               e.key, (unsigned)e.second, (unsigned)e.third, e.fourth, e.fifth, e.sixth, e.seventh, e.tick);
        break;
    case EventKind::Save:
        out += "save ";
        appendQuoted(out, e.save);
        break;
    case EventKind::KeyRead:
        append(out, "key %" PRIu32 " read %" PRId32 " %" PRId32 " %" PRId32 " tick %" PRIu32, e.key, e.fifth,
               e.sixth, e.seventh, e.tick);
        break;
    }
    return out;
}

} // namespace rec
