// The single global state record of the plug-in: one instance for the life of the
// library, owned by the script thread. Every field is zero at load except
// flaskLevel (a full flask). Times are game-timer milliseconds (nextSoberUpClock:
// game-clock units); a deadline is due when it is strictly less than the current
// value, compared as signed 32-bit integers.
#pragma once

#include "platform/platform.h"

#include <cstdint>

struct ScriptState {
    int32_t flaskLevel = 99;   // contents of the flask, 99 = full, 0 = empty
    int32_t intakeLevel;       // target intoxication, 0 to 121
    bool drinkPromptActive;    // the "Drink From Flask" prompt exists
    bool refillPromptActive;   // the "Refill Flask" prompt exists
    bool deadeyeLock;          // the two deadeye controls are held off every frame
    bool drinking;             // drinking mode is on
    int32_t playerPed;         // the player character, read at the start of every frame
    int32_t drunkLevel;        // current intoxication, follows intakeLevel one unit a second
    int32_t sipStartTime;      // sips count after this time (start of drinking + 5500)
    int32_t drinkPrompt;       // handle of the drink prompt
    int32_t refillPrompt;      // handle of the refill prompt
    int32_t now;               // game timer read at the start of the frame
    int32_t nextSoberUpClock;  // game-clock value after which the next sobering step is due
    int32_t nextSipTime;       // the next sip is due after this time
    int32_t sipCounter;        // sips since the flask last lost a unit, 0 to 3
    int32_t targetPed;         // the ped the player targets (written by the game)
    int32_t targetPedHigh;     // the upper half of an 8-byte slot the game may write at &targetPed; unread
    bool passedOut;            // the pass-out effect was seen running
    int32_t nextDrunkStepTime; // the next intoxication step is due after this time
    bool drinkPromptDeleted;   // drinkPrompt was deleted and not replaced since
    bool drinkPromptGone;      // ... in an earlier frame: its completion is another prompt's
};

// Exported so that a host can watch the plug-in's state; nothing writes it but
// the plug-in's script.
TOLVENMIRE_EXPORT ScriptState gState;

// Timer and clock arithmetic is 32-bit and wraps explicitly: a deadline near the
// top of the range wraps to a negative value, never to undefined behaviour.
inline int32_t wrapAdd(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }

// A game-timer deadline is due once the timer is past it. The wrapped difference
// is compared, not the two values: the same answer for any deadline within 24 days
// of the timer, and a deadline taken just before the timer passes 2^31 ms (where
// it turns from the largest positive to the most negative value) still falls due.
inline bool isPast(int32_t deadline, int32_t now) {
    return (int32_t)((uint32_t)now - (uint32_t)deadline) > 0;
}
