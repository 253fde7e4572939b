// The last keyboard event of each key code 0 to 254, shared without a lock between
// the script hook's keyboard delivery (onKeyboardEvent) and the script thread
// (consumeKeyTrigger). Each field is a relaxed 32-bit atomic: written and read
// whole, no order between fields promised.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

struct KeyEvent {
    std::atomic<uint32_t> tick;       // GetTickCount when the event was stored
    std::atomic<int32_t> fifthFlag;   // the handler's fifth argument
    std::atomic<int32_t> sixthFlag;   // the handler's sixth argument
    std::atomic<int32_t> seventhFlag; // the handler's seventh argument; non-zero triggers
};

// The handler the script hook calls for every keyboard event: the key code, three
// values not used here, and the fifth, sixth and seventh values that are kept.
void onKeyboardEvent(DWORD key, WORD second, BYTE third, BOOL fourth, BOOL fifth, BOOL sixth, BOOL seventh);

// True when `key`'s last event has a non-zero seventh flag and is less than 100 ms
// old by GetTickCount; the entry is then emptied, so an event triggers once. While
// recording, the entry as read goes into the recording when it is not the one the
// recording last gave for the key.
bool consumeKeyTrigger(int32_t key);
