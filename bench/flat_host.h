// A script hook for the benchmarks: the nine functions, answering every native
// from a flat table, so that a benchmark of a frame measures the plug-in's own
// work and not a model of the game. It counts what the plug-in asks of it.
#pragma once

#include <cstdint>
#include <cstring>

namespace flat {

// The answer of a native, by hash: up to three 64-bit result slots.
void answer(uint64_t hash, uint64_t slot0, uint64_t slot1 = 0, uint64_t slot2 = 0);
inline void answerFloat(uint64_t hash, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    answer(hash, bits);
}
// Every native answers 0 again.
void clearAnswers();

// What the plug-in asked for since the last reset.
struct Counts {
    uint64_t natives = 0;   // nativeCall
    uint64_t arguments = 0; // nativePush64
    uint64_t globals = 0;   // getGlobalPtr
    uint64_t waits = 0;     // scriptWait
};
const Counts& counts();
void resetCounts();

// The script global the plug-in writes its intensity into.
uint64_t intensityGlobal();

} // namespace flat
