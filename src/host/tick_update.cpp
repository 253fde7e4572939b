#include "host/tick_update.h"

#include "base/script_state.h"
#include "flask/drinking.h"
#include "flask/intoxication.h"
#include "hook/native_call.h"
#include "refill/saloon_check.h"

void TickUpdate() {
    gState.playerPed = NativeCall<int32_t>(0x096275889B8E0EE0); // PLAYER::PLAYER_PED_ID: the player character
    gState.now = NativeCall<int32_t>(0x4F67E8ECA7D3F667);       // MISC::GET_GAME_TIMER, fixed for the frame
    UpdateDrinkPrompt();
    CheckDrinkTriggers();
    if (gState.drinking) UpdateDrinking();
    UpdateIntoxication();
    SaloonCheck();
#ifdef TOLVENMIRE_TEST_EXTRA_QUERY
    // Only in a build for the written scenarios' tests: a harmless change of the calls,
    // the timer asked again and its answer left unused.
    NativeCall<int32_t>(0x4F67E8ECA7D3F667); // MISC::GET_GAME_TIMER
#endif
}
