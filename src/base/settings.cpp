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
    uint32_t* a = gSettings.answers;
    a[0] = GetPrivateProfileIntA("SETTINGS", "TOLVENMIRE_KEY", 79, file);
    a[1] = GetPrivateProfileIntA("SETTINGS", "DEADEYE_LOCK_THRESHOLD", 60, file);
    a[2] = GetPrivateProfileIntA("SETTINGS", "HEAL_WHEN_DRUNK", 1, file);
    a[3] = GetPrivateProfileIntA("SETTINGS", "REFILL_PRICE", 10, file);
    a[4] = GetPrivateProfileIntA("SETTINGS", "SOBER_UP_TIME", 100, file);
    a[5] = GetPrivateProfileIntA("SETTINGS", "RECORD_SESSION", 0, file);
    gSettings.drinkKey = (int32_t)a[0];
    gSettings.deadeyeLockThreshold = (int32_t)a[1];
    gSettings.healWhenDrunk = a[2] != 0;
    gSettings.refillPrice = (int32_t)a[3];
    gSettings.soberUpInterval = soberUpIntervalFrom(a[4]);
    gSettings.recordSession = a[5] != 0;
}

// The settings are complete before DllMain registers anything.
static const bool settingsLoaded = (loadSettings(), true);
