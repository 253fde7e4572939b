// What a frame's calls show (frame.h): the natives the player watches, by role.
#include "player/frame.h"
#include "standin/native_table.h"

namespace player {

namespace {} // namespace

void noteCall(const sim::Call& c, FrameCalls& seen) {
    if (c.kind != sim::CallKind::Native) return;
    switch (c.hash) {
    case natives::OutOfPlay:
        if (c.resultInt() != 0) seen.heldQuery = true;
        break;
    case natives::PlayerPed:
        seen.tick = true;
        break;
    case natives::PromptCompleted:
        if (c.resultInt() != 0) seen.completed.push_back(c.i32(0));
        break;
    case natives::ControlValue: {
        const float v = c.resultFloat();
        if (v < 0.0f || v > 0.0f) seen.stopRead = true;
        break;
    }
    case natives::PlayerControl:
        (c.i32(1) == 0 ? seen.controlTaken : seen.controlBack) = true;
        break;
    case natives::FadeOut:
        seen.fadeOut = true;
        break;
    case natives::FadeIn:
        seen.fadeIn = true;
        break;
    case natives::TakeCash:
        seen.charges.push_back(c.i32(0));
        break;
    case natives::RestorePed:
        seen.restored = true;
        break;
    case natives::GameClock:
        seen.clockRead = true;
        seen.clock = c.resultInt();
        break;
    case natives::HealingRate1:
        seen.healing = c.f32(1) == 1.0f ? 1 : 0;
        break;
    default:
        break;
    }
}

} // namespace player
