// The items of a recording's blocks (docs/recordings.md): the first block's plug-in
// version and settings, and in every later block the items that give the events,
// each foreseen against the frame before and placed in order (event_order.h), into
// the recording, to the caller one at a time, or only counted.
#pragma once

#include "replay/event_order.h"
#include "replay/event_shapes.h"
#include "replay/recording_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rec {

// The events as the blocks give them, frame by frame.
struct Decoder {
    Recording* out;
    const std::function<bool(Event&&)>* onEvent; // nullptr: events go into out->events
    bool scan = false;                           // no events: each is checked and counted, a run at once
    bool stopped = false;                        // onEvent asked for no more
    uint64_t bytesTo = 0;                        // the file's bytes to the end of the block being read
    EventOrder order;
    NativesSeen natives;
    // The shape of each event a repeat may foresee, as the order's slots hold them
    // (not kept when scanning).
    std::string shapes[ForeseenEvents];

    // The most events the file's bytes so far may stand for.
    uint64_t cap() const;
    // One event to the caller; false, with the problem, when it may take no more.
    bool emit(const std::string& shape, uint64_t value, int block, const char** problem);
};

// One block's payload, item by item; false, with the problem in *error ("NAME:
// block N: byte M: ..."), for an item the plug-in cannot have written.
bool readItems(const uint8_t* p, size_t n, int block, Decoder& d, const std::string& name,
               std::string* error);

// The first block: the plug-in's version and the six settings answers.
bool readHeaderBlock(const uint8_t* p, size_t n, Recording* out);

} // namespace rec
