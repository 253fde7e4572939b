// One event of a recording from the bytes of its shape (docs/recordings.md): what
// the shape and its value stand for, where a shape ends in a block's payload, and
// whether a native's arguments are the kinds the host's table gives them.
#pragma once

#include "replay/payload_bytes.h"
#include "replay/recording_reader.h"

#include <cstdint>
#include <string>

namespace rec {

// The event of a shape (and its value); false, with the problem, for a shape the
// plug-in cannot have written.
bool eventOf(const std::string& shape, uint64_t value, Event* e, const char** problem);

// Walks one event's shape in a block to find its end, as eventOf reads it; whether
// a value follows it.
bool shapeEnd(Bytes& in, bool* valued);

} // namespace rec
