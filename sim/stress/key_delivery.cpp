// The key events of a randomized session (seeded_session.h), as the session's way of
// delivering them has it (KeyDelivery): between two frames, from inside a native
// call of the frame, in bursts, or a burst before the first frame; from the
// session's thread or its keyboard thread.
#include "stress/seeded_session.h"

#include <utility>

namespace stress {

// Keys: the drink key, mostly with its seventh flag, and others.
void Session::pressKeys() {
    if (rng_.oneIn(binge_ ? 60 : 150))
        pressKey(drinkKey_, (int32_t)rng_.below(2), (int32_t)rng_.below(2), rng_.oneIn(5) ? 0 : 1);
    if (rng_.oneIn(60)) pressKey(rng_.below(300), 0, 0, 1);
}

// A press, as the session's way of delivering keys has it.
void Session::pressKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    switch (options_.keys) {
    case KeyDelivery::InsideFrames:
        heldKeys_.push_back({key, fifth, sixth, seventh});
        return;
    case KeyDelivery::Bursts:
        if (key == drinkKey_) sendBurst(seventh);
        return;
    default:
        sendKey(key, fifth, sixth, seventh);
        return;
    }
}

// 300 events of the drink key in a row, the last one with `seventh`: the table keeps
// the last, whatever the others were.
void Session::sendBurst(int32_t seventh) {
    for (int k = 0; k < 299; ++k)
        sendKey(drinkKey_, (int32_t)rng_.below(2), (int32_t)rng_.below(2), (int32_t)rng_.below(2));
    sendKey(drinkKey_, 0, 1, seventh);
}

// Called inside a native call of the frame: the held presses, now and then.
void Session::deliverHeldKeys() {
    if (heldKeys_.empty() || !rng_.oneIn(6)) return;
    const std::vector<Press> presses = std::move(heldKeys_);
    heldKeys_.clear();
    for (const Press& p : presses) sendKey(p.key, p.fifth, p.sixth, p.seventh);
}

// One key event to the plug-in's handler, from the keyboard thread when the session
// has one.
void Session::sendKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    log("key " + std::to_string(key) + " (" + std::to_string(fifth) + ", " + std::to_string(sixth) + ", " +
        std::to_string(seventh) + ")" + (keyboard_ ? " from the keyboard thread" : ""));
    if (hostile_) hostile_->keySent(key, seventh, drinkKey_);
    if (keyboard_)
        keyboard_->send(key, fifth, sixth, seventh);
    else
        sim::keyEvent(key, fifth, sixth, seventh);
}

} // namespace stress
