#include "base/settings.h"

Settings gSettings;
char gSettingTexts[SettingsKeys][SettingTextBytes];

void loadSettings() {
    const char* file = ".\\Tolvenmire.ini";
    // One read per key, in this order: the value's text, cut as GetPrivateProfileIntA
    // cuts it ("" for a missing key), then what it stands for.
    uint32_t* a = gSettings.answers;
    for (int k = 0; k < SettingsKeys; ++k) {
        GetPrivateProfileStringA("SETTINGS", SettingKeys[k].key, "", gSettingTexts[k], SettingTextBytes,
                                 file);
        a[k] = settingValueOf(k, gSettingTexts[k], nullptr);
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
