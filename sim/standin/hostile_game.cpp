// The hostile game: answers that a real game, a game update or another mod could
// give, in place of the model's plausible ones, for World::hostileRate of the calls.
// Every draw comes from one generator seeded with World::hostileSeed, so that a seed
// plays the same answers again.
#include "standin/host_internals.h"
#include "standin/native_table.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace sim::detail {

namespace {

// The generator of the hostile answers (splitmix64), seeded at the first draw of a
// session.
struct Hostility {
    uint64_t state = 0;
    bool seeded = false;
    // What the out-variable of the current call held before the model wrote it.
    uint64_t outAddress = 0;
    uint8_t outBefore[8] = {};
    unsigned nextStray = 0;
};
Hostility hostility;

uint64_t next() {
    World& w = host().world;
    if (!hostility.seeded) {
        hostility.seeded = true;
        hostility.state = w.hostileSeed ^ 0x486F7374696C6521ull;
    }
    uint64_t z = (hostility.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
uint32_t below(uint32_t n) { return (uint32_t)(next() % n); }
bool chance(double rate) { return (double)(next() >> 11) * 0x1.0p-53 < rate; }

uint64_t floatSlot(float f) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    return bits;
}

// An integer or a handle: the odd values, another entity's handle, a stale one
// from before a restart (the player's of the session before), or anything.
int32_t hostileInt() {
    const World& w = host().world;
    switch (below(9)) {
    case 0:
        return 0;
    case 1:
        return -1;
    case 2:
        return 1;
    case 3:
        return std::numeric_limits<int32_t>::max();
    case 4:
        return std::numeric_limits<int32_t>::min();
    case 5: {
        if (w.peds.empty()) return w.playerPed;
        auto it = w.peds.begin();
        std::advance(it, below((uint32_t)w.peds.size()));
        return it->first;
    }
    case 6:
        return w.playerPed + 1000;
    case 7:
        return w.prompts.empty() ? 0 : w.prompts.rbegin()->first;
    default:
        return (int32_t)(uint32_t)next();
    }
}

// A hash: another model's, or anything.
uint32_t hostileHash() {
    static const uint32_t models[] = {0x0D7114C9, 0x00B69710, 0xB733CF0F, 0xD31B229F, 0x4CA3FEA4, 0};
    return below(3) == 0 ? (uint32_t)next() : models[below(sizeof models / sizeof models[0])];
}

float hostileFloat() {
    static const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   -0.0f,
                                   std::numeric_limits<float>::denorm_min(),
                                   1e30f,
                                   -1e30f};
    return values[below(sizeof values / sizeof values[0])];
}

// A new prompt takes the handle of the last one deleted, as a game that recycles
// its handles gives it: the world keeps the new prompt under the old handle.
void reuseDeletedHandle(Call& c, UINT64* r) {
    World& w = host().world;
    const int32_t fresh = (int32_t)(uint32_t)r[0];
    int32_t reused = 0;
    int latest = -1;
    for (const auto& [handle, p] : w.prompts) {
        if (!p.alive && p.deletedFrame >= latest) {
            latest = p.deletedFrame;
            reused = handle;
        }
    }
    auto it = w.prompts.find(fresh);
    if (latest < 0 || it == w.prompts.end()) return;
    Prompt p = it->second;
    w.prompts.erase(it);
    p.handle = reused;
    w.prompts[reused] = p;
    r[0] = (uint32_t)reused;
    c.result[0] = r[0];
}

// The out-variable of a call: left as it was, filled with garbage, or written as a
// whole 8-byte script slot holding the handle with its sign.
void hostileOutVariable(uint64_t address) {
    if (!address) return;
    void* out = (void*)(uintptr_t)address;
    int32_t written;
    memcpy(&written, out, sizeof written);
    switch (below(3)) {
    case 0:
        if (address == hostility.outAddress) memcpy(out, hostility.outBefore, 4);
        break;
    case 1: {
        const uint32_t garbage = (uint32_t)next();
        memcpy(out, &garbage, sizeof garbage);
        break;
    }
    default: {
        const int64_t slot = below(2) ? written : hostileInt();
        memcpy(out, &slot, sizeof slot);
        break;
    }
    }
}

} // namespace

void resetHostility() { hostility = Hostility(); }

void hostileBefore(const NativeInfo& info, const Call& c) {
    hostility.outAddress = 0;
    for (int k = 0; k < c.argc && info.args[k]; ++k) {
        if (info.args[k] != 'p' || !c.args[k]) continue;
        hostility.outAddress = c.args[k];
        memcpy(hostility.outBefore, (const void*)(uintptr_t)c.args[k], 4);
    }
}

bool hostileAnswer(const NativeInfo& info, Call& c, UINT64* r) {
    World& w = host().world;
    if (!chance(w.hostileRate)) return true;
    ++w.hostileAnswers;
    // A null result pointer: whatever the native is, the script reads nothing.
    if (below(10) == 0) {
        r[0] = r[1] = r[2] = 0;
        c.result[0] = c.result[1] = c.result[2] = 0;
        return false;
    }
    for (int k = 0; k < c.argc && info.args[k]; ++k)
        if (info.args[k] == 'p') return hostileOutVariable(c.args[k]), true;
    if (c.hash == natives::UiPromptRegisterBegin && below(2) == 0) return reuseDeletedHandle(c, r), true;
    switch (info.result) {
    case 'i':
        r[0] = (uint32_t)hostileInt();
        break;
    case 'u':
        r[0] = hostileHash();
        break;
    case 'f':
        r[0] = floatSlot(hostileFloat());
        break;
    case 'x':
        r[0] = below(2) ? next() : 0;
        break;
    case 'P': {
        const float away = below(2) ? std::numeric_limits<float>::quiet_NaN() : 1e7f;
        for (int k = 0; k < 3; ++k) r[k] = floatSlot(below(3) ? away : hostileFloat());
        break;
    }
    default: // no result: only the pointer to it could be wrong
        --w.hostileAnswers;
        break;
    }
    return true;
}

UINT64* hostileGlobal(UINT64* cell) {
    World& w = host().world;
    if (!chance(w.hostileRate)) return cell;
    ++w.hostileAnswers;
    if (below(3) == 0) return nullptr;
    // A different cell on each call.
    UINT64* stray = &w.strayCells[hostility.nextStray++ % 4];
    return stray;
}

} // namespace sim::detail
