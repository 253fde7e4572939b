#include "base/keyboard_table.h"

#include "hook/hook_table.h"
#include "record/recorder.h"

static KeyEvent KeyStateTable[255];

static_assert(std::atomic<uint32_t>::is_always_lock_free, "key events must not take a lock");

// Arguments 2 to 4 are not used; 5, 6 and 7 are kept as they come. A recording takes
// the entry where the script reads it (consumeKeyTrigger), not here: the handler
// runs on the game's keyboard thread at any moment, and does nothing but store.
void onKeyboardEvent(DWORD key, WORD, BYTE, BOOL, BOOL fifth, BOOL sixth, BOOL seventh) {
    if (key >= 255) return;
    KeyEvent& e = KeyStateTable[key];
    e.tick.store(GetTickCount(), std::memory_order_relaxed);
    e.fifthFlag.store(fifth, std::memory_order_relaxed);
    e.sixthFlag.store(sixth, std::memory_order_relaxed);
    e.seventhFlag.store(seventh, std::memory_order_relaxed);
}

// An entry whose seventh flag is non-zero and whose event is less than 100 ms old
// at `now`; the age is taken modulo 2^32, so the window holds across the wrap of
// the tick count.
static bool fires(uint32_t now, uint32_t tick, int32_t seventh) { return seventh != 0 && now - tick < 100; }

static void empty(KeyEvent& e) {
    e.tick.store(0, std::memory_order_relaxed);
    e.fifthFlag.store(0, std::memory_order_relaxed);
    e.sixthFlag.store(0, std::memory_order_relaxed);
    e.seventhFlag.store(0, std::memory_order_relaxed);
}

// The key test while recording, out of the frame's way: the entry as read goes to
// the recorder with what the test made of it.
[[gnu::noinline, gnu::cold]] static bool consumeRecorded(int32_t key, KeyEvent& e, uint32_t now,
                                                         uint32_t tick, int32_t seventh) {
    const int32_t fifth = e.fifthFlag.load(std::memory_order_relaxed);
    const int32_t sixth = e.sixthFlag.load(std::memory_order_relaxed);
    const bool triggered = fires(now, tick, seventh);
    if (triggered) empty(e);
    recordKeyRead(key, tick, fifth, sixth, seventh, triggered);
    return triggered;
}

bool consumeKeyTrigger(int32_t key) {
    if ((uint32_t)key >= 255) return false;
    const uint32_t now = hookTickCount();
    KeyEvent& e = KeyStateTable[key];
    // Each field is read once, after the tick reading: the test decides on these
    // values, and a recording keeps exactly these, whatever the keyboard thread
    // stores before or after.
    const uint32_t tick = e.tick.load(std::memory_order_relaxed);
    const int32_t seventh = e.seventhFlag.load(std::memory_order_relaxed);
    if (recordingOn()) return consumeRecorded(key, e, now, tick, seventh);
    if (!fires(now, tick, seventh)) return false;
    empty(e);
    return true;
}
