// The last step of every frame: which interior the player is in, whether that
// saloon's bartender is targeted from close by, and the "Refill Flask" prompt that
// follows from it.
#include "plugin_test.h"
#include "standin/native_table.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

struct Saloon {
    int32_t interior;
    const char* voice;
    uint32_t model;
};

// A bartender's voice is the game's name of the bartender's model behind a four-digit
// number; the model hash the plug-in must accept is the game's hash of that name, so
// serving each saloon's bartender proves its row against the game's own names.
Saloon saloon(int32_t interior, const char* voice) { return {interior, voice, sim::nameHash(voice + 5)}; }
const Saloon Saloons[8] = {
    saloon(5634, "1087_U_M_M_TUMBARTENDER_01"),  saloon(21250, "0475_U_M_M_VALBARTENDER_01"),
    saloon(37378, "0312_U_M_M_NBXBARTENDER_02"), saloon(39426, "1038_U_F_M_VHTBARTENDER_01"),
    saloon(41218, "0080_U_M_O_BLWBARTENDER_01"), saloon(53762, "0311_U_M_M_NBXBARTENDER_01"),
    saloon(54274, "0397_U_M_M_RHDBARTENDER_01"), saloon(56834, "1077_U_M_O_ARMBARTENDER_01"),
};
const Saloon& ValentineSaloon = Saloons[1];

class SaloonCheck : public PluginTest {
  protected:
    // The player stands in `interior` at a point away from the origin, targeting a
    // ped of `model` `distance` units along x.
    static void targetPed(int32_t interior, uint32_t model, float distance = 2.0f) {
        world().interior = interior;
        world().playerX = 10.5f;
        world().playerY = -3.25f;
        world().playerZ = 7.0f;
        sim::Ped ped;
        ped.handle = Bartender;
        ped.model = model;
        ped.x = world().playerX + distance;
        ped.y = world().playerY;
        ped.z = world().playerZ;
        ped.promptGroup = 77;
        world().peds[Bartender] = ped;
        world().target = Bartender;
    }
    // The calls SaloonCheck made in a frame: from the interior query to the end.
    static std::vector<sim::Call> saloonPart(int frame) {
        std::vector<sim::Call> natives = nativesIn(frame);
        size_t from = natives.size();
        for (size_t k = 0; k < natives.size(); ++k)
            if (natives[k].hash == natives::GetInteriorFromEntity) from = k;
        EXPECT_LT(from, natives.size()) << "frame " << frame << " never asked for the interior";
        return std::vector<sim::Call>(natives.begin() + (long)std::min(from, natives.size()), natives.end());
    }
    static std::vector<uint64_t> hashes(const std::vector<sim::Call>& calls) {
        std::vector<uint64_t> out;
        for (const sim::Call& c : calls) out.push_back(c.hash);
        return out;
    }
    static int count(const std::vector<sim::Call>& calls, uint64_t hash) {
        int n = 0;
        for (const sim::Call& c : calls) n += c.hash == hash;
        return n;
    }
    // Shows the prompt to a targeted Valentine bartender and returns its handle.
    static int32_t showPrompt() {
        targetPed(ValentineSaloon.interior, ValentineSaloon.model);
        sim::playFrames(1);
        EXPECT_TRUE(state().refillPromptActive);
        return state().refillPrompt;
    }
    static uint64_t targetAddress() { return (uint64_t)(uintptr_t)&sim::pluginState()->targetPed; }
    // Plays on from the frame that started a refill until the script is back in its
    // loop: every frame of the refill ends with the meters.
    static void playOutRefill() {
        for (int n = 0; n < 2000; ++n) {
            std::vector<uint64_t> h = hashesIn(nextFrame());
            if (h.empty() || h.back() != natives::DrawSprite) return;
        }
        ADD_FAILURE() << "the refill never ended";
    }
};

TEST_F(SaloonCheck, OutsideTheSaloonsOnlyTheInteriorIsAskedAndAShownPromptStays) {
    start();
    world().playerPed = -77; // a handle goes in as its 32 bits, not widened with its sign
    const int32_t prompt = showPrompt();
    world().prompts[prompt].completed = true;
    // Outside, and in interiors that only resemble a saloon's identifier.
    for (int32_t interior : {0, 5633, 5635, 0x00011602, -5634, -1}) {
        world().interior = interior;
        const int f = nextFrame();
        const std::vector<sim::Call> natives = nativesIn(f);
        ASSERT_FALSE(natives.empty());
        const sim::Call& last = natives.back();
        EXPECT_EQ(last.hash, natives::GetInteriorFromEntity) << "interior " << interior;
        EXPECT_EQ(last.argc, 1);
        EXPECT_EQ(last.args[0], 0xFFFFFFB3u);
        EXPECT_EQ(count(natives, natives::GetInteriorFromEntity), 1);
        for (uint64_t h : {natives::GetPlayerInteractionTargetEntity, natives::GetEntityModel,
                           natives::UiPromptDelete, natives::UiPromptRegisterBegin})
            EXPECT_EQ(count(natives, h), 0) << "interior " << interior << " native " << std::hex << h;
        // The drink prompt's own completion test uses handle 0; the refill prompt is
        // not tested outside.
        for (const sim::Call& c : natives)
            if (c.hash == natives::UiPromptHasHoldModeCompleted) {
                EXPECT_NE(c.i32(0), prompt);
            }
    }
    EXPECT_TRUE(state().refillPromptActive);
    EXPECT_TRUE(world().prompts[prompt].alive);
    EXPECT_TRUE(world().speech.empty()) << "a completed prompt outside the saloon does nothing";

    // Back at the bar, the completed prompt is seen at once.
    world().interior = ValentineSaloon.interior;
    nextFrame();
    EXPECT_FALSE(world().prompts[prompt].alive);
    ASSERT_EQ(world().speech.size(), 1u);
    EXPECT_EQ(world().speech[0].voice, ValentineSaloon.voice);
}

TEST_F(SaloonCheck, NoTargetOrATargetOfAnotherModelWithdrawsThePrompt) {
    start();
    const int32_t first = showPrompt();

    // A ped of another model: asked for, rejected, prompt deleted.
    world().peds[Bartender].model = 0x0D7114C9;
    std::vector<sim::Call> part = saloonPart(nextFrame());
    ASSERT_EQ(hashes(part), (std::vector<uint64_t>{natives::GetInteriorFromEntity,
                                                   natives::GetPlayerInteractionTargetEntity,
                                                   natives::GetEntityModel, natives::UiPromptDelete}));
    EXPECT_EQ(part[0].args[0], (uint64_t)(uint32_t)world().playerPed);
    EXPECT_EQ(part[1].argc, 4);
    EXPECT_EQ(part[1].args[0], 0u);
    EXPECT_EQ(part[1].args[1], targetAddress()) << "the game writes the target into targetPed";
    EXPECT_EQ(part[1].args[2], 1u);
    EXPECT_EQ(part[1].args[3], 1u);
    EXPECT_EQ(part[2].args[0], (uint64_t)Bartender);
    EXPECT_EQ(part[3].args[0], (uint64_t)(uint32_t)first);
    EXPECT_FALSE(state().refillPromptActive);
    EXPECT_FALSE(world().prompts[first].alive);
    // With no prompt shown, the same frame deletes nothing.
    part = saloonPart(nextFrame());
    EXPECT_EQ(hashes(part),
              (std::vector<uint64_t>{natives::GetInteriorFromEntity,
                                     natives::GetPlayerInteractionTargetEntity, natives::GetEntityModel}));

    // The bartender again: a new prompt. Then no target at all: withdrawn without
    // looking at any model.
    world().peds[Bartender].model = ValentineSaloon.model;
    nextFrame();
    ASSERT_TRUE(state().refillPromptActive);
    const int32_t second = state().refillPrompt;
    EXPECT_NE(second, first);
    world().target = 0;
    part = saloonPart(nextFrame());
    ASSERT_EQ(hashes(part),
              (std::vector<uint64_t>{natives::GetInteriorFromEntity,
                                     natives::GetPlayerInteractionTargetEntity, natives::UiPromptDelete}));
    EXPECT_EQ(part[2].args[0], (uint64_t)(uint32_t)second);
    EXPECT_FALSE(state().refillPromptActive);
    part = saloonPart(nextFrame());
    EXPECT_EQ(hashes(part), (std::vector<uint64_t>{natives::GetInteriorFromEntity,
                                                   natives::GetPlayerInteractionTargetEntity}));
    for (const auto& [handle, p] : world().prompts) EXPECT_FALSE(p.alive) << "prompt " << handle;
}

TEST_F(SaloonCheck, ABartenderFiveUnitsAwayOrAtNoDistanceIsOutOfReach) {
    start();
    // Exactly 5.0 away with no prompt: measured, nothing created.
    targetPed(ValentineSaloon.interior, ValentineSaloon.model, 5.0f);
    std::vector<sim::Call> part = saloonPart(nextFrame());
    ASSERT_EQ(hashes(part),
              (std::vector<uint64_t>{natives::GetInteriorFromEntity,
                                     natives::GetPlayerInteractionTargetEntity, natives::GetEntityModel,
                                     natives::GetEntityCoords, natives::GetEntityCoords, natives::Vdist}));
    EXPECT_EQ(part[3].argc, 3);
    EXPECT_EQ(part[3].args[0], (uint64_t)(uint32_t)world().playerPed);
    EXPECT_EQ(part[3].args[1], 1u);
    EXPECT_EQ(part[3].args[2], 0u);
    EXPECT_EQ(part[4].args[0], (uint64_t)Bartender);
    EXPECT_EQ(part[4].args[1], 1u);
    EXPECT_EQ(part[4].args[2], 0u);
    // The player's point first, then the bartender's, each float in its own slot.
    ASSERT_EQ(part[5].argc, 6);
    const float expected[6] = {10.5f, -3.25f, 7.0f, 15.5f, -3.25f, 7.0f};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(part[5].args[k], (uint64_t)floatBits(expected[k])) << "slot " << k;
    EXPECT_EQ(part[5].resultFloat(), 5.0f);
    EXPECT_FALSE(state().refillPromptActive);

    // Just inside: shown and tested.
    world().peds[Bartender].x = world().playerX + 4.99f;
    part = saloonPart(nextFrame());
    EXPECT_EQ(count(part, natives::UiPromptRegisterBegin), 1);
    EXPECT_EQ(hashes(part).back(), natives::UiPromptHasHoldModeCompleted);
    const int32_t prompt = state().refillPrompt;
    ASSERT_TRUE(state().refillPromptActive);

    // A completed prompt at 5.0, or at a distance that is not a number, is neither
    // tested nor deleted; both leave it as it is for as long as they last.
    world().prompts[prompt].completed = true;
    for (int pass = 0; pass < 2; ++pass) {
        world().peds[Bartender].x = world().playerX + 5.0f;
        world().distanceIsNaN = pass == 1;
        for (int f = 0; f < 3; ++f) {
            part = saloonPart(nextFrame());
            EXPECT_EQ(hashes(part).back(), natives::Vdist) << (pass ? "NaN" : "5.0");
            if (pass == 1) {
                EXPECT_TRUE(std::isnan(part.back().resultFloat()));
            }
        }
    }
    EXPECT_TRUE(state().refillPromptActive);
    EXPECT_TRUE(world().prompts[prompt].alive);
    EXPECT_TRUE(world().speech.empty());

    // In reach again, the prompt that stood the whole time is the one completed.
    world().distanceIsNaN = false;
    world().peds[Bartender].x = world().playerX + 1.0f;
    part = saloonPart(nextFrame());
    ASSERT_GE(part.size(), 9u);
    EXPECT_EQ(count(part, natives::UiPromptRegisterBegin), 0);
    EXPECT_EQ(part[6].hash, natives::UiPromptHasHoldModeCompleted);
    EXPECT_EQ(part[6].args[0], (uint64_t)(uint32_t)prompt);
    EXPECT_EQ(part[7].hash, natives::UiPromptDelete);
    EXPECT_EQ(part[7].args[0], (uint64_t)(uint32_t)prompt);
    EXPECT_FALSE(world().prompts[prompt].alive);
    EXPECT_EQ(world().speech.size(), 1u) << "the refill has begun";
}

TEST_F(SaloonCheck, EachSaloonServesOnlyItsOwnBartenderInItsOwnVoice) {
    start();
    for (const Saloon& saloon : Saloons) {
        // Every other saloon's bartender is turned away, the two at Saint Denis too.
        for (const Saloon& other : Saloons) {
            targetPed(saloon.interior, other.model);
            std::vector<sim::Call> part = saloonPart(nextFrame());
            ASSERT_GE(part.size(), 3u);
            EXPECT_EQ(part[2].hash, natives::GetEntityModel);
            EXPECT_EQ((uint32_t)part[2].result[0], other.model);
            EXPECT_EQ(state().refillPromptActive, &other == &saloon)
                << "interior " << saloon.interior << " with the bartender of " << other.interior;
            world().target = 0;
            nextFrame();
            ASSERT_FALSE(state().refillPromptActive);
        }
        // Its own bartender: served, speaking in that saloon's voice.
        targetPed(saloon.interior, saloon.model);
        nextFrame();
        ASSERT_TRUE(state().refillPromptActive);
        world().prompts[state().refillPrompt].completed = true;
        const size_t spoken = world().speech.size();
        nextFrame();
        playOutRefill();
        ASSERT_GE(world().speech.size(), spoken + 1);
        EXPECT_EQ(world().speech[spoken].speaker, Bartender);
        EXPECT_EQ(world().speech[spoken].line, "CHAT_PREPARE_DRINK");
        EXPECT_EQ(world().speech[spoken].voice, saloon.voice) << "interior " << saloon.interior;
        world().target = 0;
        nextFrame();
    }
    EXPECT_EQ(world().charges.size(), 8u);
    // Van Horn's barmaid is U_F_M_VHTBARTENDER_01; the hash the row once had,
    // 0x1B92FA61, names no ped of the game, and whoever has it is offered nothing.
    EXPECT_EQ(Saloons[3].model, 0x3E471440u);
    targetPed(Saloons[3].interior, 0x1B92FA61);
    nextFrame();
    EXPECT_FALSE(state().refillPromptActive);
}

TEST_F(SaloonCheck, ThePromptIsBuiltInTheBartendersGroupAndTestedInTheSameFrame) {
    start();
    world().nextPromptHandle = -5; // a handle goes in as its 32 bits
    targetPed(ValentineSaloon.interior, ValentineSaloon.model);
    world().peds[Bartender].promptGroup = -7; // the group goes in widened with its sign
    const int f = nextFrame();
    const std::vector<sim::Call> part = saloonPart(f);
    const std::vector<uint64_t> expectedHashes = {natives::GetInteriorFromEntity,
                                                  natives::GetPlayerInteractionTargetEntity,
                                                  natives::GetEntityModel,
                                                  natives::GetEntityCoords,
                                                  natives::GetEntityCoords,
                                                  natives::Vdist,
                                                  natives::UiPromptRegisterBegin,
                                                  natives::UiPromptSetControlAction,
                                                  natives::VarString,
                                                  natives::UiPromptSetText,
                                                  natives::UiPromptSetHoldMode,
                                                  natives::UiPromptGetGroupIdForTargetEntity,
                                                  natives::UiPromptSetGroup,
                                                  natives::UiPromptSetPriority,
                                                  natives::UiPromptRegisterEnd,
                                                  natives::UiPromptSetVisible,
                                                  natives::UiPromptSetEnabled,
                                                  natives::UiPromptHasHoldModeCompleted};
    ASSERT_EQ(hashes(part), expectedHashes);

    const int32_t handle = part[6].resultInt();
    EXPECT_EQ(handle, -5);
    EXPECT_EQ(part[6].argc, 0);
    const uint64_t h = 0xFFFFFFFBu;
    auto expectArgs = [&](const sim::Call& c, std::vector<uint64_t> args) {
        ASSERT_EQ(c.argc, (int)args.size()) << sim::describe(c);
        for (size_t k = 0; k < args.size(); ++k)
            EXPECT_EQ(c.args[k], args[k]) << sim::describe(c) << " slot " << k;
    };
    expectArgs(part[7], {h, 0x84543902u});
    ASSERT_EQ(part[8].argc, 3);
    EXPECT_EQ(part[8].args[0], 10u);
    EXPECT_EQ(part[8].str(1), "LITERAL_STRING");
    EXPECT_EQ(part[8].str(2), "Refill Flask");
    // The label text handle is passed on whole, all 64 bits.
    expectArgs(part[9], {h, part[8].result[0]});
    expectArgs(part[10], {h, 1});
    expectArgs(part[11], {(uint64_t)Bartender});
    EXPECT_EQ(part[11].resultInt(), -7);
    expectArgs(part[12], {h, 0xFFFFFFFFFFFFFFF9ull, 0});
    expectArgs(part[13], {h, 3});
    expectArgs(part[14], {h});
    expectArgs(part[15], {h, 1});
    expectArgs(part[16], {h, 1});
    expectArgs(part[17], {h});
    EXPECT_EQ(part[17].resultInt(), 0);

    EXPECT_TRUE(state().refillPromptActive);
    EXPECT_EQ(state().refillPrompt, -5);
    const sim::Prompt& p = world().prompts[-5];
    EXPECT_EQ(p.label, "Refill Flask");
    EXPECT_EQ(p.control, 0x84543902u);
    EXPECT_TRUE(p.grouped);
    EXPECT_EQ(p.group, -7);
    EXPECT_EQ(p.groupArg, 0);
    EXPECT_TRUE(p.setupFinished);
    EXPECT_EQ(p.createdFrame, f);

    // The flask is full and that does not matter. While the bartender stays in
    // reach, the one prompt is tested every frame and never built again.
    EXPECT_EQ(state().flaskLevel, 99);
    for (int n = 0; n < 5; ++n) {
        const std::vector<sim::Call> again = saloonPart(nextFrame());
        EXPECT_EQ(count(again, natives::UiPromptRegisterBegin), 0);
        ASSERT_FALSE(again.empty());
        EXPECT_EQ(again.back().hash, natives::UiPromptHasHoldModeCompleted);
        EXPECT_EQ(again.back().args[0], h);
    }
    EXPECT_EQ(world().prompts.size(), 1u);
}

} // namespace
