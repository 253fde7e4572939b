// A drink from start to stop: the wait for the scenario and its time limit, the
// sips and their cadence, the stop controls and what ends a drink by itself.
#include "drink_fixture.h"

#include <cmath>

namespace {

using namespace drink;

// One pass of the start wait that finds the scenario not running yet.
std::vector<Native> waitingPass() {
    return {
        {IsPedUsingScenarioHash, {Player, DrinkFlask}}, {GetGameTimer, {}}, {ClearPedTasks, {Player, 1, 1}}};
}

class Drinking : public DrinkTest {};

TEST_F(Drinking, TheStartWaitTestsTheScenarioThenClearsAndYieldsEachFrame) {
    begin();
    world().frameMs = 100;
    scenarioAnswers = {0, 0, 1};
    const int f = pressKeyAt(T);
    EXPECT_TRUE(sameNatives(lastOf(f, 3), waitingPass()));
    EXPECT_EQ(sim::callsInFrame(f).back().waitMs, 0u);
    EXPECT_EQ(count(f, DrawSprite), 0) << "nothing else of the frame runs during the wait";
    // A waiting frame is the wait alone: no out-of-play query, no frame values.
    const int waiting = nextFrame();
    EXPECT_TRUE(sameNatives(nativesIn(waiting), waitingPass()));
    // Running: the textures, then the rest of the triggering TickUpdate.
    const int running = nextFrame();
    const std::vector<uint64_t> hashes = hashesIn(running);
    ASSERT_GE(hashes.size(), 2u);
    EXPECT_EQ(hashes[0], IsPedUsingScenarioHash);
    EXPECT_EQ(hashes[1], HasStreamedTxdLoaded);
    EXPECT_EQ(count(running, DrawSprite), 5);
    EXPECT_EQ(count(running, GetMissionFlag), 0);
    EXPECT_TRUE(state().drinking);
    EXPECT_EQ(state().now, T) << "the frame's time is not refreshed by the wait";
    EXPECT_EQ(state().sipStartTime, T + 5500) << "counted from the trigger, not from the end of the wait";
    tickAt(T + 5500);
    EXPECT_EQ(state().intakeLevel, 0);
    tickAt(T + 5501);
    EXPECT_EQ(state().intakeLevel, 1);
}

TEST_F(Drinking, AScenarioThatNeverRunsIsGivenUpFiveSecondsAfterTheTrigger) {
    begin();
    world().frameMs = 2500;
    scenarioAnswers = {0, 0, 0, 0}; // one answer per waiting pass
    const int f = pressKeyAt(T);
    sim::playFrames(3); // the timer reads T + 2500, T + 5000 (still waiting), T + 7500
    EXPECT_TRUE(sameNatives(nativesIn(f + 1), waitingPass()));
    EXPECT_TRUE(sameNatives(nativesIn(f + 2), waitingPass()));
    // Given up: the clearing call, then the rest of the frame without the drink.
    EXPECT_TRUE(sameNatives(nativesIn(f + 3), seq({waitingPass(), frameEnd()})));
    EXPECT_EQ(callsOf(f + 3, GetGameTimer)[0].resultInt(), T + 7500);
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(state().sipStartTime, 0);
    EXPECT_TRUE(world().textureRequests.empty());
    EXPECT_FALSE(readFile("Tolvenmire.dat")) << "giving up is not a stop: nothing is saved";
    // The next frame is an ordinary one, and the key starts a drink again.
    world().frameMs = 33;
    EXPECT_EQ(hashesIn(tickAt(T + 8000))[0], GetMissionFlag);
    startDrinkAt(T + 9000);
}

TEST_F(Drinking, SipsComeMoreThan120MsApartAndEveryFourthTakesAUnit) {
    begin();
    startDrinkAt(T);
    const struct {
        int32_t at, intake, flask, counter;
    } frames[] = {{5400, 0, 99, 0}, {5501, 1, 99, 1}, {5621, 1, 99, 1}, {5622, 2, 99, 2}, {5700, 2, 99, 2},
                  {5743, 3, 99, 3}, {5863, 3, 99, 3}, {5864, 4, 98, 0}, {5985, 5, 98, 1}, {6106, 6, 98, 2},
                  {6227, 7, 98, 3}, {6348, 8, 97, 0}, {6400, 8, 97, 0}, {6469, 9, 97, 1}};
    for (const auto& e : frames) {
        tickAt(T + e.at);
        EXPECT_EQ(state().intakeLevel, e.intake) << "at +" << e.at;
        EXPECT_EQ(state().flaskLevel, e.flask) << "at +" << e.at;
        EXPECT_EQ(state().sipCounter, e.counter) << "at +" << e.at;
    }
    EXPECT_EQ(state().nextSipTime, T + 6469 + 120);
    EXPECT_TRUE(state().drinking);
    EXPECT_FALSE(readFile("Tolvenmire.dat")) << "a sip does not save";
}

TEST_F(Drinking, TheSipCounterCarriesOverToTheNextDrink) {
    begin();
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(3, t);
    stopAt(t + 50); // no sip due in the stopping frame
    ASSERT_FALSE(state().drinking);
    EXPECT_EQ(state().sipCounter, 3);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "99");
    startDrinkAt(t + 1000);
    tickAt(t + 1000 + 5501);
    EXPECT_EQ(state().intakeLevel, 4);
    EXPECT_EQ(state().flaskLevel, 98) << "the first sip of the new drink is the fourth";
    EXPECT_EQ(state().sipCounter, 0);
}

TEST_F(Drinking, EitherStopControlEndsTheDrinkAndSavesTheFlask) {
    begin(nullptr, "57");
    startDrinkAt(T);
    // Readings that count as 0.0.
    world().analog[StopControlA] = std::nanf("");
    world().analog[StopControlB] = -0.0f;
    int f = tickAt(T + 100);
    EXPECT_TRUE(sameNatives(callsOf(f, GetControlNormal),
                            {{GetControlNormal, {0, StopControlA}}, {GetControlNormal, {0, StopControlB}}}));
    EXPECT_TRUE(state().drinking);

    // The first control: the second is not asked.
    std::filesystem::remove(path("Tolvenmire.dat"));
    world().analog[StopControlA] = 0.5f;
    f = tickAt(T + 200);
    EXPECT_TRUE(sameNatives(
        lastOf(f, 6),
        seq({{{GetControlNormal, {0, StopControlA}}, {ClearPedTasks, {Player, 1, 1}}}, frameEnd()})));
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "57");
    f = tickAt(T + 300);
    EXPECT_EQ(count(f, DrawSprite) + count(f, GetControlNormal), 0) << "stopped: no meters, no controls";

    // The second control, negative, read in the very frame that starts the drink.
    world().analog[StopControlA] = 0.0f;
    world().analog[StopControlB] = -0.25f;
    f = pressKeyAt(T + 1000);
    EXPECT_EQ(count(f, TaskStartScenarioInPlaceHash), 1);
    EXPECT_EQ(count(f, GetControlNormal), 2);
    EXPECT_EQ(count(f, ClearPedTasks), 2) << "the start's clearing call, then the stop's";
    EXPECT_FALSE(state().drinking);
}

TEST_F(Drinking, AStopFrameStillRunsTheSipStep) {
    begin(nullptr, "1");
    startDrinkAt(T);
    tickAt(T + 5501);
    ASSERT_EQ(state().intakeLevel, 1);
    // A stop control in a frame with a sip due: the sip counts after the stop.
    int f = stopAt(T + 5622);
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(state().intakeLevel, 2);
    EXPECT_EQ(count(f, ClearPedTasks), 1);

    // Empty the flask, then stop with a control after the sip start: the stop runs
    // twice, each with its clearing call and its save.
    startDrinkAt(T + 10000);
    int32_t t = T + 15380;
    sipUntil(4, t);
    ASSERT_EQ(state().flaskLevel, 0);
    std::filesystem::remove(path("Tolvenmire.dat"));
    f = stopAt(t + 50);
    EXPECT_TRUE(sameNatives(lastOf(f, 7), seq({{{GetControlNormal, {0, StopControlA}},
                                                {ClearPedTasks, {Player, 1, 1}},
                                                {ClearPedTasks, {Player, 1, 1}}},
                                               frameEnd()})));
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "0");
    EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));
}

TEST_F(Drinking, AnEmptyFlaskPlaysTheStartAndStopsOnceSipsWouldCount) {
    begin(nullptr, "0");
    startDrinkAt(T);
    EXPECT_EQ(world().textureRequests.size(), 4u);
    EXPECT_EQ(count(sim::frame(), DrawSprite), 4);
    tickAt(T + 5500);
    EXPECT_TRUE(state().drinking) << "not before the sip start";
    std::filesystem::remove(path("Tolvenmire.dat"));
    const int f = tickAt(T + 5501);
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(count(f, ClearPedTasks), 1);
    EXPECT_EQ(state().intakeLevel, 0);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "0");
}

TEST_F(Drinking, AnIntakeAbove120EndsTheDrinkOnTheNextFrameWhetherOrNotASipIsDue) {
    begin();
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(121, t);
    EXPECT_TRUE(state().drinking);
    const int f = tickAt(t + 10); // the next sip is not due yet
    EXPECT_FALSE(state().drinking);
    EXPECT_EQ(count(f, ClearPedTasks), 1);
    EXPECT_EQ(state().intakeLevel, 121);
    EXPECT_EQ(state().flaskLevel, 69); // 121 sips: 30 units
    EXPECT_EQ(state().sipCounter, 1);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "69");
}

TEST_F(Drinking, ADrinkGoesOnAcrossAnOutOfPlayHold) {
    begin();
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(6, t);
    const int f = holdOnce();
    EXPECT_TRUE(state().drinking) << "a hold does not end a drink";
    ASSERT_NE(f, 0);
    EXPECT_EQ(count(f, DrawSprite), 5) << "no intake sprite: the hold reset intoxication";
    EXPECT_EQ(state().intakeLevel, 1) << "the sips go on";
    t = state().now;
    tickAt(t + 121);
    EXPECT_EQ(state().intakeLevel, 2);
    stopAt(t + 200);
    EXPECT_FALSE(state().drinking);
}

} // namespace
