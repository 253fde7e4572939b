// What a frame's calls show (frame.h): the natives the player watches, by role.
#include "player/frame.h"

namespace player {

namespace {

// The natives the player watches, by role.
const uint64_t OutOfPlayQuery = 0xB15CD1CF58771DE1;
const uint64_t PlayerPedQuery = 0x096275889B8E0EE0; // the first native of every TickUpdate
const uint64_t PromptCompleted = 0xE0F65F0640EF0617;
const uint64_t ControlValue = 0xEC3C9B8D5327B563;
const uint64_t PlayerControl = 0x4D51E59243281D80;
const uint64_t FadeOut = 0x40C719A5E410B9E4;
const uint64_t FadeIn = 0x6A053CF596F67DF7;
const uint64_t TakeCash = 0x466BC8769CF26A7A;
const uint64_t RestorePed = 0x675680D089BFA21F;
const uint64_t FirstHealingRate = 0x8899C244EBCF70DE;

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
