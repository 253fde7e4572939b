// The six values of the settings file ".\Tolvenmire.ini", read once while the
// library is being loaded, before anything is registered with the script hook.
#pragma once

#include "base/setting_values.h"
#include "platform/platform.h"

#include <cstdint>

struct Settings {
    int32_t drinkKey;             // "TOLVENMIRE_KEY": virtual-key code of the drink key
    int32_t deadeyeLockThreshold; // "DEADEYE_LOCK_THRESHOLD": deadeye is locked up to this drunkLevel
    bool healWhenDrunk;           // "HEAL_WHEN_DRUNK": healing rates follow intoxication
    int32_t refillPrice;          // "REFILL_PRICE": whole currency units per refill
    int32_t soberUpInterval;      // "SOBER_UP_TIME" x 1.1: game-clock units per unit of sobering
    bool recordSession;           // "RECORD_SESSION": the session is recorded into "Tolvenmire.rec"
    // The six values the file's texts stand for, in reading order, each the number
    // GetPrivateProfileIntA answers for a file that gives it as a number (a key by
    // its name as its code, a switch's word as 1 or 0): a recording keeps them, so
    // that a replay can write a settings file that reads the same.
    uint32_t answers[SettingsKeys];
};

TOLVENMIRE_EXPORT Settings gSettings;

// The texts the player wrote, as read ("" for a missing key): a recording keeps them.
extern char gSettingTexts[SettingsKeys][SettingTextBytes];

void loadSettings();
