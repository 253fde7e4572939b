// An event's shape read and checked (event_shapes.h): the native's arguments and
// result, the wait, the global, the tick reading, the key, the save; each held to
// what the plug-in's recorder writes and, once the host's table is given
// (checkNativesWith), to the table. The same walk finds a shape's end in a block
// (without keeping anything) and decodes a kept shape into its event.
#include "replay/event_shapes.h"

#include "standin/native_table.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace rec {

namespace {

const uint32_t MaxRecord = 256;
// The plug-in cuts every text it records at this many bytes.
const uint64_t MaxText = 4096;
// The recorder's largest event: one larger ends a recording rather than going into it.
const size_t MaxShape = 8192;

// The host's argument kinds of a native (the native table's letters), nullptr for a
// native it does not know; without them the reader checks only what the format bounds.
const char* (*hostArguments)(uint64_t hash) = nullptr;

// A number of a field narrower than 64 bits.
uint64_t within(Bytes& in, uint64_t value, uint64_t most) {
    if (value > most) in.fail("a number wider than its field");
    return value;
}
int32_t signed32(Bytes& in) {
    const int64_t v = in.zigzag();
    if (v < INT32_MIN || v > INT32_MAX) in.fail("a number wider than its field");
    return (int32_t)v;
}

// A text as the plug-in records it: at most MaxText bytes (`limit`), up to its NUL.
void readText(Bytes& in, uint64_t limit, std::string* out) {
    const uint64_t n = in.varint();
    if (in.problem) return;
    if (n > limit) return (void)in.fail("a text is too long");
    const uint8_t* start = in.p;
    if (!in.take((size_t)n, out)) return;
    if (memchr(start, 0, (size_t)n))
        in.fail("a text holding a NUL byte (the plug-in records a text up to its NUL)");
}

bool allZero(const uint8_t* p, size_t n) {
    for (size_t k = 0; k < n; ++k)
        if (p[k]) return false;
    return true;
}

// A record's bytes as the recorder wrote them: its bytes as passed with each string
// slot zero, each string slot's text, then its bytes once the native returned, a
// string slot zero there too (it still holds the address passed: the game does not
// change the texts it is given, and a value from a file is never an address).
// `before` gets the bytes as passed and the texts, each ended by a NUL.
void readRecord(Bytes& in, uint32_t size, uint32_t strings, std::string* before, std::string* after) {
    const uint8_t* passed = in.p;
    if (!in.take(size, before)) return;
    for (uint32_t slot = 0; slot * 8 + 8 <= size; ++slot)
        if ((strings >> slot & 1) && !allZero(passed + slot * 8, 8))
            return (void)in.fail("a record's string slot not zero in its bytes as passed");
    for (uint32_t slot = 0; slot * 8 + 8 <= size; ++slot) {
        if (!(strings >> slot & 1)) continue;
        std::string text;
        readText(in, MaxText, before ? &text : nullptr);
        if (in.problem) return;
        if (!before) continue;
        *before += text;
        *before += '\0';
    }
    const uint8_t* returned = in.p;
    if (!in.take(size, after)) return;
    for (uint32_t slot = 0; slot * 8 + 8 <= size; ++slot)
        if ((strings >> slot & 1) && !allZero(returned + slot * 8, 8))
            return (void)in.fail(
                "a record's string slot changed by the call (a value from a file is never an "
                "address)");
}

// A native's arguments as the host's table has them: a number is never read as an
// address, a record is never written past the out-variable the plug-in passes.
const char* hostMismatch(uint64_t hash, int argc, const ArgKind* kind, const uint32_t* size,
                         const uint32_t* strings, NativesSeen* seen) {
    if (!hostArguments) return nullptr;
    thread_local char told[200];
    const char* kinds;
    if (seen) {
        NativesSeen::Entry& cached = seen->entry[(hash ^ hash >> 29) & 63];
        if (!cached.known || cached.hash != hash) cached = {hash, hostArguments(hash), true};
        kinds = cached.kinds;
    } else {
        kinds = hostArguments(hash);
    }
    if (!kinds) {
        snprintf(told, sizeof told, "native 0x%016" PRIX64 ", which the host does not know", hash);
        return told;
    }
    if (strlen(kinds) != (size_t)argc) {
        snprintf(told, sizeof told, "native 0x%016" PRIX64 " with %d arguments, where the host's has %zu",
                 hash, argc, strlen(kinds));
        return told;
    }
    static const char* const KindNames[3] = {"a number", "a string", "a record"};
    for (int k = 0; k < argc; ++k) {
        // 's' a string; 'p' a 4-byte out-variable; 'r' the 64-byte speech record
        // whose slots 0 and 1 hold strings; every other letter a number.
        const ArgKind want = kinds[k] == 's'                      ? ArgKind::Text
                             : kinds[k] == 'p' || kinds[k] == 'r' ? ArgKind::Record
                                                                  : ArgKind::Value;
        if (kind[k] != want) {
            snprintf(told, sizeof told, "native 0x%016" PRIX64 ": argument %d is %s, the host's is %s", hash,
                     k + 1, KindNames[(int)kind[k]], KindNames[(int)want]);
            return told;
        }
        if (want != ArgKind::Record) continue;
        const uint32_t hostSize = hostRecordSize(kinds[k]), hostStrings = hostRecordStrings(kinds[k]);
        if (size[k] != hostSize || strings[k] != hostStrings) {
            snprintf(told, sizeof told,
                     "native 0x%016" PRIX64 ": argument %d is a record of %" PRIu32
                     " bytes, the host's of %" PRIu32,
                     hash, k + 1, size[k], hostSize);
            return told;
        }
    }
    return nullptr;
}

// A native's shape past its kind: the hash, the argument slots as the plug-in
// pushed them, and the result as it read it.
void readNative(Bytes& in, EventTraits* t, Event* e, NativesSeen* seen) {
    const uint64_t hash = in.u64();
    const int argc = in.u8();
    if (argc > 12) return (void)in.fail("a native with more than 12 arguments");
    ArgKind kind[12] = {};
    uint32_t size[12] = {}, strings[12] = {};
    for (int k = 0; k < argc && !in.problem; ++k) {
        const uint8_t slot = in.u8();
        if (slot > (uint8_t)ArgKind::Record) return (void)in.fail("an argument of an unknown kind");
        kind[k] = (ArgKind)slot;
        if (kind[k] == ArgKind::Value) {
            const uint64_t v = in.varint();
            if (e) e->args[k] = v;
        } else if (kind[k] == ArgKind::Text) {
            readText(in, MaxText, e ? &e->text[k] : nullptr);
        } else {
            const uint64_t bytes = in.varint();
            const uint64_t slots = in.varint();
            if (bytes > MaxRecord || slots > 0xFFFFFFFFu)
                return (void)in.fail("a record larger than any the plug-in passes");
            if (slots >> (bytes / 8)) return (void)in.fail("a record's string slot past its end");
            size[k] = (uint32_t)bytes;
            strings[k] = (uint32_t)slots;
            readRecord(in, size[k], strings[k], e ? &e->before[k] : nullptr, e ? &e->after[k] : nullptr);
        }
    }
    if (in.problem) return;
    if (const char* told = hostMismatch(hash, argc, kind, size, strings, seen)) return (void)in.fail(told);
    const uint8_t result = in.u8();
    if (result > 7) return (void)in.fail("a result of an unknown kind");
    static const int ResultBytes[4] = {0, 4, 8, 24};
    const bool null = (result & 4) != 0;
    uint64_t position[3] = {};
    if (result == 3)
        for (uint64_t& p : position) p = in.u64();
    t->valued = result == 1 || result == 2;
    t->narrow = result == 1;
    t->gameTimer = result == 1 && hash == natives::GetGameTimer;
    if (!e) return;
    e->hash = hash;
    e->argc = argc;
    for (int k = 0; k < argc; ++k) {
        e->argKind[k] = kind[k];
        e->recordSize[k] = size[k];
        e->recordStrings[k] = strings[k];
    }
    e->resultBytes = ResultBytes[result & 3];
    e->nullResult = null;
    for (int k = 0; k < 3; ++k) e->result[k] = position[k];
}

} // namespace

void checkNativesWith(const char* (*argumentKinds)(uint64_t hash)) { hostArguments = argumentKinds; }

bool readShape(Bytes& in, uint32_t formatVersion, EventTraits* t, Event* e, NativesSeen* seen) {
    const uint8_t* start = in.p;
    *t = EventTraits();
    const uint8_t kind = in.u8();
    if (in.problem) return false;
    if (kind > (uint8_t)EventKind::KeyRead) return in.fail("an event of an unknown kind");
    t->kind = (EventKind)kind;
    // Each format has its own key event.
    if (t->kind == (formatVersion >= 2 ? EventKind::Key : EventKind::KeyRead))
        return in.fail("a key event of another format version");
    if (e) e->kind = t->kind;
    switch (t->kind) {
    case EventKind::Native:
        readNative(in, t, e, seen);
        break;
    case EventKind::Wait: {
        const uint32_t ms = (uint32_t)within(in, in.varint(), UINT32_MAX);
        if (e) e->waitMs = ms;
        break;
    }
    case EventKind::Resume:
        break;
    case EventKind::Global: {
        const int32_t index = signed32(in);
        const uint8_t flags = in.u8();
        if (flags > 1) return in.fail("a global of an unknown kind");
        t->valued = flags == 0;
        if (!e) break;
        e->globalIndex = index;
        e->globalNull = flags & 1;
        e->globalWritten = !e->globalNull;
        break;
    }
    case EventKind::Tick:
        t->valued = t->narrow = true;
        break;
    case EventKind::Key: {
        const uint32_t key = (uint32_t)within(in, in.varint(), UINT32_MAX);
        const uint16_t second = (uint16_t)within(in, in.varint(), UINT16_MAX);
        const uint8_t third = in.u8();
        const int32_t fourth = signed32(in), fifth = signed32(in), sixth = signed32(in),
                      seventh = signed32(in);
        const uint32_t tick = (uint32_t)within(in, in.varint(), UINT32_MAX);
        if (!e) break;
        e->key = key;
        e->second = second;
        e->third = third;
        e->fourth = fourth;
        e->fifth = fifth;
        e->sixth = sixth;
        e->seventh = seventh;
        e->tick = tick;
        break;
    }
    case EventKind::Save:
        readText(in, 64, e ? &e->save : nullptr);
        break;
    case EventKind::KeyRead:
        t->key = (uint32_t)within(in, in.varint(), UINT32_MAX);
        t->entry.tick = (uint32_t)within(in, in.varint(), UINT32_MAX);
        t->entry.fifth = signed32(in);
        t->entry.sixth = signed32(in);
        t->entry.seventh = signed32(in);
        if (!e) break;
        e->key = t->key;
        e->tick = t->entry.tick;
        e->fifth = t->entry.fifth;
        e->sixth = t->entry.sixth;
        e->seventh = t->entry.seventh;
        break;
    }
    if (!in.problem && (size_t)(in.p - start) > MaxShape) in.fail("an event larger than the plug-in records");
    return !in.problem;
}

bool eventOf(const std::string& shape, uint64_t value, uint32_t formatVersion, Event* e, const char** problem,
             NativesSeen* seen) {
    Bytes in{(const uint8_t*)shape.data(), (const uint8_t*)shape.data() + shape.size()};
    EventTraits t;
    if (!readShape(in, formatVersion, &t, e, seen)) return *problem = in.problem, false;
    if (in.p != in.end) return *problem = "an event with bytes left over", false;
    switch (e->kind) {
    case EventKind::Native:
        if (e->resultBytes == 4 && !e->nullResult) e->result[0] = (uint32_t)value;
        if (e->resultBytes == 8 && !e->nullResult) e->result[0] = value;
        break;
    case EventKind::Global:
        e->globalValue = e->globalNull ? 0 : value;
        break;
    case EventKind::Tick:
        e->tick = (uint32_t)value;
        break;
    default:
        break;
    }
    return true;
}

} // namespace rec
