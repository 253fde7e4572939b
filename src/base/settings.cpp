#include "base/settings.h"

#include <cstring>

Settings gSettings;

int32_t soberUpIntervalFrom(uint32_t value) {
    float factor;
    const uint32_t factorBits = 0x3F8CCCCD; // 1.1 in single precision
    memcpy(&factor, &factorBits, sizeof factor);
    const float product = (float)value * factor;
    // A product of 2^31 or more (every negative value, read as unsigned, lands
    // here) has no interval; it gets the default's.
    if (!(product < 2147483648.0f)) return 110;
    return (int32_t)product;
}

void loadSettings() {
    const char* file = ".\\Tolvenmire.ini";
    // One read per key, in this order.
    gSettings.drinkKey = (int32_t)GetPrivateProfileIntA("SETTINGS", "TOLVENMIRE_KEY", 79, file);
    gSettings.deadeyeLockThreshold =
        (int32_t)GetPrivateProfileIntA("SETTINGS", "DEADEYE_LOCK_THRESHOLD", 60, file);
    gSettings.healWhenDrunk = GetPrivateProfileIntA("SETTINGS", "HEAL_WHEN_DRUNK", 1, file) != 0;
    gSettings.refillPrice = (int32_t)GetPrivateProfileIntA("SETTINGS", "REFILL_PRICE", 10, file);
    gSettings.soberUpInterval =
        soberUpIntervalFrom(GetPrivateProfileIntA("SETTINGS", "SOBER_UP_TIME", 100, file));
}

// The settings are complete before DllMain registers anything.
static const bool settingsLoaded = (loadSettings(), true);
