// What a frame's calls show (frame.h): the natives the player watches, by role.
#include "player/frame.h"
#include "standin/native_table.h"

namespace player {

namespace {} // namespace

void noteCall(const sim::Call& c, FrameCalls& seen) {
    if (c.kind != sim::CallKind::Native) return;
    switch (c.hash) {
    case natives::GetMissionFlag:
        if (c.resultInt() != 0) seen.heldQuery = true;
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
