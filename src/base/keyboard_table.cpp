#include "base/keyboard_table.h"

#include "base/settings.h"
#include "hook/hook_table.h"
#include "record/recorder.h"

static KeyEvent KeyStateTable[255];

static_assert(std::atomic<uint32_t>::is_always_lock_free, "key events must not take a lock");

// Arguments 2 to 4 are not used (but for a recording); 5, 6 and 7 are kept as they come.
void onKeyboardEvent(DWORD key, WORD second, BYTE third, BOOL fourth, BOOL fifth, BOOL sixth, BOOL seventh) {
    if (key >= 255) return;
    KeyEvent& e = KeyStateTable[key];
    const DWORD tick = GetTickCount();
    e.tick.store(tick, std::memory_order_relaxed);
    e.fifthFlag.store(fifth, std::memory_order_relaxed);
    e.sixthFlag.store(sixth, std::memory_order_relaxed);
    e.seventhFlag.store(seventh, std::memory_order_relaxed);
    // A recording keeps the drink key's events only: no other entry is ever read, and
    // the keys a player types are none of the recording's business.
    if (gRecordingKeys.load(std::memory_order_relaxed) && key == (DWORD)gSettings.drinkKey)
        recordKey(key, second, third, fourth, fifth, sixth, seventh, tick);
}

bool consumeKeyTrigger(int32_t key) {
    if ((uint32_t)key >= 255) return false;
    const uint32_t now = hookTickCount();
    KeyEvent& e = KeyStateTable[key];
    // The age is taken modulo 2^32, so the window holds across the wrap of the
    // tick count.
    const uint32_t age = now - e.tick.load(std::memory_order_relaxed);
    if (e.seventhFlag.load(std::memory_order_relaxed) == 0 || age >= 100) return false;
    e.tick.store(0, std::memory_order_relaxed);
    e.fifthFlag.store(0, std::memory_order_relaxed);
    e.sixthFlag.store(0, std::memory_order_relaxed);
    e.seventhFlag.store(0, std::memory_order_relaxed);
    return true;
}
