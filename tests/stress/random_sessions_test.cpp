// Randomized sessions: a few hundred seeds of three minutes of game time each, every
// frame checked for what must always hold (sim/stress/random_session.h). A failure
// names the seed and the frame; `tolvenmire-sim --random --seed N` plays that seed
// again with its actions printed.
#include "random_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

} // namespace
