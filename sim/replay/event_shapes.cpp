// An event's shape decoded (event_shapes.h): the native's arguments and result, the
// wait, the global, the tick reading, the key, the save; each held to the format's
// bounds and, once the host's table is given (checkNativesWith), to the table.
#include "replay/event_shapes.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace rec {

namespace {

const uint32_t MaxRecord = 256;
// The plug-in cuts every text it records at this many bytes.
const uint64_t MaxText = 4096;

// A record's bytes as the recorder wrote them: `size` bytes (string slots zero),
// then, `withTexts`, each string slot's text, appended NUL-terminated.
bool readRecord(Bytes& in, uint32_t size, uint32_t strings, bool withTexts, std::string* out) {
    if (!in.take(size, out)) return false;
    if (!withTexts) return true;
    for (uint32_t slot = 0; slot < 32 && slot * 8 + 8 <= size; ++slot) {
        if (!(strings >> slot & 1)) continue;
        std::string text;
        if (!in.text(&text, MaxText)) return false;
        if (!out) continue;
        *out += text;
        *out += '\0';
    }
    return true;
}

// The host's argument kinds of a native (the native table's letters), nullptr for a
// native it does not know; without them the reader checks only what the format bounds.
const char* (*hostArguments)(uint64_t hash) = nullptr;

// A native's arguments as the host's table has them: a number is never read as an
// address, a record is never written past the out-variable the plug-in passes.
bool matchesHost(const Event& e, const char** problem) {
    if (!hostArguments) return true;
    thread_local char told[200];
    const char* kinds = hostArguments(e.hash);
    if (!kinds) {
        snprintf(told, sizeof told, "native 0x%016" PRIX64 ", which the host does not know", e.hash);
        return *problem = told, false;
    }
    if (strlen(kinds) != (size_t)e.argc) {
        snprintf(told, sizeof told, "native 0x%016" PRIX64 " with %d arguments, where the host's has %zu",
                 e.hash, e.argc, strlen(kinds));
        return *problem = told, false;
    }
    static const char* const KindNames[3] = {"a number", "a string", "a record"};
    for (int k = 0; k < e.argc; ++k) {
        // 's' a string; 'p' a 4-byte out-variable; 'r' the 64-byte speech record
        // whose slots 0 and 1 hold strings; every other letter a number.
        const ArgKind want = kinds[k] == 's'                      ? ArgKind::Text
                             : kinds[k] == 'p' || kinds[k] == 'r' ? ArgKind::Record
                                                                  : ArgKind::Value;
        if (e.argKind[k] != want) {
            snprintf(told, sizeof told, "native 0x%016" PRIX64 ": argument %d is %s, the host's is %s",
                     e.hash, k + 1, KindNames[(int)e.argKind[k]], KindNames[(int)want]);
            return *problem = told, false;
        }
        if (want != ArgKind::Record) continue;
        const uint32_t size = hostRecordSize(kinds[k]), strings = hostRecordStrings(kinds[k]);
        if (e.recordSize[k] != size || e.recordStrings[k] != strings) {
            snprintf(told, sizeof told,
                     "native 0x%016" PRIX64 ": argument %d is a record of %" PRIu32
                     " bytes, the host's of %" PRIu32,
                     e.hash, k + 1, e.recordSize[k], size);
            return *problem = told, false;
        }
    }
    return true;
}

// A native's argument slots, as the plug-in pushed them.
bool argumentsOf(Bytes& in, Event* e, const char** problem) {
    e->argc = in.u8();
    if (e->argc > 12) return *problem = "a native with more than 12 arguments", false;
    for (int k = 0; k < e->argc; ++k) {
        const uint8_t slot = in.u8();
        if (slot > (uint8_t)ArgKind::Record) return *problem = "an argument of an unknown kind", false;
        e->argKind[k] = (ArgKind)slot;
        if (e->argKind[k] == ArgKind::Value) {
            e->args[k] = in.varint();
        } else if (e->argKind[k] == ArgKind::Text) {
            in.text(&e->text[k], MaxText);
        } else {
            const uint64_t size = in.varint();
            const uint64_t strings = in.varint();
            if (size > MaxRecord || strings > 0xFFFFFFFFu)
                return *problem = "a record larger than any the plug-in passes", false;
            e->recordSize[k] = (uint32_t)size;
            e->recordStrings[k] = (uint32_t)strings;
            readRecord(in, (uint32_t)size, (uint32_t)strings, true, &e->before[k]);
            readRecord(in, (uint32_t)size, (uint32_t)strings, false, &e->after[k]);
        }
    }
    return true;
}

// A native's shape past its kind: the hash, the arguments, and the result as the
// plug-in read it (a 4- or 8-byte one is the event's value).
bool nativeOf(Bytes& in, uint64_t value, Event* e, const char** problem) {
    e->hash = in.u64();
    if (!argumentsOf(in, e, problem)) return false;
    if (in.problem) return *problem = in.problem, false;
    if (!matchesHost(*e, problem)) return false;
    const uint8_t result = in.u8();
    if (result > 7) return *problem = "a result of an unknown kind", false;
    static const int bytes[4] = {0, 4, 8, 24};
    e->resultBytes = bytes[result & 3];
    e->nullResult = (result & 4) != 0;
    if (e->resultBytes == 24 && !e->nullResult)
        for (int k = 0; k < 3; ++k) e->result[k] = in.u64();
    if (e->resultBytes == 4 && !e->nullResult) e->result[0] = (uint32_t)value;
    if (e->resultBytes == 8 && !e->nullResult) e->result[0] = value;
    return true;
}

} // namespace

void checkNativesWith(const char* (*argumentKinds)(uint64_t hash)) { hostArguments = argumentKinds; }

bool eventOf(const std::string& shape, uint64_t value, Event* e, const char** problem) {
    Bytes in{(const uint8_t*)shape.data(), (const uint8_t*)shape.data() + shape.size()};
    const uint8_t kind = in.u8();
    if (kind > (uint8_t)EventKind::KeyRead) return *problem = "an event of an unknown kind", false;
    e->kind = (EventKind)kind;
    switch (e->kind) {
    case EventKind::Native:
        if (!nativeOf(in, value, e, problem)) return false;
        break;
    case EventKind::Wait:
        e->waitMs = (uint32_t)in.varint();
        break;
    case EventKind::Resume:
        break;
    case EventKind::Global: {
        e->globalIndex = (int32_t)in.zigzag();
        const uint8_t flags = in.u8();
        if (flags > 1) return *problem = "a global of an unknown kind", false;
        e->globalNull = flags & 1;
        e->globalWritten = !e->globalNull;
        e->globalValue = e->globalNull ? 0 : value;
        break;
    }
    case EventKind::Tick:
        e->tick = (uint32_t)value;
        break;
    case EventKind::Key:
        e->key = (uint32_t)in.varint();
        e->second = (uint16_t)in.varint();
        e->third = in.u8();
        e->fourth = (int32_t)in.zigzag();
        e->fifth = (int32_t)in.zigzag();
        e->sixth = (int32_t)in.zigzag();
        e->seventh = (int32_t)in.zigzag();
        e->tick = (uint32_t)in.varint();
        break;
    case EventKind::Save:
        in.text(&e->save, 64);
        break;
    case EventKind::KeyRead:
        e->key = (uint32_t)in.varint();
        e->tick = (uint32_t)in.varint();
        e->fifth = (int32_t)in.zigzag();
        e->sixth = (int32_t)in.zigzag();
        e->seventh = (int32_t)in.zigzag();
        break;
    }
    if (in.problem) return *problem = in.problem, false;
    if (in.p != in.end) return *problem = "an event with bytes left over", false;
    return true;
}

// Walks one event's shape in a block to find its end, as eventOf reads it; whether
// a value follows it.
bool shapeEnd(Bytes& in, bool* valued) {
    *valued = false;
    const uint8_t kind = in.u8();
    switch (kind) {
    case (uint8_t)EventKind::Native: {
        in.u64();
        const uint8_t argc = in.u8();
        if (argc > 12) return in.fail("a native with more than 12 arguments");
        for (int k = 0; k < argc && !in.problem; ++k) {
            const uint8_t slot = in.u8();
            if (slot == (uint8_t)ArgKind::Value) {
                in.varint();
            } else if (slot == (uint8_t)ArgKind::Text) {
                in.text(nullptr, MaxText);
            } else if (slot == (uint8_t)ArgKind::Record) {
                const uint64_t size = in.varint();
                const uint64_t strings = in.varint();
                if (size > MaxRecord || strings > 0xFFFFFFFFu)
                    return in.fail("a record larger than any the plug-in passes");
                readRecord(in, (uint32_t)size, (uint32_t)strings, true, nullptr);
                readRecord(in, (uint32_t)size, (uint32_t)strings, false, nullptr);
            } else {
                return in.fail("an argument of an unknown kind");
            }
        }
        const uint8_t result = in.u8();
        if (result > 7) return in.fail("a result of an unknown kind");
        if (result == 3) in.take(24, nullptr);
        *valued = result == 1 || result == 2;
        break;
    }
    case (uint8_t)EventKind::Wait:
        in.varint();
        break;
    case (uint8_t)EventKind::Resume:
        break;
    case (uint8_t)EventKind::Global: {
        in.varint();
        const uint8_t flags = in.u8();
        if (flags > 1) return in.fail("a global of an unknown kind");
        *valued = flags == 0;
        break;
    }
    case (uint8_t)EventKind::Tick:
        *valued = true;
        break;
    case (uint8_t)EventKind::Key:
        in.varint();
        in.varint();
        in.u8();
        for (int k = 0; k < 5; ++k) in.varint();
        break;
    case (uint8_t)EventKind::Save:
        in.text(nullptr, 64);
        break;
    case (uint8_t)EventKind::KeyRead:
        for (int k = 0; k < 5; ++k) in.varint();
        break;
    default:
        return in.fail("an event of an unknown kind");
    }
    return !in.problem;
}

} // namespace rec
