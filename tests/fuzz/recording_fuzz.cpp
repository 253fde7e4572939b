// The session recording's reader on any bytes: it never crashes, and what it
// accepts is consistent: a message names the file, a torn tail leaves the events of
// the whole blocks before it (read again alone, the same events, no torn tail), and
// every event describes itself.
#include "recording.h"

#include "fuzz_check.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name = "fuzz.rec";
    rec::Recording r;
    std::string error;
    if (!rec::parseRecording(data, size, name, &r, &error)) {
        FUZZ_CHECK(error.rfind(name + ": ", 0) == 0, "error \"%s\"", error.c_str());
        return 0;
    }
    FUZZ_CHECK(r.blocks >= 1 && r.formatVersion == 1, "%d blocks, format %u", r.blocks, (unsigned)r.formatVersion);
    for (const rec::Event& e : r.events) {
        FUZZ_CHECK(e.argc >= 0 && e.argc <= 12, "argc %d", e.argc);
        FUZZ_CHECK(e.block >= 1 && e.block < r.blocks, "event of block %d of %d", e.block, r.blocks);
        FUZZ_CHECK(!rec::describeEvent(e).empty(), "an event without a description");
    }
    if (r.tornTail.empty()) return 0;
    FUZZ_CHECK(r.tornTail.rfind(name + ": block ", 0) == 0, "torn tail \"%s\"", r.tornTail.c_str());
    // The whole blocks alone.
    size_t at = 12;
    for (int b = 0; b < r.blocks; ++b) {
        uint32_t length;
        memcpy(&length, data + at, 4);
        at += 8 + length;
    }
    rec::Recording again;
    FUZZ_CHECK(rec::parseRecording(data, at, name, &again, &error), "the whole blocks alone: %s", error.c_str());
    FUZZ_CHECK(again.tornTail.empty() && again.blocks == r.blocks && again.events.size() == r.events.size(),
               "the whole blocks alone read differently");
    return 0;
}
