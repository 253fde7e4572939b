// The frame's opening: the idle frame, the "Drink From Flask" prompt that toggles
// while its guards pass, and the two triggers that start a drink.
#include "drink_fixture.h"

namespace {

using namespace drink;

class DrinkPrompt : public DrinkTest {
  protected:
    // The natives after the frame values, up to the first completion test.
    static std::vector<sim::Call> upkeepIn(int frame) {
        std::vector<sim::Call> calls = nativesIn(frame), out;
        for (size_t i = 3; i < calls.size(); ++i) {
            out.push_back(calls[i]);
            if (calls[i].hash == UiPromptHasHoldModeCompleted) break;
        }
        return out;
    }
    static std::vector<Native> guardsPass() {
        return {{IsUsingKeyboardAndMouse, {0}},
                {IsControlJustReleased, {0, 0x4CC0E2FEu}},
                {AnimpostfxIsRunning, {"WheelHUDIn"}}};
    }
    static std::vector<sim::Call> slice(int frame, size_t from, size_t to) {
        std::vector<sim::Call> calls = nativesIn(frame);
        if (calls.size() < to) return calls;
        return std::vector<sim::Call>(calls.begin() + (long)from, calls.begin() + (long)to);
    }
};

TEST_F(DrinkPrompt, AnIdleFrameAsksTheGuardsHoldsDeadeyeOffAndAsksForTheInterior) {
    begin();
    const int f = tickAt(T);
    EXPECT_TRUE(sameNatives(nativesIn(f), seq({frameStart(),
                                               {{IsUsingKeyboardAndMouse, {0}},
                                                {IsControlJustReleased, {0, 0x4CC0E2FEu}},
                                                {UiPromptHasHoldModeCompleted, {0}}},
                                               frameEnd()})));
    EXPECT_EQ(sim::callsInFrame(f).back().kind, sim::CallKind::Wait);
    EXPECT_EQ(sim::callsInFrame(f).back().waitMs, 0u);
    EXPECT_EQ(globalWrites(f), 0) << "nothing is written while both levels are 0";
    EXPECT_EQ(state().playerPed, Player);

    // Without the game's deadeye condition the lock holds nothing off.
    world().freeAiming = 0;
    const int g = tickAt(T + 33);
    EXPECT_EQ(count(g, IsPlayerFreeAiming), 1);
    EXPECT_EQ(count(g, DisableControlAction), 0);
}

TEST_F(DrinkPrompt, EachFrameWhoseGuardsPassTogglesThePrompt) {
    begin();
    world().satchelReleased = 1;
    const int created = tickAt(T);
    ASSERT_TRUE(state().drinkPromptActive);
    const int32_t h = state().drinkPrompt;
    const std::vector<sim::Call> upkeep = upkeepIn(created);
    ASSERT_EQ(upkeep.size(), 14u);
    EXPECT_EQ(upkeep[4].resultInt(), h);
    const uint64_t label = upkeep[6].result[0]; // the text handle, passed on whole
    EXPECT_TRUE(sameNatives(upkeep, seq({guardsPass(),
                                         {{IsPedOnFoot, {Player}},
                                          {UiPromptRegisterBegin, {}},
                                          {UiPromptSetControlAction, {h, 0x84543902u}},
                                          {VarString, {10, "LITERAL_STRING", "Drink From Flask"}},
                                          {UiPromptSetText, {h, Arg::whole(label)}},
                                          {UiPromptSetHoldMode, {h, 1}},
                                          {UiPromptSetPriority, {h, 3}},
                                          {UiPromptRegisterEnd, {h}},
                                          {UiPromptSetVisible, {h, 1}},
                                          {UiPromptSetEnabled, {h, 1}},
                                          {UiPromptHasHoldModeCompleted, {h}}}})));
    EXPECT_EQ(world().prompts[h].label, "Drink From Flask");

    // The next such frame deletes it and keeps the handle; the one after makes a new one.
    const int deleted = tickAt(T + 33);
    EXPECT_FALSE(state().drinkPromptActive);
    EXPECT_EQ(state().drinkPrompt, h);
    EXPECT_TRUE(
        sameNatives(upkeepIn(deleted),
                    seq({guardsPass(), {{UiPromptDelete, {h}}, {UiPromptHasHoldModeCompleted, {h}}}})));
    tickAt(T + 66);
    EXPECT_TRUE(state().drinkPromptActive);
    const int32_t h2 = state().drinkPrompt;
    EXPECT_NE(h2, h);

    // A failing guard leaves the prompt as it is, for as many frames as it fails.
    world().keyboardAndMouse = 1;
    int f = tickAt(T + 99);
    tickAt(T + 132);
    EXPECT_TRUE(
        sameNatives(upkeepIn(f), {{IsUsingKeyboardAndMouse, {0}}, {UiPromptHasHoldModeCompleted, {h2}}}));
    world().keyboardAndMouse = 0;
    world().satchelReleased = 0;
    f = tickAt(T + 165);
    tickAt(T + 198);
    EXPECT_TRUE(sameNatives(upkeepIn(f), {{IsUsingKeyboardAndMouse, {0}},
                                          {IsControlJustReleased, {0, 0x4CC0E2FEu}},
                                          {UiPromptHasHoldModeCompleted, {h2}}}));
    world().satchelReleased = 1;
    world().effects["WheelHUDIn"] = 1;
    f = tickAt(T + 231);
    tickAt(T + 264);
    EXPECT_TRUE(sameNatives(upkeepIn(f), seq({guardsPass(), {{UiPromptHasHoldModeCompleted, {h2}}}})));
    EXPECT_TRUE(state().drinkPromptActive);
    EXPECT_TRUE(world().prompts[h2].alive);

    // Guards passing again: deleted, then not made while the player condition fails.
    world().effects["WheelHUDIn"] = 0;
    tickAt(T + 297);
    EXPECT_FALSE(state().drinkPromptActive);
    world().onFoot = 0;
    f = tickAt(T + 330);
    EXPECT_TRUE(sameNatives(
        upkeepIn(f), seq({guardsPass(), {{IsPedOnFoot, {Player}}, {UiPromptHasHoldModeCompleted, {h2}}}})));
    EXPECT_FALSE(state().drinkPromptActive);
}

TEST_F(DrinkPrompt, TheDrinkKeyStartsTheFlaskScenarioAndRequestsTheMeterTextures) {
    begin();
    world().textureLoaded[0x63B3DF31] = true; // "RPG_TEXTURES" is there already
    const int f = pressKeyAt(T);
    // The key is tested first: no completion test in a frame the key triggered.
    EXPECT_EQ(count(f, UiPromptHasHoldModeCompleted), 0);
    EXPECT_TRUE(
        sameNatives(slice(f, 5, 16), {{IsPedOnFoot, {Player}},
                                      {ClearPedTasks, {Player, 1, 1}},
                                      {TaskStartScenarioInPlaceHash, {Player, DrinkFlask, -1, 1, 1, 0.0f, 1}},
                                      {IsPedUsingScenarioHash, {Player, DrinkFlask}},
                                      {HasStreamedTxdLoaded, {0xC5CE55E0u}},
                                      {RequestStreamedTextureDict, {"RPG_METER", 0}},
                                      {HasStreamedTxdLoaded, {0xE5EBC699u}},
                                      {RequestStreamedTextureDict, {"BLIPS", 0}},
                                      {HasStreamedTxdLoaded, {0x63B3DF31u}},
                                      {HasStreamedTxdLoaded, {0xDF68C3A6u}},
                                      {RequestStreamedTextureDict, {"INVENTORY_ITEMS", 0}}}));
    // The drinking part runs in the same frame: meters, then the stop controls.
    std::vector<uint64_t> rest;
    for (const sim::Call& c : slice(f, 16, nativesIn(f).size())) rest.push_back(c.hash);
    EXPECT_EQ(rest,
              (std::vector<uint64_t>{DrawSprite, DrawSprite, DrawSprite, DrawSprite, DrawSprite,
                                     GetControlNormal, GetControlNormal, IsPlayerFreeAiming,
                                     DisableControlAction, DisableControlAction, GetInteriorFromEntity}));
    EXPECT_TRUE(state().drinking);
    EXPECT_EQ(state().sipStartTime, T + 5500);

    // A later drink finds the dictionaries loaded and requests nothing.
    stopAt(T + 100);
    tickAt(T + 1000);
    const int again = pressKeyAt(T + 2000);
    EXPECT_EQ(count(again, HasStreamedTxdLoaded), 4);
    EXPECT_EQ(count(again, RequestStreamedTextureDict), 0);
}

TEST_F(DrinkPrompt, ACompletedPromptStartsADrinkAndIsDeleted) {
    begin();
    world().satchelReleased = 1;
    tickAt(T);
    const int32_t h = state().drinkPrompt;
    world().satchelReleased = 0; // keep it standing
    world().prompts[h].completed = true;
    const int f = tickAt(T + 33);
    EXPECT_TRUE(
        sameNatives(slice(f, 5, 11), {{UiPromptHasHoldModeCompleted, {h}},
                                      {UiPromptDelete, {h}},
                                      {IsPedOnFoot, {Player}},
                                      {ClearPedTasks, {Player, 1, 1}},
                                      {TaskStartScenarioInPlaceHash, {Player, DrinkFlask, -1, 1, 1, 0.0f, 1}},
                                      {IsPedUsingScenarioHash, {Player, DrinkFlask}}}));
    EXPECT_TRUE(state().drinking);
    EXPECT_FALSE(state().drinkPromptActive);
    EXPECT_FALSE(world().prompts[h].alive);
}

TEST_F(DrinkPrompt, ATriggerThatFindsThePlayerConditionFalseIsSpent) {
    begin();
    world().satchelReleased = 1;
    tickAt(T);
    const int32_t h = state().drinkPrompt;
    world().satchelReleased = 0;
    world().onFoot = 0;
    const int f = pressKeyAt(T + 33);
    EXPECT_TRUE(sameNatives(nativesIn(f), seq({frameStart(),
                                               {{IsUsingKeyboardAndMouse, {0}},
                                                {IsControlJustReleased, {0, 0x4CC0E2FEu}},
                                                {UiPromptDelete, {h}},
                                                {IsPedOnFoot, {Player}}},
                                               frameEnd()})));
    EXPECT_FALSE(state().drinking);
    EXPECT_FALSE(state().drinkPromptActive);

    // The key event is used up: with the condition back nothing starts, and the
    // completion test asks about the old handle.
    world().onFoot = 1;
    const int g = tickAt(T + 66);
    EXPECT_EQ(count(g, IsPedOnFoot), 0);
    EXPECT_TRUE(sameNatives(callsOf(g, UiPromptHasHoldModeCompleted), {{UiPromptHasHoldModeCompleted, {h}}}));
    EXPECT_FALSE(state().drinking);

    // The game has given the old handle to a newer prompt (another script's, the
    // refill prompt) and answers its completion: the test still asks about the old
    // handle, and starts nothing.
    world().prompts[h].completed = true;
    const int r = tickAt(T + 99);
    EXPECT_TRUE(sameNatives(callsOf(r, UiPromptHasHoldModeCompleted), {{UiPromptHasHoldModeCompleted, {h}}}));
    EXPECT_EQ(count(r, IsPedOnFoot), 0) << "a completion of a prompt deleted before counted as a trigger";
    EXPECT_FALSE(state().drinking);
}

// A completion counts for the drink prompt whenever it can be the player's: the
// handle 0 before any prompt was made, a prompt made in the frame, and one that the
// frame's own upkeep deletes (completed in the very frame it toggles off).
TEST_F(DrinkPrompt, ACompletionCountsForAPromptNotDeletedBeforeTheFrame) {
    const struct {
        const char* name;
        bool madeBefore; // a prompt is shown before the frame
        bool guardsPass; // the frame's upkeep toggles it
    } cases[] = {
        {"handle 0, no prompt made yet", false, false},
        {"a prompt made in the frame", false, true},
        {"a prompt the frame's upkeep deletes", true, true},
    };
    for (const auto& c : cases) {
        begin();
        if (c.madeBefore) {
            world().satchelReleased = 1;
            tickAt(T);
            ASSERT_TRUE(state().drinkPromptActive) << c.name;
        }
        world().satchelReleased = c.guardsPass ? 1 : 0;
        // The game answers the completion of whatever handle the test asks about.
        world().overrides[UiPromptHasHoldModeCompleted] = [](const sim::Call&, uint64_t* r) {
            r[0] = 1;
            return true;
        };
        const int f = tickAt(T + 33);
        EXPECT_EQ(count(f, UiPromptHasHoldModeCompleted), 1) << c.name;
        EXPECT_TRUE(state().drinking) << c.name << ": no drink started";
        sim::stop();
    }
}

TEST_F(DrinkPrompt, ATriggerWhileDrinkingLeavesTheDrinkAsItIs) {
    begin();
    startDrinkAt(T);
    world().satchelReleased = 1; // the guards pass, but no prompt is made while drinking
    const int f = pressKeyAt(T + 1000);
    for (uint64_t hash : {IsPedOnFoot, UiPromptRegisterBegin, ClearPedTasks, TaskStartScenarioInPlaceHash})
        EXPECT_EQ(count(f, hash), 0);
    EXPECT_EQ(count(f, DrawSprite), 5);
    EXPECT_TRUE(state().drinking);
    EXPECT_FALSE(state().drinkPromptActive);
    EXPECT_EQ(state().sipStartTime, T + 5500) << "the drink keeps its start";
}

} // namespace
