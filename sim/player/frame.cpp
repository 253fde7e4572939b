// What a frame's calls show (frame.h): the natives the player watches, by role.
#include "player/frame.h"
#include "standin/native_table.h"

namespace player {

void noteCall(const sim::Call& c, FrameCalls& seen) {
    if (c.kind != sim::CallKind::Native) return;
    const uint64_t before = seen.lastNative;
    seen.lastNative = c.hash;
    switch (c.hash) {
    case natives::GetMissionFlag:
        if (c.resultInt() != 0) seen.heldQuery = true;
        seen.missionLast = c.resultInt() != 0 ? 1 : 0;
        break;
    case natives::TaskStartScenarioInPlaceHash:
        // A drink's start asks for the scenario with no time limit (-1); the service's
        // with 10, right before it saves the flask.
        (c.i32(2) == -1 ? seen.drinkStart : seen.refillSave) = true;
        break;
    case natives::IsPedUsingScenarioHash:
        if (c.resultInt() != 0) seen.scenarioUsing = true;
        break;
    case natives::UiPromptDelete:
        // The drink prompt's control deletes it right after the selection wheel's test.
        if (before == natives::AnimpostfxIsRunning) seen.promptToggled = true;
        break;
    case natives::PlayerPedId:
        seen.tick = true;
        break;
    case natives::UiPromptHasHoldModeCompleted:
        if (c.resultInt() != 0) seen.completed.push_back(c.i32(0));
        break;
    case natives::GetControlNormal: {
        const float v = c.resultFloat();
        if (v < 0.0f || v > 0.0f) seen.stopRead = true;
        break;
    }
    case natives::SetPlayerControl:
        (c.i32(1) == 0 ? seen.controlTaken : seen.controlBack) = true;
        break;
    case natives::DoScreenFadeOut:
        seen.fadeOut = true;
        break;
    case natives::DoScreenFadeIn:
        seen.fadeIn = true;
        break;
    case natives::MoneyDecrementCashBalance:
        seen.charges.push_back(c.i32(0));
        break;
    case natives::RestorePedStamina:
        seen.restored = true;
        break;
    case natives::GetSecondsSinceBaseYear:
        seen.clockRead = true;
        seen.clock = c.resultInt();
        break;
    case natives::SetPlayerHealthRechargeMultiplier:
        seen.healing = c.f32(1) == 1.0f ? 1 : 0;
        break;
    default:
        break;
    }
}

} // namespace player
