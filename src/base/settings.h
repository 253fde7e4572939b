// The five values of the settings file ".\Tolvenmire.ini", read once while the
// library is being loaded, before anything is registered with the script hook.
#pragma once

#include "platform/platform.h"

#include <cstdint>

struct Settings {
    int32_t drinkKey;             // "TOLVENMIRE_KEY": virtual-key code of the drink key
    int32_t deadeyeLockThreshold; // "DEADEYE_LOCK_THRESHOLD": deadeye is locked up to this drunkLevel
    bool healWhenDrunk;           // "HEAL_WHEN_DRUNK": healing rates follow intoxication
    int32_t refillPrice;          // "REFILL_PRICE": whole currency units per refill
    int32_t soberUpInterval;      // "SOBER_UP_TIME" x 1.1: game-clock units per unit of sobering
};

TOLVENMIRE_EXPORT Settings gSettings;

void loadSettings();

// "SOBER_UP_TIME" as read (unsigned) to the interval: single-precision v x 1.1,
// truncated.
int32_t soberUpIntervalFrom(uint32_t value);
