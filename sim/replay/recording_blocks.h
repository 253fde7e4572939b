// A recording's head and blocks read from wherever its bytes are (a file read block
// by block, or bytes in memory): recording_blocks.cpp, for the reader's entry points
// (recording_reader.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rec {

struct Event;
struct Recording;

// Where the reader takes a recording's bytes from: `size` of them, and the `n` at
// an offset (valid until the next read), or nullptr when they cannot be read (a
// file that shrank meanwhile).
struct ByteSource {
    uint64_t size = 0;
    std::function<const uint8_t*(uint64_t offset, size_t n)> read;
};

// The largest file a recording can be: the plug-in's size cap. A larger one is no
// recording, and is not read.
const uint64_t MaxRecordingFile = 64ull << 20;

// A recording's head and blocks, its events to `onEvent` (into out->events when
// nullptr), or only checked and counted (`scan`).
bool parseSource(const ByteSource& source, const std::string& name, Recording* out,
                 const std::function<bool(Event&&)>* onEvent, bool scan, std::string* error);
// "NAME: N bytes, more than any recording holds ...".
std::string tooLarge(const std::string& name, uint64_t size);

} // namespace rec
