// The system tick count the plug-in reads through GetTickCount: it advances with
// the frames unless frozen, and tests set it. Read on any thread.
#include "standin/host_internals.h"

#include <atomic>

namespace sim::detail {

namespace {

// Where a session's tick count starts: a machine up for a while, far from the wrap.
const uint32_t StartTicks = 10000000;

std::atomic<uint32_t> ticks{StartTicks};
std::atomic<bool> frozen{false};

} // namespace

void resetTickCount() {
    ticks.store(StartTicks, std::memory_order_relaxed);
    frozen.store(false, std::memory_order_relaxed);
}

void advanceTickCount(uint32_t ms) {
    if (!frozen.load(std::memory_order_relaxed)) ticks.fetch_add(ms, std::memory_order_relaxed);
}

DWORD hostTickCount() {
    // A replay answers the script's readings from the recording.
    if (host().replay) return replayTickCount();
    return ticks.load(std::memory_order_relaxed);
}

} // namespace sim::detail

void sim::setTickCount(uint32_t ms) { detail::ticks.store(ms, std::memory_order_relaxed); }
uint32_t sim::tickCount() { return detail::ticks.load(std::memory_order_relaxed); }
void sim::freezeTickCount(bool on) { detail::frozen.store(on, std::memory_order_relaxed); }
