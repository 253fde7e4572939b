#include "base/settings.h"

Settings gSettings;
char gSettingTexts[SettingsKeys][SettingTextBytes];

void loadSettings() {
    const char* file = ".\\Tolvenmire.ini";
    // Key by key, in this order: the value's text, cut as GetPrivateProfileIntA cuts
    // it ("" for a missing key), and the number GetPrivateProfileIntA makes of it;
    // then what the text stands for. The number of a text that is one is the
    // system's own, exactly as before names were read.
    uint32_t* a = gSettings.answers;
    for (int k = 0; k < SettingsKeys; ++k) {
        const SettingKey& s = SettingKeys[k];
        GetPrivateProfileStringA("SETTINGS", s.key, "", gSettingTexts[k], SettingTextBytes, file);
        const uint32_t number = GetPrivateProfileIntA("SETTINGS", s.key, s.fallback, file);
        a[k] = settingValueOf(k, gSettingTexts[k], number, nullptr);
    }
    gSettings.drinkKey = (int32_t)a[0];
    gSettings.deadeyeLockThreshold = (int32_t)a[1];
    gSettings.healWhenDrunk = a[2] != 0;
    gSettings.refillPrice = (int32_t)a[3];
    gSettings.soberUpInterval = soberUpIntervalFrom(a[4]);
    gSettings.recordSession = a[5] != 0;
}

// The settings are complete before DllMain registers anything.
static const bool settingsLoaded = (loadSettings(), true);
