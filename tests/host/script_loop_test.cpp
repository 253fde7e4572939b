// The script loop: one TickUpdate per frame in play, the out-of-play hold with its
// single reset, and the deadeye lock armed at script start.
#include "plugin_test.h"
#include "standin/native_table.h"

#include <deque>

namespace {

using sim::CallKind;

class ScriptLoop : public PluginTest {
  protected:
    // Answers the out-of-play query from a list, then from world().missionFlag.
    void answerOutOfPlay(std::initializer_list<int> answers) {
        scripted.assign(answers.begin(), answers.end());
        world().overrides[natives::GetMissionFlag] = [this](const sim::Call&, uint64_t* r) {
            if (scripted.empty()) return false;
            r[0] = (uint32_t)scripted.front();
            scripted.pop_front();
            return true;
        };
    }
    // Resets seen so far: each one sets the first healing rate to 1.0.
    static int resets() {
        int n = 0;
        for (const sim::Call& c : sim::calls())
            if (c.hash == natives::SetPlayerHealthRechargeMultiplier && c.kind == CallKind::Native &&
                c.f32(1) == 1.0f)
                ++n;
        return n;
    }
    static int count(uint64_t hash) {
        int n = 0;
        for (const sim::Call& c : sim::calls())
            if (c.kind == CallKind::Native && c.hash == hash) ++n;
        return n;
    }
    std::deque<int> scripted;
};

TEST_F(ScriptLoop, InPlayEachFrameIsOneQueryOneTickUpdateAndAZeroWait) {
    start();
    sim::playFrames(4);
    for (int f = 2; f <= 4; ++f) {
        std::vector<sim::Call> calls = sim::callsInFrame(f);
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.front().hash, natives::GetMissionFlag);
        EXPECT_EQ(calls[1].hash, natives::PlayerPedId);
        EXPECT_EQ(calls.back().kind, CallKind::Wait);
        EXPECT_EQ(calls.back().waitMs, 0u);
        for (const sim::Call& c : calls) EXPECT_TRUE(c.onScriptFiber);
    }
    EXPECT_EQ(sim::resumes(), 4);
}

TEST_F(ScriptLoop, AHoldResetsOnceAndReasksEveryThreeSeconds) {
    world().missionFlag = true;
    start();
    sim::playMs(10000);
    EXPECT_EQ(resets(), 1) << "one reset per entry into the hold, however long it lasts";
    EXPECT_EQ(count(natives::PlayerPedId), 0) << "no TickUpdate while held";
    // The reset itself: levels cleared, the global cleared, healing restored.
    EXPECT_EQ(world().intensityGlobal, 0u);
    EXPECT_EQ(world().healingRate[0], 1.0f);
    EXPECT_EQ(world().healingRate[1], 1.0f);
    std::vector<uint32_t> waits;
    for (const sim::Call& c : sim::calls())
        if (c.kind == CallKind::Wait) waits.push_back(c.waitMs);
    ASSERT_GE(waits.size(), 3u);
    for (uint32_t w : waits) EXPECT_EQ(w, 3000u);
    // Each re-query comes only after 3000 ms of game time.
    std::vector<uint32_t> queries;
    for (const sim::Call& c : sim::calls())
        if (c.hash == natives::GetMissionFlag && c.kind == CallKind::Native) queries.push_back(c.timer);
    for (size_t i = 2; i < queries.size(); ++i) EXPECT_GE(queries[i] - queries[i - 1], 3000u);
}

TEST_F(ScriptLoop, AShortHoldEndsWithAZeroWaitAndTheNextPassQueriesAgain) {
    answerOutOfPlay({1, 0}); // out of play, and back at once on the re-query
    start();
    const int f1 = nextFrame();
    std::vector<sim::Call> calls = sim::callsInFrame(f1);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().hash, natives::GetMissionFlag);
    EXPECT_EQ(calls.back().kind, CallKind::Wait);
    EXPECT_EQ(calls.back().waitMs, 0u) << "no 3000 ms wait when the re-query is already zero";
    EXPECT_EQ(count(natives::GetMissionFlag), 2);
    EXPECT_EQ(count(natives::PlayerPedId), 0) << "TickUpdate never runs in the pass that reset";
    EXPECT_EQ(resets(), 1);

    const int f2 = nextFrame();
    std::vector<uint64_t> hashes = hashesIn(f2);
    ASSERT_GE(hashes.size(), 2u);
    EXPECT_EQ(hashes[0], natives::GetMissionFlag);
    EXPECT_EQ(hashes[1], natives::PlayerPedId);
}

TEST_F(ScriptLoop, TwoHoldsOneFrameApartResetTwice) {
    // Pass 1: out, back at once. Pass 2: in play. Pass 3: out, back at once.
    answerOutOfPlay({1, 0, 0, 1, 0});
    start();
    sim::playFrames(4);
    EXPECT_EQ(resets(), 2);
    EXPECT_EQ(count(natives::PlayerPedId), 2) << "one TickUpdate between the holds, one after";
}

TEST_F(ScriptLoop, AHoldIsSeenToEndAtTheFirstReaskAfterIt) {
    world().missionFlag = true;
    start();
    sim::playFrames(1);
    const uint32_t heldAt = world().timer;
    sim::playMs(1000);
    world().missionFlag = false; // back in play after about a second
    // The script sleeps out its 3000 ms before it looks again.
    while (world().timer - heldAt < 2900) {
        sim::playFrames(1);
        EXPECT_EQ(count(natives::PlayerPedId), 0);
    }
    sim::playMs(300);
    sim::playFrames(1);
    EXPECT_GE(count(natives::PlayerPedId), 1);
}

// A drink prompt on screen when a mission starts could neither be used nor hidden
// while the script holds: the hold's first frame deletes it right after the reset,
// before its first wait, as a toggle deletes it. Its completion, answered later for
// the old handle, starts nothing; no prompt is touched when none is shown.
TEST_F(ScriptLoop, AHoldWithdrawsAShownDrinkPromptRightAfterTheReset) {
    start();
    world().satchelReleased = 1;
    sim::playFrames(1);
    world().satchelReleased = 0;
    ASSERT_TRUE(state().drinkPromptActive);
    const int32_t h = state().drinkPrompt;
    world().missionFlag = true;
    const int f = nextFrame();
    const std::vector<uint64_t> held = hashesIn(f);
    const std::vector<uint64_t> expected = {
        natives::GetMissionFlag, natives::SetPlayerHealthRechargeMultiplier,
        natives::SetPlayerStaminaRechargeMultiplier, natives::UiPromptDelete, natives::GetMissionFlag};
    EXPECT_EQ(held, expected);
    EXPECT_EQ(nativesIn(f)[3].i32(0), h);
    EXPECT_EQ(sim::callsInFrame(f).back().waitMs, 3000u);
    EXPECT_FALSE(state().drinkPromptActive);
    EXPECT_FALSE(world().prompts.at(h).alive);

    // After the mission a completion answered for the old handle starts nothing.
    world().missionFlag = false;
    world().prompts.at(h).completed = true;
    sim::playMs(3500);
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(count(natives::UiPromptDelete), 1);

    // A second hold, with no prompt shown: nothing is deleted.
    world().missionFlag = true;
    sim::playFrames(2);
    EXPECT_EQ(count(natives::UiPromptDelete), 1);
}

TEST_F(ScriptLoop, DeadeyeLockIsArmedAtScriptStartUnlessTheThresholdIsZero) {
    start();
    sim::playFrames(1);
    EXPECT_TRUE(state().deadeyeLock);
    sim::stop();

    start("[SETTINGS]\nDEADEYE_LOCK_THRESHOLD=0\n");
    sim::playFrames(1);
    EXPECT_FALSE(state().deadeyeLock);
    sim::stop();

    start("[SETTINGS]\nDEADEYE_LOCK_THRESHOLD=-4\n");
    sim::playFrames(1);
    EXPECT_TRUE(state().deadeyeLock);
}

} // namespace
