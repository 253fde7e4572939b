// A recording's block payloads item by item (recording_items.h): a run of events
// foreseen from the frame before, a foreseen event with a new value, an event in
// full, the save file's bytes, the end mark; each event placed in order
// (event_order.h) within the limits a recording of its size can hold.
#include "replay/recording_items.h"

#include "replay/event_shapes.h"
#include "replay/payload_bytes.h"

#include <cstdio>
#include <utility>

namespace rec {

namespace {

// A file's events per byte, at most, counted to the end of the block being read:
// beyond this a few bytes of runs would stand for hours of work. An idle frame
// repeats the one before and a run covers 2 s of them in a few bytes: ten minutes
// of an idle game at 30 frames a second make some 70 events a byte, at 240 some 520,
// at 1000 some 1,900, a session of play 1 to 4; this leaves room for a game left
// idle at 1000 frames a second.
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

std::string blockProblem(const std::string& name, int block, size_t at, const char* problem) {
    char b[64];
    snprintf(b, sizeof b, ": block %d: byte %zu: ", block, at);
    return name + b + problem;
}

// A `same` item: a run of events foreseen from the frame before, each its value
// plus its step. The item's problem, or nullptr.
const char* readRun(Bytes& in, int block, Decoder& d) {
    const uint64_t count = in.varint();
    if (in.problem) return nullptr;
    if (count == 0 || count > MaxRun)
        return count ? "a run of more events than a game makes between two blocks" : "a run of no events";
    const char* problem = nullptr;
    uint64_t value = 0;
    if (d.scan) {
        d.order.run(count, d.cap(), &value, &problem);
        return problem;
    }
    for (uint64_t k = 0; k < count && !d.stopped; ++k) {
        const uint64_t at = d.order.position();
        if (!d.order.run(1, d.cap(), &value, &problem)) return problem;
        if (!d.emit(d.shapes[at], value, block, &problem)) return problem;
    }
    return nullptr;
}

// A `step` item: one foreseen event whose value steps by another amount.
const char* readStep(Bytes& in, int block, Decoder& d) {
    const uint64_t delta = (uint64_t)in.zigzag();
    if (in.problem) return nullptr;
    const uint64_t at = d.order.position();
    EventTraits traits;
    uint64_t value = 0;
    const char* problem = nullptr;
    if (!d.order.step(delta, d.cap(), &traits, &value, &problem)) return problem;
    if (!d.scan && !d.emit(d.shapes[at], value, block, &problem)) return problem;
    return nullptr;
}

// An `event` item: an event in full, its shape and its value.
const char* readWholeEvent(Bytes& in, int block, Decoder& d) {
    const uint8_t* start = in.p;
    EventTraits traits;
    if (!readShape(in, d.out->formatVersion, &traits, nullptr, &d.natives)) return nullptr;
    const uint8_t* end = in.p;
    const uint64_t value = traits.valued ? in.varint() : 0;
    if (in.problem) return nullptr;
    const uint64_t at = d.order.position();
    const char* problem = nullptr;
    if (!d.order.whole(traits, value, d.cap(), &problem)) return problem;
    if (d.scan) return nullptr;
    std::string shape((const char*)start, (size_t)(end - start));
    if (!d.emit(shape, value, block, &problem)) return problem;
    if (at < (uint64_t)ForeseenEvents) d.shapes[at] = std::move(shape);
    return nullptr;
}

// The save file's bytes as the script read them at its start (kept unless scanning).
const char* readSaveBytes(Bytes& in, Decoder& d) {
    Recording& r = *d.out;
    const uint64_t size = in.varint();
    if (in.problem) return nullptr;
    if (!r.saveFound || d.order.placed > 0) return "save file bytes outside the script's start";
    const uint8_t* bytes = in.p;
    in.take((size_t)size, nullptr);
    if (!in.problem && !d.scan) r.saveBytes.append((const char*)bytes, (size_t)size);
    return nullptr;
}

// One item of any kind; its problem, or nullptr (a problem of the bytes is left in `in`).
const char* readItem(Bytes& in, int block, Decoder& d) {
    Recording& r = *d.out;
    switch (in.u8()) {
    case ItemSame:
        return readRun(in, block, d);
    case ItemStep:
        return readStep(in, block, d);
    case ItemEvent:
        return readWholeEvent(in, block, d);
    case ItemSaveOpened:
        // Before the first event only: after it, the replay is reading the head.
        if (d.order.placed > 0) return "the save file opened after the first event";
        r.saveFound = true;
        return nullptr;
    case ItemSaveBytes:
        return readSaveBytes(in, d);
    case ItemEnd:
        r.ended = true;
        return nullptr;
    default:
        return "an item of an unknown kind";
    }
}

} // namespace

uint64_t Decoder::cap() const { return MaxEventsPerByte * bytesTo; }

bool Decoder::emit(const std::string& shape, uint64_t value, int block, const char** problem) {
    Event e;
    e.block = block;
    if (!eventOf(shape, value, out->formatVersion, &e, problem, &natives)) return false;
    if (onEvent) {
        stopped = !(*onEvent)(std::move(e));
        return true;
    }
    if (out->events.size() >= MaxHeldEvents)
        return *problem = "more events than a recording read whole may hold (read it event by event)", false;
    out->events.push_back(std::move(e));
    return true;
}

bool readItems(const uint8_t* p, size_t n, int block, Decoder& d, const std::string& name,
               std::string* error) {
    Bytes in{p, p + n};
    while (in.p < in.end && !d.stopped) {
        const size_t at = (size_t)(in.p - p);
        if (d.out->ended) return *error = blockProblem(name, block, at, "bytes after the end mark"), false;
        const char* problem = readItem(in, block, d);
        if (!problem) problem = in.problem;
        if (problem) return *error = blockProblem(name, block, at, problem), false;
    }
    return true;
}

// The first block: the plug-in's version and the six settings answers; from format 3
// on, then the six texts the player wrote (at most 29 bytes each, as the plug-in
// reads a value).
bool readHeaderBlock(const uint8_t* p, size_t n, Recording* out) {
    Bytes in{p, p + n};
    if (!in.text(&out->pluginVersion, 64)) return false;
    for (uint32_t& s : out->settings) {
        s = 0;
        for (int k = 0; k < 4; ++k) s |= (uint32_t)in.u8() << (8 * k);
    }
    out->settingTextsKept = out->formatVersion >= 3;
    for (int k = 0; k < 6 && out->settingTextsKept; ++k) in.text(&out->settingTexts[k], 29);
    return !in.problem && in.p == in.end;
}

} // namespace rec
