// Randomized sessions against a game that answers anything (sim/stress/
// hostile_checks.h): a share of the natives' answers replaced by hostile values of
// their kind, and over each session the timer standing still and jumping, the clock
// running back, the scenario never starting or never ending, the prompts completed
// in every frame or never. Every frame is checked for what must hold whatever the
// answers, the same invariants on both builds. A failure names the seed, the frame
// and the invariant, and the tolvenmire-soak command that plays it again.
#include "stress/random_session.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const double HostileRate = 0.05;
#ifdef _WIN32
const uint64_t Seeds = 30; // under Wine a frame's file checks cost eight times as much
#else
const uint64_t Seeds = 100;
#endif

TEST(HostileSessions, NoAnswerOfTheGameBreaksAnInvariant) {
    stress::SessionOptions options;
    options.hostileRate = HostileRate;
    uint64_t answers = 0, spells = 0;
    int drinks = 0, refills = 0, mostCalls = 0;
    for (uint64_t seed = 1; seed <= Seeds; ++seed) {
        const stress::SessionResult r = stress::playRandomSession(seed, options);
        ASSERT_TRUE(r.passed) << r.describe();
        answers += r.hostileAnswers;
        spells += r.hostileSpells;
        drinks += r.drinks;
        refills += r.refills;
        mostCalls = std::max(mostCalls, r.maxCallsBetweenWaits);
    }
    // The game was hostile throughout, and the sessions still drank and refilled.
    EXPECT_GT(answers, Seeds * 100);
    EXPECT_GT(spells, Seeds * 3);
    EXPECT_GT(drinks, 0);
    EXPECT_GT(refills, 0);
    RecordProperty("answers_replaced", (int)answers);
    RecordProperty("most_calls_between_waits", mostCalls);
}

} // namespace
