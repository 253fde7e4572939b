#include "refill/refill_transaction.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "flask/flask_level.h"
#include "hook/native_call.h"
#include "hud/core_meters.h"

// The record AUDIO::PLAY_PED_AMBIENT_SPEECH_NATIVE reads: eight 8-byte slots, each
// 32-bit value in the low 4 bytes of its slot. Slots 0 and 1 hold the addresses of
// the line's and the voice's names.
struct SpeechRequest {
    UINT64 slots[8];
    static constexpr uint32_t NativeStringSlots = 0x3;
};

// The speech parameter hash other scripts commonly pass; the game's name of it is
// not published.
static const uint32_t SpeechParams = 0x67F3AB43;

// The player's ped models: Arthur's and John's (enumerators: no storage in the module).
enum : uint32_t { PlayerZero = 0x0D7114C9, PlayerThree = 0x00B69710 };

static void speak(int32_t speaker, const char* line, const char* voice) {
    SpeechRequest request;
    request.slots[0] = nativeArg(line);
    request.slots[1] = nativeArg(voice);
    request.slots[2] = nativeArg(-1);
    request.slots[3] = nativeArg(SpeechParams);
    request.slots[4] = nativeArg(-1);
    request.slots[5] = nativeArg(1);
    request.slots[6] = nativeArg(-1);
    request.slots[7] = nativeArg(-1);
    NativeCall<void>(0x8E04FEDD28D42462, speaker, &request); // AUDIO::PLAY_PED_AMBIENT_SPEECH_NATIVE
}

static int32_t gameTimer() { return NativeCall<int32_t>(0x4F67E8ECA7D3F667); } // MISC::GET_GAME_TIMER

// Waits until the game timer is strictly past now + ms, drawing the meters in
// every waiting frame. A reading before the wait's start cannot be right (the
// game's timer does not run back): it ends the wait, which would otherwise hold the
// player's control for as long as the timer takes to come back, hours or days.
static void ServiceWait(int32_t ms) {
    const int32_t start = gameTimer();
    const int32_t deadline = wrapAdd(start, ms);
    for (int32_t timer = gameTimer(); !isPast(deadline, timer) && !isPast(timer, start);
         timer = gameTimer()) {
        CoreMeters();
        hookWait(0);
    }
}

static void setPlayerControl(int32_t on) {
    // PLAYER::SET_PLAYER_CONTROL: 0 takes it away, 1 gives it back.
    NativeCall<void>(0x4D51E59243281D80, 0, on, 0, 0);
}

static const char* playerVoice() {
    // ENTITY::GET_ENTITY_MODEL: Arthur speaks as ARTHUR, John as JOHN_PLAYER.
    const uint32_t model = NativeCall<uint32_t>(0xDA76A9F39210D365, gState.playerPed);
    if (model == PlayerZero) return "ARTHUR";
    if (model == PlayerThree) return "JOHN_PLAYER";
    return "";
}

int32_t refillAmount(int32_t price) {
    const int64_t amount = (int64_t)price * 100;
    if (amount > INT32_MAX) return INT32_MAX;
    if (amount < INT32_MIN) return INT32_MIN;
    return (int32_t)amount;
}

void RefillTransaction(const char* bartenderVoice) {
    const int32_t bartender = gState.targetPed;
    setPlayerControl(0);
    speak(bartender, "CHAT_PREPARE_DRINK", bartenderVoice);
    ServiceWait(1000);
    NativeCall<void>(0x40C719A5E410B9E4, 1500); // CAM::DO_SCREEN_FADE_OUT over 1500 ms
    ServiceWait(1500);
    // MISC::GET_HASH_KEY: the drinking scenario's hash, as the game makes it.
    const uint32_t scenario = NativeCall<uint32_t>(0xFD340785ADF8CFB7, "WORLD_HUMAN_DRINK_FLASK");
    // TASK::TASK_START_SCENARIO_IN_PLACE_HASH: the player character starts it.
    NativeCall<void>(0x524B54361229154F, gState.playerPed, scenario, 10, 0, Arg64{0}, 0.0f, 0);
    gState.flaskLevel = 99;
    saveFlaskLevel();
    ServiceWait(1000);
    NativeCall<void>(0x6A053CF596F67DF7, 1500); // CAM::DO_SCREEN_FADE_IN over 1500 ms
    ServiceWait(1000);
    setPlayerControl(1);
#if defined(TOLVENMIRE_TEST_CHANGED_BEHAVIOUR)
    // Only in a build for the replay's tests: one unit more, so that one call changes.
    NativeCall<void>(0x466BC8769CF26A7A, refillAmount(gSettings.refillPrice + 1));
#elif defined(TOLVENMIRE_TEST_CHARGE_IN_DOLLARS)
    // Only in a build for the written scenarios' tests, a fault: the price in dollars.
    NativeCall<void>(0x466BC8769CF26A7A, gSettings.refillPrice); // MONEY::_MONEY_DECREMENT_CASH_BALANCE
#else
    // MONEY::_MONEY_DECREMENT_CASH_BALANCE: the price, in cents, from the player's cash.
    NativeCall<void>(0x466BC8769CF26A7A, refillAmount(gSettings.refillPrice));
#endif
    ServiceWait(1000);
    if (gState.drunkLevel < 25) speak(gState.playerPed, "PLAYER_SHOP_THANKS_NEUTRAL", playerVoice());
    ServiceWait(2000);
}
