#include "flat_host.h"

#include "hook/script_hook.h"

namespace flat {
namespace {

// Open addressing on the hash's low bits; the plug-in knows a few dozen natives.
const unsigned TableSize = 128;
struct Entry {
    uint64_t hash;
    UINT64 result[3];
};
Entry table[TableSize];
const UINT64 zero[3] = {};

unsigned slotOf(uint64_t hash) {
    unsigned i = (unsigned)(hash ^ (hash >> 32)) % TableSize;
    while (table[i].hash != 0 && table[i].hash != hash) i = (i + 1) % TableSize;
    return i;
}

Counts theCounts;
uint64_t current;
UINT64 result[3];
UINT64 global1935445;

} // namespace

void answer(uint64_t hash, uint64_t slot0, uint64_t slot1, uint64_t slot2) {
    Entry& e = table[slotOf(hash)];
    e.hash = hash;
    e.result[0] = slot0;
    e.result[1] = slot1;
    e.result[2] = slot2;
}

void clearAnswers() {
    for (Entry& e : table) e = Entry{};
}

const Counts& counts() { return theCounts; }
void resetCounts() { theCounts = Counts{}; }
uint64_t intensityGlobal() { return global1935445; }

} // namespace flat

using namespace flat;

void scriptRegister(HINSTANCE, ScriptEntry) {}
void scriptUnregister(HINSTANCE) {}
void keyboardHandlerRegister(KeyboardHandler) {}
void keyboardHandlerUnregister(KeyboardHandler) {}

void nativeInit(UINT64 hash) { current = hash; }

void nativePush64(UINT64) { ++theCounts.arguments; }

UINT64* nativeCall() {
    ++theCounts.natives;
    const Entry& e = table[slotOf(current)];
    const UINT64* from = e.hash == current ? e.result : zero;
    result[0] = from[0];
    result[1] = from[1];
    result[2] = from[2];
    return result;
}

void scriptWait(DWORD) { ++theCounts.waits; }

UINT64* getGlobalPtr(int index) {
    ++theCounts.globals;
    return index == 1935445 ? &global1935445 : nullptr;
}
