// The items of a recording's blocks (docs/recordings.md): the first block's plug-in
// version and settings, and in every later block the items that give the events,
// each foreseen against the frame before and placed in order, into the recording or
// to the caller one at a time.
#pragma once

#include "replay/recording_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rec {

// What the reader remembers of each event of the frame before: the bytes of its
// shape, its value and its value's last step.
struct Remembered {
    std::string shape;
    bool valued = false; // a native's 4- or 8-byte result, a global's cell, a tick reading
    uint64_t value = 0;
    uint64_t step = 0;
};

// The events as the blocks give them, frame by frame.
struct Decoder {
    Recording* out;
    const std::function<bool(const Event&)>* onEvent; // nullptr: events go into out->events
    bool stopped = false;                             // onEvent asked for no more
    std::vector<Remembered> previous, current;
    uint64_t placed = 0;  // events so far, in either mode
    uint64_t bytesTo = 0; // the file's bytes to the end of the block being read

    // Places one event at the next position of the frame; a resume ends the frame.
    bool place(const Remembered& r, int block, const char** problem);
};

// One block's payload, item by item; false, with the problem in *error ("NAME:
// block N: byte M: ..."), for an item the plug-in cannot have written.
bool readItems(const uint8_t* p, size_t n, int block, Decoder& d, const std::string& name,
               std::string* error);

// The first block: the plug-in's version and the six settings answers.
bool readHeaderBlock(const uint8_t* p, size_t n, Recording* out);

} // namespace rec
