// The intoxication model: drunkLevel following intakeLevel once a second, the
// intensity handed to the game, healing rates, sobering by the game clock, the
// deadeye lock and the pass-out recovery.
#include "drink_fixture.h"

#include "flask/intoxication.h"

#include <map>

namespace {

using namespace drink;

const char* const PassOut = "PlayerDrunk01_PassOut";

class Intoxication : public DrinkTest {
  protected:
    // A short drink from T: five sips, then a stop 50 ms after the last. Returns the
    // time of the stop frame.
    static int32_t drinkFiveSips() {
        startDrinkAt(T);
        int32_t t = T + 5380;
        sipUntil(5, t);
        t += 50;
        stopAt(t);
        return t;
    }
    // Starts a drink at `start` and plays frames 1001 ms apart from its sip start:
    // one sip and one step each, so drunkLevel keeps pace with intakeLevel. Calls
    // `each` with every frame and the drunkLevel it began with; stops after the
    // frame that brings intakeLevel to `level`. Returns that frame's time.
    static int32_t climbTo(int32_t level, int32_t start, const std::function<void(int, int32_t)>& each = {}) {
        startDrinkAt(start);
        int32_t t = start + 5501 - 1001;
        for (int guard = 0; state().intakeLevel < level && guard < 200; ++guard) {
            const int32_t before = state().drunkLevel;
            t += 1001;
            const int f = tickAt(t);
            if (each) each(f, before);
        }
        EXPECT_EQ(state().intakeLevel, level);
        return t;
    }
    static bool stepped(int frame) { return count(frame, SetPlayerHealthRechargeMultiplier) == 1; }
    static bool holdsDeadeye(int frame) {
        const std::vector<sim::Call> holds = callsOf(frame, DisableControlAction);
        if (holds.empty()) return false;
        EXPECT_TRUE(sameNatives(holds, {{DisableControlAction, {0, DeadeyeControlA, 1}},
                                        {DisableControlAction, {0, DeadeyeControlB, 1}}}));
        return true;
    }
};

TEST_F(Intoxication, TheLevelStepsOnceASecondTowardTheIntakeAndTheGlobalIsWrittenEveryFrame) {
    begin();
    int32_t t = drinkFiveSips();
    ASSERT_EQ(state().drunkLevel, 1) << "one step since the first sip";
    int32_t lastStep = T + 5501;
    int steps = 0;
    for (int i = 0; i < 90; ++i) {
        const int32_t before = state().nextDrunkStepTime;
        t += 100;
        const int f = tickAt(t);
        EXPECT_EQ(globalWrites(f), 1);
        EXPECT_EQ(world().intensityGlobal, (uint64_t)IntensityTable[(size_t)state().drunkLevel]);
        if (state().nextDrunkStepTime == before) {
            EXPECT_FALSE(stepped(f)) << "at " << t;
            continue;
        }
        ++steps;
        // Due only once the timer is strictly past a second after the last step.
        EXPECT_GT(t - lastStep, 1000);
        EXPECT_LE(t - 100 - lastStep, 1000);
        EXPECT_EQ(state().nextDrunkStepTime, t + 1000);
        lastStep = t;
        // A step at the target level still sets the rates and reads the clock.
        EXPECT_TRUE(stepped(f));
        EXPECT_EQ(count(f, SetPlayerStaminaRechargeMultiplier), 1);
        EXPECT_EQ(count(f, GetSecondsSinceBaseYear), 1);
    }
    EXPECT_EQ(steps, 8);
    EXPECT_EQ(state().drunkLevel, 5);
    EXPECT_EQ(state().intakeLevel, 5);
}

TEST_F(Intoxication, TheIntensityAndTheHealingRatesFollowTheLevelUpTo121) {
    begin();
    std::map<int32_t, uint64_t> intensity;
    std::map<int32_t, std::pair<uint64_t, uint64_t>> rates;
    climbTo(121, T, [&](int f, int32_t) {
        const int32_t d = state().drunkLevel;
        intensity[d] = world().intensityGlobal;
        const std::vector<sim::Call> first = callsOf(f, SetPlayerHealthRechargeMultiplier);
        const std::vector<sim::Call> second = callsOf(f, SetPlayerStaminaRechargeMultiplier);
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_EQ(first[0].args[0], 0u);
        EXPECT_EQ(second[0].args[0], 0u);
        rates[d] = {first[0].args[1], second[0].args[1]};
        // The pass-out effect is watched only above 90.
        const std::vector<sim::Call> watch = callsOf(f, AnimpostfxIsRunning);
        EXPECT_EQ(watch.size(), d > 90 ? 1u : 0u) << "drunkLevel " << d;
        if (!watch.empty()) {
            EXPECT_EQ(watch[0].str(0), PassOut);
        }
    });
    ASSERT_EQ(state().drunkLevel, 121);
    ASSERT_EQ(intensity.size(), 121u);
    EXPECT_EQ(intensity[1], 0x3EFFFFFDu);
    EXPECT_EQ(intensity[2], 0x3F014E5Bu);
    EXPECT_EQ(intensity[99], 0x3F7FFFF9u);
    for (int32_t d = 3; d <= 99; ++d)
        EXPECT_EQ(intensity[d] - intensity[d - 1], 85598u) << "drunkLevel " << d;
    for (int32_t d = 100; d <= 121; ++d) EXPECT_EQ(intensity[d], One) << "drunkLevel " << d;
    // Levels past 121 are never reached; their entries are 1.0 all the same.
    EXPECT_EQ(IntensityTable.size(), 125u);
    EXPECT_EQ(IntensityTable[0], Intensity0);
    for (size_t i = 122; i < 125; ++i) EXPECT_EQ(IntensityTable[i], One);

    // drunkLevel x 0.049999997 and x 0.02, in single precision.
    EXPECT_EQ(rates[1], std::make_pair(uint64_t{0x3D4CCCCC}, uint64_t{0x3CA3D70A}));
    EXPECT_EQ(rates[20],
              std::make_pair(uint64_t{0x3F7FFFFF}, uint64_t{0x3ECCCCCC})); // 0.99999994, 0.39999998
    EXPECT_EQ(rates[100], std::make_pair(uint64_t{0x409FFFFF}, uint64_t{0x40000000}));
    EXPECT_EQ(rates[121], std::make_pair(uint64_t{0x40C19999}, uint64_t{0x401AE147})); // 6.0499997, 2.4199998
}

TEST_F(Intoxication, SoberingFollowsTheGameClockOneUnitPerStepAtMost) {
    begin();
    int32_t t = drinkFiveSips();
    // Each frame below is a step. (clock, intakeLevel after, nextSoberUpClock after)
    const struct {
        int32_t clock, intake, next;
    } steps[] = {{1000, 4, 1110},     {1110, 4, 1110},     {1111, 3, 1221},
                 {-5000, 3, 1221},    {-4000, 3, 1221},    {1222, 2, 1332},
                 {100000, 1, 100110}, {100000, 1, 100110}, {200000, 0, 200110}};
    for (const auto& s : steps) {
        world().clock = s.clock;
        t += 1001;
        const int f = tickAt(t);
        ASSERT_TRUE(stepped(f));
        EXPECT_TRUE(sameNatives(callsOf(f, GetSecondsSinceBaseYear), {{GetSecondsSinceBaseYear, {}}}));
        EXPECT_EQ(state().intakeLevel, s.intake) << "clock " << s.clock;
        EXPECT_EQ(state().nextSoberUpClock, s.next) << "clock " << s.clock;
    }
    // Sober target: the steps bring drunkLevel down without reading the clock.
    int last = 0;
    for (int guard = 0; guard < 10 && state().drunkLevel > 0; ++guard) {
        t += 1001;
        last = tickAt(t);
        EXPECT_EQ(count(last, GetSecondsSinceBaseYear), 0);
    }
    ASSERT_EQ(state().drunkLevel, 0);
    // The last step gives the player's healing back (1.0 and 1.0, as a reset does)
    // and hands the game the intensity of level 0.
    EXPECT_TRUE(sameNatives(callsOf(last, SetPlayerHealthRechargeMultiplier),
                            {{SetPlayerHealthRechargeMultiplier, {0, 1.0f}}}));
    EXPECT_TRUE(sameNatives(callsOf(last, SetPlayerStaminaRechargeMultiplier),
                            {{SetPlayerStaminaRechargeMultiplier, {0, 1.0f}}}));
    EXPECT_EQ(world().intensityGlobal, Intensity0);
    // Sober and idle from then on: nothing written, nothing stepped.
    for (int i = 0; i < 3; ++i) {
        t += 1001;
        const int f = tickAt(t);
        EXPECT_EQ(globalWrites(f), 0);
        EXPECT_FALSE(stepped(f));
    }
    EXPECT_EQ(world().intensityGlobal, Intensity0);
    EXPECT_EQ(world().healingRate[0], 1.0f);
    EXPECT_EQ(world().healingRate[1], 1.0f);
}

TEST_F(Intoxication, AnOutOfPlayResetClearsTheLevelsAndTheGlobal) {
    begin();
    drinkFiveSips();
    const int32_t nextStep = state().nextDrunkStepTime;
    world().missionFlag = true;
    sim::playFrames(1);
    const int f = sim::frame();
    world().missionFlag = false;
    EXPECT_TRUE(sameNatives(nativesAndGlobalIn(f), {{GetMissionFlag, {}},
                                                    {GlobalWrite, {IntensityGlobal}},
                                                    {SetPlayerHealthRechargeMultiplier, {0, 1.0f}},
                                                    {SetPlayerStaminaRechargeMultiplier, {0, 1.0f}},
                                                    {GetMissionFlag, {}}}));
    EXPECT_EQ(world().intensityGlobal, 0u);
    EXPECT_EQ(state().intakeLevel, 0);
    EXPECT_EQ(state().drunkLevel, 0);
    EXPECT_EQ(state().nextDrunkStepTime, nextStep) << "the reset leaves the step deadline";
    int g = nextFrame();
    for (int guard = 0; guard < 400 && count(g, PlayerPedId) == 0; ++guard) g = nextFrame();
    EXPECT_EQ(globalWrites(g), 0);
    EXPECT_FALSE(stepped(g));
    EXPECT_EQ(world().intensityGlobal, 0u) << "0 until the next intoxicated frame";
}

TEST_F(Intoxication, ThePassOutIsWatchedAboveNinetyAndItsEndRestoresThePlayer) {
    begin();
    int32_t t = climbTo(93, T);
    t += 50;
    stopAt(t);
    world().effects[PassOut] = 1;
    t += 1001;
    tickAt(t);
    EXPECT_TRUE(state().passedOut);
    t += 1001;
    tickAt(t);
    EXPECT_TRUE(state().passedOut);
    EXPECT_EQ(world().restoreCalls, 0);

    world().effects[PassOut] = 0;
    world().playerValue = 777;
    t += 1001;
    const int f = tickAt(t);
    // From the watch on: the restoring calls, the reset (global cleared, rates
    // back to 1.0), then the frame's write of level 0's intensity.
    std::vector<sim::Call> calls = nativesAndGlobalIn(f);
    while (!calls.empty() && calls.front().hash != AnimpostfxIsRunning) calls.erase(calls.begin());
    EXPECT_TRUE(sameNatives(calls, seq({{{AnimpostfxIsRunning, {PassOut}},
                                         {RestorePedStamina, {Player, 100.0f}},
                                         {GetEntityMaxHealth, {Player, 0}},
                                         {SetEntityHealth, {Player, 777, 0}},
                                         {SetAttributeCoreValue, {Player, 0, 100}},
                                         {SetAttributeCoreValue, {Player, 1, 100}},
                                         {SetAttributeCoreValue, {Player, 2, 100}},
                                         {GlobalWrite, {IntensityGlobal}},
                                         {SetPlayerHealthRechargeMultiplier, {0, 1.0f}},
                                         {SetPlayerStaminaRechargeMultiplier, {0, 1.0f}},
                                         {GlobalWrite, {IntensityGlobal}}},
                                        frameEnd()})));
    EXPECT_FALSE(state().passedOut);
    EXPECT_EQ(state().intakeLevel, 0);
    EXPECT_EQ(state().drunkLevel, 0);
    EXPECT_TRUE(state().deadeyeLock);
    EXPECT_EQ(world().intensityGlobal, Intensity0)
        << "the frame ends on level 0's intensity, not the reset's 0";
    EXPECT_EQ(globalWrites(tickAt(t + 1001)), 0);
}

TEST_F(Intoxication, APassOutSurvivesAResetAndRecoversAtTheNextStepAboveNinety) {
    begin("[SETTINGS]\nHEAL_WHEN_DRUNK=0\n");
    int32_t t = climbTo(92, T);
    stopAt(t + 50);
    world().effects[PassOut] = 1;
    tickAt(t + 1100);
    ASSERT_TRUE(state().passedOut);
    world().effects[PassOut] = 0;
    holdOnce(); // a death during the pass-out
    EXPECT_TRUE(state().passedOut);
    EXPECT_EQ(state().drunkLevel, 0);

    // The next climb above 90 finds the effect over and recovers at once.
    int recovered = 0;
    startDrinkAt(state().now + 1000);
    t = state().now + 5501 - 1001;
    for (int guard = 0; guard < 100 && recovered == 0; ++guard) {
        const int32_t before = state().drunkLevel;
        t += 1001;
        const int f = tickAt(t);
        if (before == 90) {
            recovered = f;
        } else {
            EXPECT_TRUE(state().passedOut) << "drunkLevel " << before;
        }
    }
    ASSERT_NE(recovered, 0);
    EXPECT_FALSE(state().passedOut);
    EXPECT_EQ(state().drunkLevel, 0);
    EXPECT_EQ(state().intakeLevel, 0);
    EXPECT_EQ(world().intensityGlobal, Intensity0);
    // Without healWhenDrunk the recovery is the reset alone.
    EXPECT_EQ(world().restoreCalls, 0);
    for (const sim::Call& c : sim::calls()) {
        EXPECT_NE(c.hash, SetPlayerHealthRechargeMultiplier);
        EXPECT_NE(c.hash, SetPlayerStaminaRechargeMultiplier);
        EXPECT_NE(c.hash, SetAttributeCoreValue);
    }
}

TEST_F(Intoxication, TheDeadeyeLockIsOnWhileStepsFindTheLevelAtTheThresholdOrBelow) {
    begin();
    EXPECT_TRUE(holdsDeadeye(tickAt(T - 1000))) << "armed at script start";
    bool wentOff = false, cameBack = false;
    auto rule = [&](int f, int32_t before) {
        if (!stepped(f)) return;
        const bool on = before <= 60;
        EXPECT_EQ(state().deadeyeLock, on) << "a step that found drunkLevel " << before;
        EXPECT_EQ(holdsDeadeye(f), on) << "a step that found drunkLevel " << before;
        wentOff = wentOff || !on;
        cameBack = cameBack || (wentOff && on);
    };
    int32_t t = climbTo(64, T, rule);
    stopAt(t + 50);
    EXPECT_TRUE(wentOff);
    // Sobering one unit a step brings it back under the threshold.
    for (int guard = 0; guard < 20 && state().drunkLevel > 57; ++guard) {
        const int32_t before = state().drunkLevel;
        world().clock += 1000;
        t += 1001;
        rule(tickAt(t), before);
    }
    EXPECT_TRUE(cameBack);
}

TEST_F(Intoxication, AZeroThresholdIsSetByTheFirstStepOfADrinkAndKeptByAReset) {
    begin("[SETTINGS]\nDEADEYE_LOCK_THRESHOLD=0\n");
    int f = tickAt(T - 1000);
    EXPECT_EQ(count(f, IsPlayerFreeAiming), 0) << "not armed at script start";
    startDrinkAt(T);
    int32_t t = T + 5380;
    std::vector<bool> held;
    for (int i = 0; i < 11; ++i) {
        t += 121;
        held.push_back(holdsDeadeye(tickAt(t)));
    }
    // The step at +5501 finds 0 (<= 0): on. The one at +6590 finds 1: off.
    EXPECT_EQ(held, (std::vector<bool>{true, true, true, true, true, true, true, true, true, false, false}));
    stopAt(t + 50);
    f = holdOnce();
    EXPECT_FALSE(state().deadeyeLock) << "a reset leaves it as the last step left it";
    EXPECT_EQ(count(f, IsPlayerFreeAiming), 0);

    // A reset within the first second of a drink leaves it on, and with both
    // levels at 0 no step comes to clear it.
    t = state().now + 1000;
    startDrinkAt(t);
    EXPECT_TRUE(holdsDeadeye(tickAt(t + 5501)));
    stopAt(t + 5600);
    f = holdOnce();
    EXPECT_TRUE(state().deadeyeLock);
    EXPECT_TRUE(holdsDeadeye(f));
    EXPECT_TRUE(holdsDeadeye(tickAt(state().now + 5000)));
}

TEST_F(Intoxication, ANegativeThresholdIsClearedByEveryFirstStepAndArmedByEveryReset) {
    begin("[SETTINGS]\nDEADEYE_LOCK_THRESHOLD=-1\n");
    EXPECT_TRUE(holdsDeadeye(tickAt(T - 1000)));
    startDrinkAt(T);
    EXPECT_TRUE(holdsDeadeye(sim::frame()));
    EXPECT_FALSE(holdsDeadeye(tickAt(T + 5501))) << "the first step finds 0 > -1";
    stopAt(T + 5600);
    EXPECT_TRUE(holdsDeadeye(holdOnce()));
    EXPECT_TRUE(state().deadeyeLock);
}

} // namespace
