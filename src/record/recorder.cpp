#include "record/recorder.h"

#include "hook/hook_table.h"

#include <cstring>

#ifndef TOLVENMIRE_VERSION
#define TOLVENMIRE_VERSION "0.0.0"
#endif

namespace {

// The file: the magic and the format's version, then blocks. A block is its
// payload's length and CRC-32 (4 bytes each, little-endian), then the payload.
const char Magic[8] = {'T', 'O', 'L', 'V', 'R', 'E', 'C', '\x1a'};
// Version 2: the key table's entry as the key test read it (KindKeyRead), in place
// of version 1's keyboard events as the handler received them (KindKey). Version 3:
// the header also holds the settings' texts as the player wrote them.
const uint32_t FormatVersion = 3;
// The longest setting text recorded: what the plug-in reads of a value.
const int MaxSettingText = 29;

// Items of a block's payload.
enum : uint8_t {
    ItemSame = 0x01,  // varint n: the next n events are the ones foreseen
    ItemStep = 0x02,  // zigzag varint d: the event foreseen, its value off by d
    ItemEvent = 0x10, // an event in full: its shape, then its value if it has one
    ItemSaveOpened = 0x20,
    ItemSaveBytes = 0x21, // varint n, n bytes
    ItemEnd = 0x2F,       // the size cap: nothing follows
};
enum : uint8_t { KindNative, KindWait, KindResume, KindGlobal, KindTick, KindKey, KindSave, KindKeyRead };
enum : uint8_t { SlotValue, SlotText, SlotRecord };

// A block goes out when full, at each out-of-play hold, and otherwise once this
// much time has passed since the last one.
const uint32_t BlockIntervalMs = 2000;
const int BlockCapacity = 32 * 1024;
// Room kept in every block for what ends a recording: a pending run and the end mark.
const int EndReserve = 16;

// What the recorder remembers of a frame, to foresee the next: each event's shape
// (the bytes that must repeat), its value and the step its value last took.
const int FrameEvents = 512;
const int FrameShapeBytes = 16 * 1024;
struct Frame {
    int count;
    int used;
    int offset[FrameEvents];
    int length[FrameEvents];
    uint64_t value[FrameEvents];
    uint64_t step[FrameEvents];
    uint8_t shapes[FrameShapeBytes];
};

struct Slot {
    uint8_t kind;
    uint64_t value;
    uint32_t size, stringSlots; // a record's
};

const int MaxText = 4096;
const int MaxShape = 8192;

// A key table entry, as the recording last gave it.
struct KeyEntry {
    uint32_t tick;
    int32_t fifth, sixth, seventh;
};

struct Recorder {
    bool on;
    bool started;
    PlatformFile file;
    uint32_t fileBytes;
    uint32_t lastBlockTick;
    // The block being filled, after room for its 8-byte head.
    uint8_t block[8 + BlockCapacity];
    int used;
    // For the unload at a process exit, which may find the script thread stopped
    // anywhere: the bytes of the block that hold whole items, and a block's write
    // under way (begun, and perhaps done).
    std::atomic<int> whole;
    std::atomic<bool> writing;
    uint32_t run;
    // The native being made.
    uint64_t hash;
    int argc;
    Slot slots[12];
    // The global cell handed out, whose value is read at the next event.
    bool globalPending;
    int32_t globalIndex;
    UINT64* globalCell;
    Frame frames[2];
    int current; // frames[current] is being filled, the other one foresees it
    uint8_t shape[MaxShape];
    int shapeLength;
    bool shapeOverflow;
    uint32_t crcTable[256];
    // What the replay's key table holds, entry by entry: the entries recorded.
    KeyEntry keys[255];
};
Recorder rec;

// Bytes into the shape being made; an event too large for it ends the recording.
void put8(uint8_t b) {
    if (rec.shapeLength < MaxShape)
        rec.shape[rec.shapeLength++] = b;
    else
        rec.shapeOverflow = true;
}
void putBytes(const void* bytes, int n) {
    if (n > MaxShape - rec.shapeLength) {
        rec.shapeOverflow = true;
        return;
    }
    memcpy(rec.shape + rec.shapeLength, bytes, (size_t)n);
    rec.shapeLength += n;
}
void putVarint(uint64_t v) {
    while (v >= 0x80) {
        put8((uint8_t)(v | 0x80));
        v >>= 7;
    }
    put8((uint8_t)v);
}
uint64_t zigzag(int64_t v) { return ((uint64_t)v << 1) ^ (uint64_t)(v >> 63); }
void putU64(uint64_t v) {
    for (int k = 0; k < 8; ++k) put8((uint8_t)(v >> (8 * k)));
}
void putText(const char* s) {
    const int n = s ? (int)strnlen(s, MaxText) : 0;
    putVarint((uint64_t)n);
    putBytes(s, n);
}

int varintInto(uint8_t* to, uint64_t v) {
    int n = 0;
    while (v >= 0x80) {
        to[n++] = (uint8_t)(v | 0x80);
        v >>= 7;
    }
    to[n++] = (uint8_t)v;
    return n;
}
void putLE32(uint8_t* to, uint32_t v) {
    for (int k = 0; k < 4; ++k) to[k] = (uint8_t)(v >> (8 * k));
}

void makeCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        rec.crcTable[n] = c;
    }
}
uint32_t crc32(const uint8_t* p, int n) {
    uint32_t c = 0xFFFFFFFFu;
    for (int k = 0; k < n; ++k) c = rec.crcTable[(c ^ p[k]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void stop() {
    rec.on = false;
    setHooks(PlainHooks, false);
    if (rec.file != NoFile) platformCloseFile(rec.file);
    rec.file = NoFile;
}

// The block out: its head, its payload. A failed write ends the recording.
void writeBlock() {
    if (!rec.on || rec.used == 0) return;
    putLE32(rec.block, (uint32_t)rec.used);
    putLE32(rec.block + 4, crc32(rec.block + 8, rec.used));
    rec.writing.store(true, std::memory_order_release);
    if (!platformAppendFile(rec.file, rec.block, 8 + rec.used)) {
        stop();
        return;
    }
    rec.fileBytes += 8 + (uint32_t)rec.used;
    rec.used = 0;
    rec.whole.store(0, std::memory_order_release);
    rec.writing.store(false, std::memory_order_release);
    rec.lastBlockTick = GetTickCount();
}

// The block's bytes so far are whole items.
void markWhole() { rec.whole.store(rec.used, std::memory_order_release); }

void appendRaw(const uint8_t* bytes, int n) {
    memcpy(rec.block + 8 + rec.used, bytes, (size_t)n);
    rec.used += n;
}

void flushRun() {
    if (rec.run == 0) return;
    uint8_t item[12];
    item[0] = ItemSame;
    const int n = 1 + varintInto(item + 1, rec.run);
    rec.run = 0;
    appendRaw(item, n); // the room for it is kept by appendItem
    markWhole();
}

// The end mark, the block out, and the recording stops.
void endRecording() {
    flushRun();
    const uint8_t end = ItemEnd;
    appendRaw(&end, 1);
    markWhole();
    writeBlock();
    stop();
}

// One item into the block, whole: up to three pieces. The block goes out first
// when the item does not fit; at the cap the recording ends instead. False when
// the recording is over. (Every block keeps room for a pending run and the end
// mark, so that flushRun and endRecording always fit.)
bool appendItem(const uint8_t* a, int aLength, const uint8_t* b = nullptr, int bLength = 0,
                const uint8_t* c = nullptr, int cLength = 0) {
    if (!rec.on) return false;
    const int n = aLength + bLength + cLength;
    if ((uint64_t)rec.fileBytes + 8 + (uint64_t)rec.used + (uint64_t)n + EndReserve + 8 > RecordingCap ||
        n > BlockCapacity - EndReserve) {
        endRecording();
        return false;
    }
    if (rec.used + n > BlockCapacity - EndReserve) {
        writeBlock();
        if (!rec.on) return false;
    }
    if (aLength) appendRaw(a, aLength);
    if (bLength) appendRaw(b, bLength);
    if (cLength) appendRaw(c, cLength);
    markWhole();
    return true;
}

// The event in rec.shape (with its value) at the next position of the frame:
// foreseen (a run), foreseen but for its value (a step), or in full. Natives with
// a result of 4 or 8 bytes, globals and tick readings have a value; other events
// pass `valued` false and 0.
void commitEvent(bool valued, uint64_t value) {
    if (!rec.on) return;
    if (rec.shapeOverflow) {
        endRecording(); // an event too large to record
        return;
    }
    Frame& cur = rec.frames[rec.current];
    const Frame& prev = rec.frames[rec.current ^ 1];
    const int p = cur.count++;
    const uint8_t* shape = rec.shape;
    const int length = rec.shapeLength;
    uint64_t step = 0;
    if (p < prev.count && p < FrameEvents && prev.length[p] == length &&
        memcmp(prev.shapes + prev.offset[p], shape, (size_t)length) == 0) {
        const uint64_t foreseen = prev.value[p] + prev.step[p];
        step = value - prev.value[p];
        if (value == foreseen) {
            ++rec.run;
        } else {
            uint8_t item[11];
            item[0] = ItemStep;
            const int n = 1 + varintInto(item + 1, zigzag((int64_t)(value - foreseen)));
            flushRun();
            if (!appendItem(item, n)) return;
        }
    } else {
        const uint8_t head = ItemEvent;
        uint8_t tail[10];
        const int tailLength = valued ? varintInto(tail, value) : 0;
        flushRun();
        if (!appendItem(&head, 1, shape, length, tail, tailLength)) return;
    }
    if (p >= FrameEvents) return;
    // Kept to foresee the next frame's event at this position, while there is room.
    if (cur.used + length <= FrameShapeBytes) {
        cur.offset[p] = cur.used;
        cur.length[p] = length;
        memcpy(cur.shapes + cur.used, shape, (size_t)length);
        cur.used += length;
        cur.value[p] = value;
        cur.step[p] = step;
    } else {
        cur.length[p] = -1;
    }
}

void beginShape(uint8_t kind) {
    rec.shapeLength = 0;
    rec.shapeOverflow = false;
    put8(kind);
}

// The global cell handed out before this event: its value is the one the script
// wrote into it right after getGlobalPtr returned.
void settleGlobal() {
    if (!rec.globalPending) return;
    rec.globalPending = false;
    beginShape(KindGlobal);
    putVarint(zigzag(rec.globalIndex));
    put8(rec.globalCell ? 0 : 1);
    commitEvent(rec.globalCell != nullptr, rec.globalCell ? *rec.globalCell : 0);
}

// --- The wrappers the hook pointers take while recording.

void recInit(UINT64 hash) {
    settleGlobal();
    rec.hash = hash;
    rec.argc = 0;
    nativeInit(hash);
}

void addSlot(uint8_t kind, UINT64 value, uint32_t size, uint32_t stringSlots) {
    if (rec.argc < 12) rec.slots[rec.argc++] = {kind, value, size, stringSlots};
}

void recPush(UINT64 value) {
    addSlot(SlotValue, value, 0, 0);
    nativePush64(value);
}
void recPushText(UINT64 address) {
    addSlot(SlotText, address, 0, 0);
    nativePush64(address);
}
void recPushRecord(UINT64 address, uint32_t size, uint32_t stringSlots) {
    addSlot(SlotRecord, address, size, stringSlots);
    nativePush64(address);
}

// A record's bytes, each string slot given as zeros; `texts`: then the strings.
void putRecord(const Slot& s, const uint8_t* bytes, const uint8_t* before, bool texts) {
    for (uint32_t at = 0; at < s.size; at += 8) {
        const uint32_t n = s.size - at < 8 ? s.size - at : 8;
        const bool isString = at / 8 < 32 && (s.stringSlots >> (at / 8) & 1) != 0;
        // After the call a string slot is zeros while it still holds the address passed.
        if (isString && (texts || memcmp(bytes + at, before + at, n) == 0)) {
            for (uint32_t k = 0; k < n; ++k) put8(0);
        } else {
            putBytes(bytes + at, (int)n);
        }
    }
    if (!texts) return;
    for (uint32_t at = 0; at + 8 <= s.size; at += 8) {
        if (at / 8 >= 32 || (s.stringSlots >> (at / 8) & 1) == 0) continue;
        uint64_t address;
        memcpy(&address, bytes + at, 8);
        putText((const char*)(uintptr_t)address);
    }
}

const uint32_t MaxRecordBytes = 256;

// The native made: its result read as `resultCode` says (0 none, 1 four bytes, 2
// eight, 3 a position's 24).
UINT64* recCall(uint8_t resultCode) {
    uint8_t before[12][MaxRecordBytes];
    for (int k = 0; k < rec.argc; ++k) {
        const Slot& s = rec.slots[k];
        if (s.kind == SlotRecord && s.size <= MaxRecordBytes)
            memcpy(before[k], (const void*)(uintptr_t)s.value, s.size);
    }
    UINT64* r = nativeCall();
    if (!rec.on) return r;
    beginShape(KindNative);
    putU64(rec.hash);
    put8((uint8_t)rec.argc);
    for (int k = 0; k < rec.argc; ++k) {
        const Slot& s = rec.slots[k];
        put8(s.kind);
        if (s.kind == SlotValue) {
            putVarint(s.value);
        } else if (s.kind == SlotText) {
            putText((const char*)(uintptr_t)s.value);
        } else if (s.size > MaxRecordBytes) {
            rec.shapeOverflow = true;
        } else {
            putVarint(s.size);
            putVarint(s.stringSlots);
            putRecord(s, before[k], before[k], true);
            putRecord(s, (const uint8_t*)(uintptr_t)s.value, before[k], false);
        }
    }
    put8((uint8_t)(resultCode | (r ? 0 : 4)));
    if (r && resultCode == 3) putBytes(r, 24);
    if (r && resultCode == 1) return commitEvent(true, (uint32_t)r[0]), r;
    if (r && resultCode == 2) return commitEvent(true, r[0]), r;
    commitEvent(false, 0);
    return r;
}
UINT64* recCallVoid() { return recCall(0); }
UINT64* recCall32() { return recCall(1); }
UINT64* recCall64() { return recCall(2); }
UINT64* recCallPosition() { return recCall(3); }

void recWait(DWORD milliseconds) {
    settleGlobal();
    beginShape(KindWait);
    putVarint(milliseconds);
    commitEvent(false, 0);
    // The block goes out before a hold (the game may end in it), and when it is due.
    if (milliseconds != 0 || (uint32_t)(GetTickCount() - rec.lastBlockTick) >= BlockIntervalMs) {
        flushRun();
        writeBlock();
    }
    scriptWait(milliseconds);
    if (!rec.on) return;
    // The resume ends the frame.
    beginShape(KindResume);
    commitEvent(false, 0);
    rec.current ^= 1;
    Frame& next = rec.frames[rec.current];
    next.count = 0;
    next.used = 0;
}

UINT64* recGlobalPtr(int index) {
    settleGlobal();
    UINT64* cell = getGlobalPtr(index);
    rec.globalPending = true;
    rec.globalIndex = index;
    rec.globalCell = cell;
    return cell;
}

DWORD recTickCount() {
    settleGlobal();
    const DWORD tick = GetTickCount();
    beginShape(KindTick);
    commitEvent(true, tick);
    return tick;
}

const HookTable RecordingHooks = {recInit,      recPush,      recPushText,     recCallVoid,
                                  recCall32,    recCall64,    recCallPosition, recWait,
                                  recGlobalPtr, recTickCount, recPushRecord};

void putPlain(uint8_t item, const char* bytes, int size) {
    uint8_t head[11];
    head[0] = item;
    const int n = 1 + varintInto(head + 1, (uint64_t)size);
    flushRun();
    appendItem(head, n, (const uint8_t*)bytes, size);
}

} // namespace

bool recordingOn() { return rec.on; }

void recordFinish() {
    if (!rec.on) return;
    // A block whose write had begun is never written again: it is in the file, whole
    // or torn. Otherwise the block goes out with its whole items only (the script
    // thread, stopped by a process exit, may have left half of one).
    if (!rec.writing.load(std::memory_order_acquire)) {
        rec.used = rec.whole.load(std::memory_order_acquire);
        flushRun();
        writeBlock();
    }
    stop();
}

void recordStart(const uint32_t settingsAnswers[6], const char* const settingsTexts[6]) {
    if (rec.started) return;
    rec.started = true;
    makeCrcTable();
    // Only the session before is kept, once. A recording is never lost: when the
    // earlier one cannot become the previous one (a previous one read-only, or held
    // open by another program), it stays where it is, the new file cannot be
    // created in its place, and this session is not recorded. A read-only previous
    // one is left alone whatever the file system would allow (Windows refuses to
    // replace it; a layer that emulates Windows may not).
    if (!platformReadOnly(PREVIOUS_RECORDING_FILE))
        platformReplaceFile(RECORDING_FILE, PREVIOUS_RECORDING_FILE);
    rec.file = platformCreateNewFile(RECORDING_FILE);
    if (rec.file == NoFile) return;
    rec.on = true;
    rec.lastBlockTick = GetTickCount();
    // The file's head and the first block: the plug-in's version and the settings,
    // their numbers, then their texts.
    uint8_t head[12];
    memcpy(head, Magic, 8);
    putLE32(head + 8, FormatVersion);
    if (!platformAppendFile(rec.file, head, sizeof head)) {
        stop();
        return;
    }
    rec.fileBytes = sizeof head;
    const char* version = TOLVENMIRE_VERSION;
    const int n = (int)strlen(version);
    uint8_t first[64 + 6 * 4 + 6 * (1 + MaxSettingText)];
    int at = varintInto(first, (uint64_t)n);
    memcpy(first + at, version, (size_t)n);
    at += n;
    for (int k = 0; k < 6; ++k, at += 4) putLE32(first + at, settingsAnswers[k]);
    for (int k = 0; k < 6; ++k) {
        const int length = (int)strnlen(settingsTexts[k], MaxSettingText);
        first[at++] = (uint8_t)length;
        memcpy(first + at, settingsTexts[k], (size_t)length);
        at += length;
    }
    appendRaw(first, at);
    markWhole();
    writeBlock();
    if (!rec.on) return;
    setHooks(RecordingHooks, true);
}

void recordSaveOpened() {
    if (!rec.on) return;
    const uint8_t item = ItemSaveOpened;
    flushRun();
    appendItem(&item, 1);
}

void recordSaveBytes(const char* bytes, int size) {
    if (rec.on) putPlain(ItemSaveBytes, bytes, size);
}

void recordSave(const char* text, int size) {
    if (!rec.on) return;
    settleGlobal();
    beginShape(KindSave);
    putVarint((uint64_t)size);
    putBytes(text, size);
    commitEvent(false, 0);
}

void recordKeyRead(int32_t key, uint32_t tick, int32_t fifth, int32_t sixth, int32_t seventh, bool emptied) {
    if (!rec.on || (uint32_t)key >= 255) return;
    KeyEntry& held = rec.keys[key];
    if (held.tick != tick || held.fifth != fifth || held.sixth != sixth || held.seventh != seventh) {
        settleGlobal();
        beginShape(KindKeyRead);
        putVarint((uint32_t)key);
        putVarint(tick);
        putVarint(zigzag(fifth));
        putVarint(zigzag(sixth));
        putVarint(zigzag(seventh));
        commitEvent(false, 0);
    }
    held = emptied ? KeyEntry{0, 0, 0, 0} : KeyEntry{tick, fifth, sixth, seventh};
}
