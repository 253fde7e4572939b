#include "refill/saloon_check.h"

#include "base/script_state.h"
#include "hook/native_call.h"
#include "refill/refill_transaction.h"

// Each saloon's interior, its bartender's voice, and his model's hash: the game's hash
// of the model's name, which the voice names behind its number.
const SaloonRow SaloonTable[8] = {
    {5634, "1087_U_M_M_TUMBARTENDER_01", 0xD31B229F},  {21250, "0475_U_M_M_VALBARTENDER_01", 0xB733CF0F},
    {37378, "0312_U_M_M_NBXBARTENDER_02", 0x0D1298F7}, {39426, "1038_U_F_M_VHTBARTENDER_01", 0x3E471440},
    {41218, "0080_U_M_O_BLWBARTENDER_01", 0x8E81C857}, {53762, "0311_U_M_M_NBXBARTENDER_01", 0x1EE53C9C},
    {54274, "0397_U_M_M_RHDBARTENDER_01", 0x23DA7E9F}, {56834, "1077_U_M_O_ARMBARTENDER_01", 0xDD6D1B34},
};

// The bartender is served from closer than this, in world units.
static const float BartenderReach = 5.0f;

static void CreateRefillPrompt() {
    const int32_t bartender = gState.targetPed;
    gState.refillPrompt = NativeCall<int32_t>(0x04F97DE45A519419); // HUD::_UI_PROMPT_REGISTER_BEGIN
    // HUD::_UI_PROMPT_SET_CONTROL_ACTION: INPUT_INTERACT_OPTION2 operates it.
    NativeCall<void>(0xB5352B7494A08258, gState.refillPrompt, 0x84543902);
    // MISC::VAR_STRING: the label as the game's text; HUD::_UI_PROMPT_SET_TEXT.
    const uint64_t label = NativeCall<uint64_t>(0xFA925AC00EB830B9, 10, "LITERAL_STRING", "Refill Flask");
    NativeCall<void>(0x5DD02A8318420DD7, gState.refillPrompt, Arg64{label});
    NativeCall<void>(0x94073D5CA3F16B7B, gState.refillPrompt, 1); // HUD::_UI_PROMPT_SET_HOLD_MODE
    // HUD::_UI_PROMPT_GET_GROUP_ID_FOR_TARGET_ENTITY: the bartender's prompt group.
    const int32_t group = NativeCall<int32_t>(0xB796970BD125FCE8, bartender);
    // HUD::_UI_PROMPT_SET_GROUP: offered with the bartender; the group goes in with its sign.
    NativeCall<void>(0x2F11D3A254169EA4, gState.refillPrompt, SignExtended{group}, 0);
    NativeCall<void>(0xCA24F528D0D16289, gState.refillPrompt, 3); // HUD::_UI_PROMPT_SET_PRIORITY
    NativeCall<void>(0xF7AA2696A22AD8B9, gState.refillPrompt);    // HUD::_UI_PROMPT_REGISTER_END
    NativeCall<void>(0x71215ACCFDE075EE, gState.refillPrompt, 1); // HUD::_UI_PROMPT_SET_VISIBLE
    NativeCall<void>(0x8A0FB4D03A630D21, gState.refillPrompt, 1); // HUD::_UI_PROMPT_SET_ENABLED
    gState.refillPromptActive = true;
}

static void withdrawRefillPrompt() {
    if (!gState.refillPromptActive) return;
    NativeCall<void>(0x00EDE88D4D13CF59, gState.refillPrompt); // HUD::_UI_PROMPT_DELETE
    gState.refillPromptActive = false;
}

static void BartenderCheck(const char* bartenderVoice, uint32_t bartenderModel) {
    // PLAYER::GET_PLAYER_INTERACTION_TARGET_ENTITY: the ped the player targets; the
    // game writes its handle into targetPed.
    if (NativeCall<int32_t>(0x3EE1F7A8C32F24E1, 0, &gState.targetPed, 1, 1) == 0)
        return withdrawRefillPrompt();
    // ENTITY::GET_ENTITY_MODEL: the saloon's bartender, and no other.
    if (NativeCall<uint32_t>(0xDA76A9F39210D365, gState.targetPed) != bartenderModel)
        return withdrawRefillPrompt();

    // ENTITY::GET_ENTITY_COORDS of the two, and BUILTIN::VDIST between them.
    const Position player = NativeCall<Position>(0xA86D5F069399F44D, gState.playerPed, 1, 0);
    const Position bartender = NativeCall<Position>(0xA86D5F069399F44D, gState.targetPed, 1, 0);
    const float distance = NativeCall<float>(0x2A488C176D52CCA5, player.x, player.y, player.z, bartender.x,
                                             bartender.y, bartender.z);
    // Out of reach (a distance that is not a number among it): the prompt stays as it is.
    if (!(distance < BartenderReach)) return;

    if (!gState.refillPromptActive) CreateRefillPrompt();
    // HUD::_UI_PROMPT_HAS_HOLD_MODE_COMPLETED: the player completed it; HUD::_UI_PROMPT_DELETE.
    if (NativeCall<int32_t>(0xE0F65F0640EF0617, gState.refillPrompt) == 0) return;
    NativeCall<void>(0x00EDE88D4D13CF59, gState.refillPrompt);
    gState.refillPromptActive = false;
    RefillTransaction(bartenderVoice);
}

void SaloonCheck() {
    const int32_t interior =
        NativeCall<int32_t>(0xB417689857646F61, gState.playerPed); // INTERIOR::GET_INTERIOR_FROM_ENTITY
    for (const SaloonRow& saloon : SaloonTable) {
        if (saloon.interior == interior) return BartenderCheck(saloon.bartenderVoice, saloon.bartenderModel);
    }
}
