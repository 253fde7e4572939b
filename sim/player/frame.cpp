// What a frame's calls show (frame.h): the natives the player watches, by role.
#include "player/frame.h"
#include "standin/native_table.h"

namespace player {

namespace {

// The natives the player watches, by role.
const uint64_t OutOfPlayQuery = natives::OutOfPlay;
const uint64_t PlayerPedQuery = natives::PlayerPed; // the first native of every TickUpdate
const uint64_t PromptCompleted = natives::PromptCompleted;
const uint64_t ControlValue = natives::ControlValue;
const uint64_t PlayerControl = natives::PlayerControl;
const uint64_t FadeOut = natives::FadeOut;
const uint64_t FadeIn = natives::FadeIn;
const uint64_t TakeCash = natives::TakeCash;
const uint64_t RestorePed = natives::RestorePed;
const uint64_t FirstHealingRate = natives::HealingRate1;

} // namespace

void noteCall(const sim::Call& c, FrameCalls& seen) {
    if (c.kind != sim::CallKind::Native) return;
    switch (c.hash) {
    case OutOfPlayQuery:
        if (c.resultInt() != 0) seen.heldQuery = true;
        break;
    case PlayerPedQuery:
        seen.tick = true;
        break;
    case PromptCompleted:
        if (c.resultInt() != 0) seen.completed.push_back(c.i32(0));
        break;
    case ControlValue: {
        const float v = c.resultFloat();
        if (v < 0.0f || v > 0.0f) seen.stopRead = true;
        break;
    }
    case PlayerControl:
        (c.i32(1) == 0 ? seen.controlTaken : seen.controlBack) = true;
        break;
    case FadeOut:
        seen.fadeOut = true;
        break;
    case FadeIn:
        seen.fadeIn = true;
        break;
    case TakeCash:
        seen.charges.push_back(c.i32(0));
        break;
    case RestorePed:
        seen.restored = true;
        break;
    case FirstHealingRate:
        seen.healing = c.f32(1) == 1.0f ? 1 : 0;
        break;
    default:
        break;
    }
}

} // namespace player
