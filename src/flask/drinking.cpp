#include "flask/drinking.h"

#include "base/keyboard_table.h"
#include "base/script_state.h"
#include "base/settings.h"
#include "flask/flask_level.h"
#include "hook/native_call.h"
#include "hud/core_meters.h"

// The drinking scenario, WORLD_HUMAN_DRINK_FLASK (the game's hash of a name: Jenkins
// one-at-a-time of the name in lower case).
static const uint32_t WorldHumanDrinkFlask = 0x4CA3FEA4;

// The stop controls: moving forward or back, left or right, ends a drink.
// Enumerators, so that they take no storage in the module.
enum : uint32_t { InputMoveUd = 0xFDA83190, InputMoveLr = 0x4D8FB4C1 };

// How long the start of drinking waits for the scenario before giving up.
static const int32_t StartWaitLimitMs = 5000;

static void CreateDrinkPrompt() {
    gState.drinkPrompt = NativeCall<int32_t>(0x04F97DE45A519419); // HUD::_UI_PROMPT_REGISTER_BEGIN
    // HUD::_UI_PROMPT_SET_CONTROL_ACTION: INPUT_INTERACT_OPTION2 operates it.
    NativeCall<void>(0xB5352B7494A08258, gState.drinkPrompt, 0x84543902);
    // MISC::VAR_STRING: the label as the game's text; HUD::_UI_PROMPT_SET_TEXT.
    const uint64_t label = NativeCall<uint64_t>(0xFA925AC00EB830B9, 10, "LITERAL_STRING", "Drink From Flask");
    NativeCall<void>(0x5DD02A8318420DD7, gState.drinkPrompt, Arg64{label});
    NativeCall<void>(0x94073D5CA3F16B7B, gState.drinkPrompt, 1); // HUD::_UI_PROMPT_SET_HOLD_MODE
    NativeCall<void>(0xCA24F528D0D16289, gState.drinkPrompt, 3); // HUD::_UI_PROMPT_SET_PRIORITY
    NativeCall<void>(0xF7AA2696A22AD8B9, gState.drinkPrompt);    // HUD::_UI_PROMPT_REGISTER_END
    NativeCall<void>(0x71215ACCFDE075EE, gState.drinkPrompt, 1); // HUD::_UI_PROMPT_SET_VISIBLE
    NativeCall<void>(0x8A0FB4D03A630D21, gState.drinkPrompt, 1); // HUD::_UI_PROMPT_SET_ENABLED
    gState.drinkPromptActive = true;
    gState.drinkPromptDeleted = false;
    gState.drinkPromptGone = false;
}

static void DeleteDrinkPrompt() {
    NativeCall<void>(0x00EDE88D4D13CF59, gState.drinkPrompt); // HUD::_UI_PROMPT_DELETE
    gState.drinkPromptActive = false;
    gState.drinkPromptDeleted = true;
}

void WithdrawDrinkPrompt() {
    if (gState.drinkPromptActive) DeleteDrinkPrompt();
}

// Each frame in which the three guards pass toggles the prompt.
void UpdateDrinkPrompt() {
    // A prompt deleted before this frame is no longer shown and cannot be completed.
    gState.drinkPromptGone = gState.drinkPromptDeleted;
    // PAD::IS_USING_KEYBOARD_AND_MOUSE: not for a keyboard-and-mouse player.
    if (NativeCall<int32_t>(0xA571D46727E2B718, 0) != 0) return;
    // PAD::IS_CONTROL_JUST_RELEASED of INPUT_OPEN_SATCHEL_MENU: a controller's release.
    if (NativeCall<int32_t>(0x50F940259D3841E6, 0, 0x4CC0E2FE) == 0) return;
    // GRAPHICS::ANIMPOSTFX_IS_RUNNING("WheelHUDIn"): not while a selection wheel is up.
    if (NativeCall<int32_t>(0x4A123E85D7C4CA0B, "WheelHUDIn") != 0) return;
    if (gState.drinking || gState.drinkPromptActive) {
        if (gState.drinkPromptActive) DeleteDrinkPrompt();
        return;
    }
    if (NativeCall<int32_t>(0x01FEE67DB37F59B2, gState.playerPed) != 0) // PED::IS_PED_ON_FOOT
        CreateDrinkPrompt();
}

static void clearPlayerTasks() {
    NativeCall<void>(0xE1EF3C1216AFF2CD, gState.playerPed, 1, 1); // TASK::CLEAR_PED_TASKS: the scenario ends
}

static bool isDrinkScenarioRunning() {
    return NativeCall<int32_t>(0x34D6AC1157C8226C, gState.playerPed, WorldHumanDrinkFlask) !=
           0; // PED::IS_PED_USING_SCENARIO_HASH
}

static void LoadMeterTextures() {
    static const struct {
        const char* name;
        uint32_t hash;
    } dictionaries[] = {
        {"RPG_METER", 0xC5CE55E0},
        {"BLIPS", 0xE5EBC699},
        {"RPG_TEXTURES", 0x63B3DF31},
        {"INVENTORY_ITEMS", 0xDF68C3A6},
    };
    for (const auto& d : dictionaries) {
        if (NativeCall<int32_t>(0xBE72591D1509FFE4, d.hash) == 0) // TXD::HAS_STREAMED_TXD_LOADED
            NativeCall<void>(0xC1BA29DF5631B0F8, d.name, 0); // TXD::REQUEST_STREAMED_TEXTURE_DICT; no wait
    }
}

static void StartDrinking() {
    gState.drinking = true;
    clearPlayerTasks();
    // TASK::TASK_START_SCENARIO_IN_PLACE_HASH: the drinking scenario on the player character.
    NativeCall<void>(0x524B54361229154F, gState.playerPed, WorldHumanDrinkFlask, -1, 1, 1, 0.0f, 1);
    // Wait frame by frame until the game runs it, but not for ever: a scenario that
    // has not started 5 s after the triggering frame never will. A timer reading
    // before the triggering frame's cannot be right (the game's timer does not run
    // back); the wait gives up on it as at its limit, instead of waiting for as long
    // as the timer takes to come back.
    while (!isDrinkScenarioRunning()) {
        const int32_t timer = NativeCall<int32_t>(0x4F67E8ECA7D3F667); // MISC::GET_GAME_TIMER
        if (isPast(wrapAdd(gState.now, StartWaitLimitMs), timer) || isPast(timer, gState.now)) {
            clearPlayerTasks();
            gState.drinking = false;
            return;
        }
        clearPlayerTasks();
        hookWait(0);
    }
    gState.sipStartTime = wrapAdd(gState.now, 5500);
#ifdef TOLVENMIRE_TEST_ONE_SIP_FEWER
    // Only in a build for the written scenarios' tests, a fault: the first sip a frame late.
    gState.nextSipTime = wrapAdd(gState.sipStartTime, 120);
#endif
    LoadMeterTextures();
}

static void StopDrinking() {
    clearPlayerTasks();
    gState.drinking = false;
    saveFlaskLevel();
}

// A stop control reads non-zero; a value that is not a number counts as 0.0.
static bool isStopControlOn(uint32_t control) {
    const float value = NativeCall<float>(0xEC3C9B8D5327B563, 0, control); // PAD::GET_CONTROL_NORMAL
    return value < 0.0f || value > 0.0f;
}

void UpdateDrinking() {
    CoreMeters();
    if (isStopControlOn(InputMoveUd))
        StopDrinking();
    else if (isStopControlOn(InputMoveLr))
        StopDrinking();
    // The sip step runs even when a stop control has just ended drinking.
    if (isPast(gState.sipStartTime, gState.now)) {
        if (gState.flaskLevel < 1 || gState.intakeLevel > 120) {
            StopDrinking();
        } else if (isPast(gState.nextSipTime, gState.now)) {
            gState.nextSipTime = wrapAdd(gState.now, 120);
            gState.intakeLevel += 1;
            gState.sipCounter += 1;
            if (gState.sipCounter == 4) {
                gState.sipCounter = 0;
                gState.flaskLevel -= 1;
            }
        }
    }
}

void CheckDrinkTriggers() {
    // The key is tested first; the prompt's completion only when the key did not
    // trigger, with whatever handle drinkPrompt holds. A completion answered for a
    // prompt deleted in an earlier frame belongs to whatever prompt the game has
    // given the handle to since (the refill prompt, another script's): it starts no
    // drink. One deleted in this frame, or never made (handle 0), still counts.
    const bool triggered =
        consumeKeyTrigger(gSettings.drinkKey) ||
        // HUD::_UI_PROMPT_HAS_HOLD_MODE_COMPLETED: the player completed it.
        (NativeCall<int32_t>(0xE0F65F0640EF0617, gState.drinkPrompt) != 0 && !gState.drinkPromptGone);
    if (triggered) {
        if (gState.drinkPromptActive) DeleteDrinkPrompt();
        // A trigger that finds the player not on foot (PED::IS_PED_ON_FOOT) is spent.
        if (!gState.drinking && NativeCall<int32_t>(0x01FEE67DB37F59B2, gState.playerPed) != 0)
            StartDrinking();
    }
}
