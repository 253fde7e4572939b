#include "refill/saloon_check.h"

#include "base/script_state.h"
#include "hook/native_call.h"
#include "refill/refill_transaction.h"

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
    gState.refillPrompt = NativeCall<int32_t>(0x04F97DE45A519419);         // begin a new prompt
    NativeCall<void>(0xB5352B7494A08258, gState.refillPrompt, 0x84543902); // the control that operates it
    const uint64_t label =
        NativeCall<uint64_t>(0xFA925AC00EB830B9, 10, "LITERAL_STRING", "Refill Flask"); // label text
    NativeCall<void>(0x5DD02A8318420DD7, gState.refillPrompt, Arg64{label});            // set the label
    NativeCall<void>(0x94073D5CA3F16B7B, gState.refillPrompt, 1);                       // prompt option 1
    const int32_t group = NativeCall<int32_t>(0xB796970BD125FCE8, bartender); // the bartender's prompt group
    // Offered with the bartender: the group goes in with its sign.
    NativeCall<void>(0x2F11D3A254169EA4, gState.refillPrompt, SignExtended{group}, 0);
    NativeCall<void>(0xCA24F528D0D16289, gState.refillPrompt, 3); // prompt option 3
    NativeCall<void>(0xF7AA2696A22AD8B9, gState.refillPrompt);    // finish the setup
    NativeCall<void>(0x71215ACCFDE075EE, gState.refillPrompt, 1); // prompt option 1
    NativeCall<void>(0x8A0FB4D03A630D21, gState.refillPrompt, 1); // prompt option 1
    gState.refillPromptActive = true;
}

static void withdrawRefillPrompt() {
    if (!gState.refillPromptActive) return;
    NativeCall<void>(0x00EDE88D4D13CF59, gState.refillPrompt); // delete the prompt
    gState.refillPromptActive = false;
}

static void BartenderCheck(const char* bartenderVoice, uint32_t bartenderModel) {
    // The ped the player targets; the game writes its handle into targetPed.
    if (NativeCall<int32_t>(0x3EE1F7A8C32F24E1, 0, &gState.targetPed, 1, 1) == 0)
        return withdrawRefillPrompt();
    if (NativeCall<uint32_t>(0xDA76A9F39210D365, gState.targetPed) != bartenderModel) // model of the target
        return withdrawRefillPrompt();

    const Position player = NativeCall<Position>(0xA86D5F069399F44D, gState.playerPed, 1, 0); // position
    const Position bartender = NativeCall<Position>(0xA86D5F069399F44D, gState.targetPed, 1, 0);
    const float distance = NativeCall<float>(0x2A488C176D52CCA5, player.x, player.y, player.z, bartender.x,
                                             bartender.y, bartender.z); // distance between the points
    // Out of reach (a distance that is not a number among it): the prompt stays as it is.
    if (!(distance < BartenderReach)) return;

    if (!gState.refillPromptActive) CreateRefillPrompt();
    if (NativeCall<int32_t>(0xE0F65F0640EF0617, gState.refillPrompt) == 0) return; // completed?
    NativeCall<void>(0x00EDE88D4D13CF59, gState.refillPrompt);                     // delete the prompt
    gState.refillPromptActive = false;
    RefillTransaction(bartenderVoice);
}

void SaloonCheck() {
    const int32_t interior =
        NativeCall<int32_t>(0xB417689857646F61, gState.playerPed); // the player's interior
    for (const SaloonRow& saloon : SaloonTable) {
        if (saloon.interior == interior) return BartenderCheck(saloon.bartenderVoice, saloon.bartenderModel);
    }
}
