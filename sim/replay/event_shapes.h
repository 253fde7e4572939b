// One event of a recording from the bytes of its shape (docs/recordings.md): what
// the shape and its value stand for, where a shape ends in a block's payload, and
// whether it is one the plug-in writes: its arguments the kinds the host's table
// gives them, its texts and numbers within what the plug-in records.
#pragma once

#include "replay/event_order.h"
#include "replay/payload_bytes.h"
#include "replay/recording_reader.h"

#include <cstdint>
#include <string>

namespace rec {

// The host's answers about natives (checkNativesWith), kept by one reader: a
// recording asks about the same few natives millions of times.
struct NativesSeen {
    struct Entry {
        uint64_t hash = 0;
        const char* kinds = nullptr;
        bool known = false;
    } entry[64];
};

// Reads one event's shape from `in` and checks it; its traits into *t, and the
// event into *e when given (its value-borne fields are eventOf's). A problem is
// left in `in` (false). `seen`, when given, keeps the host's answers.
bool readShape(Bytes& in, uint32_t formatVersion, EventTraits* t, Event* e, NativesSeen* seen = nullptr);

// The event of a shape already read (and its value).
bool eventOf(const std::string& shape, uint64_t value, uint32_t formatVersion, Event* e, const char** problem,
             NativesSeen* seen = nullptr);

} // namespace rec
