#include "host/script_loop.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "flask/drinking.h"
#include "flask/flask_level.h"
#include "flask/intoxication.h"
#include "hook/native_call.h"
#include "host/tick_update.h"
#include "record/recorder.h"

// MISC::GET_MISSION_FLAG: the script holds while a story mission is under way.
static bool isOutOfPlay() { return NativeCall<int32_t>(0xB15CD1CF58771DE1) != 0; }

void ScriptMain() {
    if (gSettings.recordSession) {
        const char* const texts[SettingsKeys] = {gSettingTexts[0], gSettingTexts[1], gSettingTexts[2],
                                                 gSettingTexts[3], gSettingTexts[4], gSettingTexts[5]};
        recordStart(gSettings.answers, texts);
    }
    loadFlaskLevel();
    if (gSettings.deadeyeLockThreshold != 0) gState.deadeyeLock = true;
    for (;;) {
        if (!isOutOfPlay()) {
            TickUpdate();
            hookWait(0);
            continue;
        }
        // Held: intoxication is reset once on entry, however long the hold lasts. A
        // drink prompt left on screen could neither be used nor hidden (its control
        // is not read while held): it goes with the hold's start.
        ResetIntoxication();
        WithdrawDrinkPrompt();
        while (isOutOfPlay()) hookWait(3000);
        // The pass that leaves the hold ends here; TickUpdate waits for a fresh query.
        hookWait(0);
    }
}
