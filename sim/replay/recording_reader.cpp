// The reader of "Tolvenmire.rec" (docs/recordings.md): the file's head, then block
// by block, each checked by its length and CRC-32, each item of its payload decoded
// against the frame before, as the plug-in's recorder encoded it.
#include "replay/recording_reader.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace rec {

namespace {

const uint8_t Magic[8] = {'T', 'O', 'L', 'V', 'R', 'E', 'C', 0x1a};
// Version 2 holds the key table's entry as the key test read it (KeyRead); version 1
// the keyboard events as the handler received them (Key). Both are read.
const uint32_t ReaderVersion = 2;
// Larger than any block the plug-in writes (32 KiB), and a file larger than any it
// writes (64 MiB) with room to spare: beyond these a file is not a recording.
const uint32_t MaxBlock = 1u << 20;
const uint64_t MaxFile = 80ull << 20;
const uint32_t MaxRecord = 256;
// The plug-in cuts every text it records at this many bytes.
const uint64_t MaxText = 4096;
// A file's events per byte, at most, counted to the end of the block being read:
// beyond this a few bytes of runs would stand for hours of work. An idle frame
// repeats the one before and a run covers 2 s of them in a few bytes: ten minutes
// of an idle game at 30 frames a second make some 70 events a byte, at 240 some 520,
// at 1000 some 1,900, a session of play 1 to 4; this leaves room for a game left
// idle at 1000 frames a second, and a small file still reads in well under a second.
const uint64_t MaxEventsPerByte = 2048;
// A run of foreseen events never spans two blocks, and a block goes out every 2 s:
// no game makes this many events in that time.
const uint64_t MaxRun = 100000;
// Events are large (their texts and records); a recording read whole holds no more
// than this many (some 1.5 GB), one read event by event any number.
const size_t MaxHeldEvents = 1000000;

enum : uint8_t {
    ItemSame = 0x01,
    ItemStep = 0x02,
    ItemEvent = 0x10,
    ItemSaveOpened = 0x20,
    ItemSaveBytes = 0x21,
    ItemEnd = 0x2F,
};

uint32_t crcTable[256];
bool crcReady = false;

uint32_t crc32(const uint8_t* p, size_t n) {
    if (!crcReady) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crcTable[i] = c;
        }
        crcReady = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) c = crcTable[(c ^ p[k]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t le32(const uint8_t* p) {
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Reads bytes within [p, end); the first problem is kept, and every read after it
// gives zeros.
struct Bytes {
    const uint8_t* p;
    const uint8_t* end;
    const char* problem = nullptr;

    bool fail(const char* what) {
        if (!problem) problem = what;
        p = end;
        return false;
    }
    uint8_t u8() {
        if (p >= end) return fail("an item is cut short"), 0;
        return *p++;
    }
    uint64_t varint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (p >= end) return fail("an item is cut short"), 0;
            const uint8_t b = *p++;
            if (shift == 63 && b > 1) return fail("a number is too long"), 0;
            v |= (uint64_t)(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        return fail("a number is too long"), 0;
    }
    int64_t zigzag() {
        const uint64_t v = varint();
        return (int64_t)(v >> 1) ^ -(int64_t)(v & 1);
    }
    uint64_t u64() {
        uint64_t v = 0;
        for (int k = 0; k < 8; ++k) v |= (uint64_t)u8() << (8 * k);
        return v;
    }
    bool take(size_t n, std::string* out) {
        if ((size_t)(end - p) < n) return fail("an item is cut short");
        if (out) out->assign((const char*)p, n);
        p += n;
        return true;
    }
    bool text(std::string* out, size_t limit) {
        const uint64_t n = varint();
        if (n > limit) return fail("a text is too long");
        return take((size_t)n, out);
    }
};

// What the reader remembers of each event of the frame before: the bytes of its
// shape, its value and its value's last step.
struct Remembered {
    std::string shape;
    bool valued = false; // a native's 4- or 8-byte result, a global's cell, a tick reading
    uint64_t value = 0;
    uint64_t step = 0;
};

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

// The event of a shape (and its value).
bool eventOf(const std::string& shape, uint64_t value, Event* e, const char** problem) {
    Bytes in{(const uint8_t*)shape.data(), (const uint8_t*)shape.data() + shape.size()};
    const uint8_t kind = in.u8();
    if (kind > (uint8_t)EventKind::KeyRead) return *problem = "an event of an unknown kind", false;
    e->kind = (EventKind)kind;
    switch (e->kind) {
    case EventKind::Native: {
        e->hash = in.u64();
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
        break;
    }
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

struct Decoder {
    Recording* out;
    const std::function<bool(const Event&)>* onEvent; // nullptr: events go into out->events
    bool stopped = false;                             // onEvent asked for no more
    std::vector<Remembered> previous, current;
    uint64_t placed = 0;  // events so far, in either mode
    uint64_t bytesTo = 0; // the file's bytes to the end of the block being read

    // Places one event at the next position of the frame; a resume ends the frame.
    bool place(const Remembered& r, int block, const char** problem) {
        Event e;
        e.block = block;
        if (placed >= MaxEventsPerByte * bytesTo)
            return *problem = "more events than a recording of its size holds (runs that repeat without end)",
                   false;
        if (!eventOf(r.shape, r.value, &e, problem)) return false;
        ++placed;
        current.push_back(r);
        if (e.kind == EventKind::Resume) {
            previous.swap(current);
            current.clear();
        }
        if (onEvent) {
            stopped = !(*onEvent)(e);
            return true;
        }
        if (out->events.size() >= MaxHeldEvents)
            return *problem = "more events than a recording read whole may hold (read it event by event)",
                   false;
        out->events.push_back(std::move(e));
        return true;
    }
};

std::string blockProblem(const std::string& name, int block, size_t at, const char* problem) {
    char b[64];
    snprintf(b, sizeof b, ": block %d: byte %zu: ", block, at);
    return name + b + problem;
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

// One block's payload, item by item.
bool readItems(const uint8_t* p, size_t n, int block, Decoder& d, const std::string& name,
               std::string* error) {
    Bytes in{p, p + n};
    Recording& r = *d.out;
    while (in.p < in.end && !d.stopped) {
        const size_t at = (size_t)(in.p - p);
        if (r.ended) return *error = blockProblem(name, block, at, "bytes after the end mark"), false;
        const uint8_t item = in.u8();
        const char* problem = nullptr;
        switch (item) {
        case ItemSame: {
            const uint64_t count = in.varint();
            if (in.problem) break;
            if (count == 0 || count > MaxRun) {
                problem = count ? "a run of more events than a game makes between two blocks"
                                : "a run of no events";
                break;
            }
            for (uint64_t k = 0; k < count && !problem && !d.stopped; ++k) {
                const size_t pos = d.current.size();
                if (pos >= d.previous.size()) {
                    problem = "a repeat of an event the frame before does not have";
                    break;
                }
                Remembered next = d.previous[pos];
                next.value += next.step;
                d.place(next, block, &problem);
            }
            break;
        }
        case ItemStep: {
            const uint64_t delta = (uint64_t)in.zigzag();
            if (in.problem) break;
            const size_t pos = d.current.size();
            if (pos >= d.previous.size()) {
                problem = "a repeat of an event the frame before does not have";
                break;
            }
            Remembered next = d.previous[pos];
            if (!next.valued) {
                problem = "a new value for an event without one";
                break;
            }
            const uint64_t value = next.value + next.step + delta;
            next.step = value - next.value;
            next.value = value;
            d.place(next, block, &problem);
            break;
        }
        case ItemEvent: {
            const uint8_t* start = in.p;
            Remembered next;
            if (!shapeEnd(in, &next.valued)) break;
            // Each format has its own key event.
            if (*start == (uint8_t)(r.formatVersion >= 2 ? EventKind::Key : EventKind::KeyRead)) {
                problem = "a key event of another format version";
                break;
            }
            next.shape.assign((const char*)start, (size_t)(in.p - start));
            next.value = next.valued ? in.varint() : 0;
            if (in.problem) break;
            d.place(next, block, &problem);
            break;
        }
        case ItemSaveOpened:
            // Before the first event only: after it, the replay is reading the head.
            if (d.placed > 0)
                problem = "the save file opened after the first event";
            else
                r.saveFound = true;
            break;
        case ItemSaveBytes: {
            const uint64_t size = in.varint();
            if (in.problem) break;
            if (!r.saveFound || d.placed > 0) {
                problem = "save file bytes outside the script's start";
                break;
            }
            in.take((size_t)size, nullptr);
            if (!in.problem) r.saveBytes.append((const char*)in.p - size, (size_t)size);
            break;
        }
        case ItemEnd:
            r.ended = true;
            break;
        default:
            problem = "an item of an unknown kind";
            break;
        }
        if (!problem) problem = in.problem;
        if (problem) return *error = blockProblem(name, block, at, problem), false;
    }
    return true;
}

// The first block: the plug-in's version and the six settings answers.
bool readHeaderBlock(const uint8_t* p, size_t n, Recording* out) {
    Bytes in{p, p + n};
    if (!in.text(&out->pluginVersion, 64)) return false;
    for (uint32_t& s : out->settings) {
        s = 0;
        for (int k = 0; k < 4; ++k) s |= (uint32_t)in.u8() << (8 * k);
    }
    return !in.problem && in.p == in.end;
}

} // namespace

namespace {

bool parse(const uint8_t* data, size_t size, const std::string& name, Recording* out,
           const std::function<bool(const Event&)>* onEvent, std::string* error) {
    *out = Recording();
    if (size == 0) return *error = name + ": empty, not a recording", false;
    if (memcmp(data, Magic, size < 8 ? size : 8) != 0)
        return *error = name + ": not a recording (it does not begin as Tolvenmire.rec does)", false;
    if (size < 12) return *error = name + ": the file's head is cut short", false;
    out->formatVersion = le32(data + 8);
    if (out->formatVersion == 0 || out->formatVersion > ReaderVersion) {
        char b[128];
        snprintf(b, sizeof b,
                 ": format version %" PRIu32 ", which this reader (version %" PRIu32 ") does not know",
                 out->formatVersion, ReaderVersion);
        return *error = name + b, false;
    }
    Decoder d{out, onEvent, false, {}, {}};
    size_t at = 12;
    for (int block = 0; at < size; ++block) {
        char b[160];
        const size_t left = size - at;
        if (left < 8) {
            snprintf(b, sizeof b, ": block %d is cut short (%zu of the 8 bytes of its head)", block, left);
            out->tornTail = name + b;
            break;
        }
        const uint32_t length = le32(data + at);
        const uint32_t crc = le32(data + at + 4);
        if (length == 0 || length > MaxBlock) {
            snprintf(b, sizeof b, ": block %d: a length of %" PRIu32 " bytes, which no block has", block,
                     length);
            // A torn head (zeros where the write stopped) ends the recording; one
            // with whole blocks behind it cannot be told from a bad file.
            if (left < (size_t)8 + MaxBlock) {
                out->tornTail = name + b;
                break;
            }
            return *error = name + b, false;
        }
        if (left - 8 < length) {
            snprintf(b, sizeof b, ": block %d is cut short (%zu of its %" PRIu32 " bytes)", block, left - 8,
                     length);
            out->tornTail = name + b;
            break;
        }
        const uint8_t* payload = data + at + 8;
        const bool last = at + 8 + length == size;
        if (crc32(payload, length) != crc) {
            snprintf(b, sizeof b, ": block %d: its checksum fails", block);
            if (last && block > 0) {
                out->tornTail = name + b + " (the last block, torn)";
                break;
            }
            return *error = name + b, false;
        }
        if (block == 0) {
            if (!readHeaderBlock(payload, length, out)) {
                snprintf(b, sizeof b, ": block 0: the plug-in's version and settings do not read");
                return *error = name + b, false;
            }
        } else {
            d.bytesTo = at + 8 + length;
            if (!readItems(payload, length, block, d, name, error)) return false;
        }
        if (d.stopped) break;
        out->blocks = block + 1;
        at += 8 + length;
        if (out->ended && at < size) {
            snprintf(b, sizeof b, ": block %d: blocks after the end mark", block + 1);
            return *error = name + b, false;
        }
    }
    if (out->blocks == 0) {
        *error = out->tornTail.empty() ? name + ": block 0 is missing (the header block)"
                                       : out->tornTail + " (the header block)";
        return false;
    }
    return true;
}

bool read(const std::string& path, Recording* out, const std::function<bool(const Event&)>* onEvent,
          std::string* error) {
    *out = Recording();
#ifdef _WIN32
    struct _stat64 st; // sizes past 2 GiB too
    if (_stat64(path.c_str(), &st) != 0)
        return *error = path + ": cannot be opened: " + strerror(errno), false;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return *error = path + ": cannot be opened: " + strerror(errno), false;
#endif
    if (S_ISDIR(st.st_mode)) return *error = path + ": a folder, not a recording", false;
    if (!S_ISREG(st.st_mode)) return *error = path + ": not a file", false;
    if ((uint64_t)st.st_size > MaxFile) {
        char b[160];
        snprintf(b, sizeof b,
                 ": %" PRIu64 " bytes, more than any recording holds (the plug-in stops at 64 MiB)",
                 (uint64_t)st.st_size);
        return *error = path + b, false;
    }
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return *error = path + ": cannot be opened: " + strerror(errno), false;
    std::string bytes((size_t)st.st_size, '\0');
    const size_t n = bytes.empty() ? 0 : fread(&bytes[0], 1, bytes.size(), f);
    fclose(f);
    if (n != bytes.size()) return *error = path + ": cannot be read whole", false;
    return parse((const uint8_t*)bytes.data(), bytes.size(), path, out, onEvent, error);
}

} // namespace

void checkNativesWith(const char* (*argumentKinds)(uint64_t hash)) { hostArguments = argumentKinds; }

bool parseRecording(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                    std::string* error) {
    return parse(data, size, name, out, nullptr, error);
}

bool parseRecordingEvents(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                          const std::function<bool(const Event&)>& onEvent, std::string* error) {
    return parse(data, size, name, out, &onEvent, error);
}

bool readRecording(const std::string& path, Recording* out, std::string* error) {
    return read(path, out, nullptr, error);
}

bool readRecordingEvents(const std::string& path, Recording* out,
                         const std::function<bool(const Event&)>& onEvent, std::string* error) {
    return read(path, out, &onEvent, error);
}

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

void appendQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            append(out, "\\%c", c);
        else if (c < 0x20 || c >= 0x7F)
            append(out, "\\x%02X", c);
        else
            out += (char)c;
    }
    out += '"';
}

} // namespace

std::string describeEvent(const Event& e) { return describeEvent(e, nullptr); }

std::string describeEvent(const Event& e, const char* (*nativeName)(uint64_t)) {
    std::string out;
    switch (e.kind) {
    case EventKind::Native: {
        const char* name = nativeName ? nativeName(e.hash) : nullptr;
        append(out, "native 0x%016" PRIX64 " %s(", e.hash, name ? name : "");
        for (int k = 0; k < e.argc; ++k) {
            if (k) out += ", ";
            if (e.argKind[k] == ArgKind::Value) {
                append(out, e.args[k] < 0x10000 ? "%" PRIu64 : "0x%" PRIX64, e.args[k]);
            } else if (e.argKind[k] == ArgKind::Text) {
                appendQuoted(out, e.text[k]);
            } else {
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
        }
        out += ')';
        if (e.nullResult) {
            out += " -> null";
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
        break;
    }
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
