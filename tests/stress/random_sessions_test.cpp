// Randomized sessions: a few hundred seeds of three minutes of game time each, every
// frame checked for what must always hold (sim/stress/random_session.h). A failure
// names the seed and the frame; `tolvenmire-sim --random --seed N` plays that seed
// again with its actions printed.
#include "stress/random_session.h"
#include "replay/recording_reader.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The seeds come in blocks, one test each, so that ctest spreads them over the cores.
const uint64_t SeedsPerBlock = 40;
#ifdef _WIN32
const int Blocks = 2; // under Wine a frame's file checks cost eight times as much
#else
const int Blocks = 8;
#endif

class RandomSessions : public ::testing::TestWithParam<int> {};

TEST_P(RandomSessions, EveryFrameKeepsTheInvariants) {
    const uint64_t first = (uint64_t)GetParam() * SeedsPerBlock + 1;
    int refills = 0, drinks = 0, holds = 0, passOuts = 0, failedSaves = 0;
    for (uint64_t seed = first; seed < first + SeedsPerBlock; ++seed) {
        const stress::SessionResult r = stress::playRandomSession(seed);
        ASSERT_TRUE(r.passed) << r.describe();
        refills += r.refills;
        drinks += r.drinks;
        holds += r.holds;
        passOuts += r.passOuts;
        failedSaves += r.failedSaves;
    }
    // The sessions go through everything they are meant to stress.
    EXPECT_GT(drinks, 0);
    EXPECT_GT(refills, 0);
    EXPECT_GT(holds, 0);
    EXPECT_GT(passOuts, 0);
#ifndef _WIN32
    EXPECT_GT(failedSaves, 0); // the save file is made read-only on Linux only
#endif
    RecordProperty("drinks", drinks);
    RecordProperty("refills", refills);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSessions, ::testing::Range(0, Blocks),
                         [](const ::testing::TestParamInfo<int>& info) {
                             const uint64_t first = (uint64_t)info.param * SeedsPerBlock + 1;
                             return "seeds_" + std::to_string(first) + "_to_" +
                                    std::to_string(first + SeedsPerBlock - 1);
                         });

TEST(RandomSessionReplay, TheSameSeedPlaysTheSameSession) {
    for (uint64_t seed : {7u, 123u, 4242u}) {
        const stress::SessionResult a = stress::playRandomSession(seed);
        const stress::SessionResult b = stress::playRandomSession(seed);
        ASSERT_TRUE(a.passed) << a.describe();
        EXPECT_EQ(a.digest, b.digest) << "seed " << seed;
        EXPECT_EQ(a.frame, b.frame) << "seed " << seed;
        EXPECT_EQ(a.keyboardThread, b.keyboardThread);
    }
    EXPECT_NE(stress::playRandomSession(1).digest, stress::playRandomSession(2).digest);
}

// Recorded sessions replay with no difference however the keyboard delivers: from
// inside a native call of the frame (before or after the key test), in bursts of
// 300 events between two frames, and before the first frame, before anything is
// recorded. (tests/windows/replay_package.sh plays them across the two builds.)
TEST(RandomSessionReplay, RecordedSessionsReplayWhateverTheKeyboardDoes) {
    const std::pair<stress::KeyDelivery, const char*> ways[] = {
        {stress::KeyDelivery::InsideFrames, "inside"},
        {stress::KeyDelivery::Bursts, "bursts"},
        {stress::KeyDelivery::BeforeStart, "before-start"},
    };
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("tolvenmire-keys-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".rec"))
            .string();
    for (const auto& [keys, name] : ways) {
        int keyReads = 0;
        for (uint64_t seed = 1; seed <= 4; ++seed) {
            stress::SessionOptions o;
            o.gameMs = 90000;
            o.keys = keys;
            o.recordTo = path;
            const stress::SessionResult played = stress::playRandomSession(seed, o);
            ASSERT_TRUE(played.passed) << name << ": " << played.describe();
            rec::Recording r;
            std::string error;
            ASSERT_TRUE(rec::readRecording(path, &r, &error)) << name << " seed " << seed << ": " << error;
            EXPECT_EQ(r.tornTail, "") << name << " seed " << seed;
            for (const rec::Event& e : r.events) keyReads += e.kind == rec::EventKind::KeyRead;
            sim::StartOptions replay;
            replay.replay = &r;
            replay.record = false;
            ASSERT_TRUE(sim::start(replay, &error)) << error;
            while (!sim::replayOver()) sim::playFrames(1);
            sim::stop();
            const sim::ReplayStatus& s = sim::replayStatus();
            EXPECT_FALSE(s.diverged) << name << " seed " << seed << ": departs at frame " << s.frame
                                     << ": recorded " << s.recorded << "; made " << s.made;
            EXPECT_EQ(s.next, r.events.size()) << name << " seed " << seed;
        }
        EXPECT_GT(keyReads, 0) << name << ": no key read recorded";
    }
    std::filesystem::remove(path);
}

} // namespace
