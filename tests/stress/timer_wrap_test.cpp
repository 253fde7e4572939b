// The game timer past 2^31 ms (24.8 days of play): its value turns negative as a
// signed 32-bit number. A deadline taken shortly before that moment is a large
// positive value; compared with the timer value against value, it would stay ahead
// of the timer until the timer had come round all of its 2^32 values, 49 more days.
// The plug-in compares the wrapped difference instead, so these deadlines fall due.
#include "plugin_test.h"

namespace {

const uint32_t SignedTop = 0x7FFFFFFFu;

class TimerPastTheSignedTop : public PluginTest {};

// A refill whose service waits straddle the moment never ends: the player's control
// stays taken (and the screen may stay faded out).
TEST_F(TimerPastTheSignedTop, ARefillGivesThePlayerControlBack) {
    for (uint32_t below = 800; below <= 8000; below += 97) {
        start();
        sim::World& w = world();
        w.interior = 21250; // Valentine
        sim::Ped bartender;
        bartender.handle = 2001;
        bartender.model = 0xB733CF0F;
        bartender.x = 1.0f;
        w.peds[2001] = bartender;
        w.target = 2001;
        sim::playFrames(2);
        ASSERT_TRUE(state().refillPromptActive);
        w.timer = SignedTop - below;
        w.prompts[state().refillPrompt].completed = true;
        sim::playMs(12000);
        EXPECT_TRUE(w.playerControl) << "refill started " << below << " ms below 2^31: control still taken";
        EXPECT_EQ(w.charges.size(), 1u) << "refill started " << below << " ms below 2^31: not finished";
        sim::stop();
    }
}

// Sips are due after nextSipTime; one left from a drink before the moment is never
// passed after it: the next drink counts no sip and only a stop control ends it.
TEST_F(TimerPastTheSignedTop, ADrinkAfterItCountsSips) {
    start();
    sim::World& w = world();
    w.timer = SignedTop - 30000;
    sim::keyEvent(79, 0, 0, 1);
    sim::playMs(10000);
    ASSERT_GT(state().intakeLevel, 20) << "the first drink counts sips";
    w.analog[0xFDA83190] = 1.0f;
    sim::playFrames(1);
    w.analog[0xFDA83190] = 0.0f;
    ASSERT_FALSE(state().drinking);
    sim::playMs(25000); // past the moment
    ASSERT_GT(w.timer, SignedTop);
    const int32_t before = state().intakeLevel;
    sim::keyEvent(79, 0, 0, 1);
    sim::playMs(10000);
    EXPECT_GT(state().intakeLevel, before + 20) << "no sip counted in the second drink";
}

// The start wait of a drink gives up 5 s after the triggering frame when the game
// never runs the drinking scenario. Its limit is a deadline like the others; were it
// compared value against value, it would fail both ways across the moment:

// a drink triggered less than 5 s before the moment gives up at once, though the
// game starts the scenario three frames later;
TEST_F(TimerPastTheSignedTop, ADrinkTriggeredJustBeforeItStarts) {
    start();
    sim::World& w = world();
    w.timer = SignedTop - 2000;
    w.scenarioStartFrames = 3;
    sim::keyEvent(79, 0, 0, 1);
    sim::playFrames(10);
    EXPECT_TRUE(state().drinking) << "the start wait gave up at once";
}

// and one triggered earlier, whose last second before the limit a long frame skips,
// waits as long as the game never runs the scenario: the script never comes round
// its loop again.
TEST_F(TimerPastTheSignedTop, AStartWaitGivesUpAcrossIt) {
    start();
    sim::World& w = world();
    w.timer = SignedTop - 6400;
    w.scenarioNeverStarts = true;
    sim::keyEvent(79, 0, 0, 1);
    sim::playMs(4000); // 1400 ms before the limit of 5000, 2400 ms before the moment
    w.frameMs = 2500;  // a long frame (a loading hitch) skips the limit and the moment
    sim::playFrames(1);
    w.frameMs = 33;
    sim::playMs(10000);
    EXPECT_FALSE(state().drinking) << "still waiting for the drinking scenario";
}

} // namespace
