// The six values of the settings file ".\Tolvenmire.ini", read once while the
// library is being loaded, before anything is registered with the script hook.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The keys, in the order they are read.
const int SettingsKeys = 6;

struct Settings {
    int32_t drinkKey;             // "TOLVENMIRE_KEY": virtual-key code of the drink key
    int32_t deadeyeLockThreshold; // "DEADEYE_LOCK_THRESHOLD": deadeye is locked up to this drunkLevel
    bool healWhenDrunk;           // "HEAL_WHEN_DRUNK": healing rates follow intoxication
    int32_t refillPrice;          // "REFILL_PRICE": whole currency units per refill
    int32_t soberUpInterval;      // "SOBER_UP_TIME" x 1.1: game-clock units per unit of sobering
    bool recordSession;           // "RECORD_SESSION": the session is recorded into "Tolvenmire.rec"
    // The six values as GetPrivateProfileIntA answered them, in reading order: a
    // recording keeps them, so that a replay can write a settings file that reads the same.
    uint32_t answers[SettingsKeys];
};

TOLVENMIRE_EXPORT Settings gSettings;

void loadSettings();

// "SOBER_UP_TIME" as read (unsigned) to the interval: single-precision v x 1.1,
// truncated.
int32_t soberUpIntervalFrom(uint32_t value);
