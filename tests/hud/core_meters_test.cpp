// The two meters drawn in every drinking frame: the flask on the left, the intake
// on the right, each a level sprite, a background and an icon.
#include "drink_fixture.h"

namespace {

using namespace drink;

Native sprite(const char* dictionary, const char* texture, float x, float width, float height, float rotation,
              int32_t red, int32_t green, int32_t blue, int32_t alpha) {
    return {DrawSprite, {dictionary, texture, x, 0.93f, width, height, rotation, red, green, blue, alpha, 0}};
}
Native flaskLevelSprite(const std::string& texture) {
    return sprite("RPG_METER", texture.c_str(), 0.47f, 0.025f, 0.043f, 0.0f, 235, 235, 235, 235);
}
Native flaskBackground() {
    return sprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.47f, 0.024f, 0.042f, 0.0f, 0, 0, 0, 240);
}
Native flaskIcon() {
    return sprite("INVENTORY_ITEMS", "CONSUMABLE_MOONSHINE", 0.47f, 0.013f, 0.0225f, 0.0f, 235, 235, 235,
                  235);
}
Native intakeLevelSprite(const std::string& texture) {
    return sprite("RPG_METER", texture.c_str(), 0.53f, 0.025f, 0.043f, 180.0f, 235, 235, 235, 235);
}
Native intakeBackground() {
    return sprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.53f, 0.024f, 0.042f, 0.0f, 0, 0, 0, 240);
}
Native intakeIcon() {
    return sprite("BLIPS", "BLIP_AMBIENT_THEATRE", 0.53f, 0.013f, 0.0225f, 0.0f, 235, 235, 235, 235);
}

class CoreMeters : public DrinkTest {};

TEST_F(CoreMeters, TwoMetersOfThreeSpritesEachComeBeforeTheStopControls) {
    begin();
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(7, t);
    const int f = tickAt(t + 50); // no sip in this frame
    ASSERT_EQ(state().flaskLevel, 98);
    std::vector<sim::Call> calls = nativesIn(f);
    ASSERT_GE(calls.size(), 13u);
    // After the frame values, the guards and the completion test.
    EXPECT_TRUE(sameNatives(std::vector<sim::Call>(calls.begin() + 6, calls.begin() + 13),
                            {flaskLevelSprite("RPG_METER_98"),
                             flaskBackground(),
                             flaskIcon(),
                             intakeLevelSprite("RPG_METER_7"),
                             intakeBackground(),
                             intakeIcon(),
                             {GetControlNormal, {0, StopControlA}}}));
    // The exact bits of a few of the constants, as the game receives them.
    const sim::Call& first = calls[6];
    EXPECT_EQ(first.args[2], 0x3EF0A3D7u);    // 0.47
    EXPECT_EQ(first.args[3], 0x3F6E147Bu);    // 0.93
    EXPECT_EQ(first.args[5], 0x3D3020C5u);    // 0.043
    EXPECT_EQ(calls[9].args[6], 0x43340000u); // 180.0
    EXPECT_EQ(calls[8].args[5], 0x3CB851ECu); // 0.0225
}

TEST_F(CoreMeters, ALevelOfZeroDrawsItsMeterWithoutTheLevelSprite) {
    begin();
    startDrinkAt(T); // a full flask, nothing drunk yet
    EXPECT_TRUE(
        sameNatives(callsOf(sim::frame(), DrawSprite), {flaskLevelSprite("RPG_METER_99"), flaskBackground(),
                                                        flaskIcon(), intakeBackground(), intakeIcon()}));
    sim::stop();

    begin(nullptr, "0");
    startDrinkAt(T);
    EXPECT_TRUE(sameNatives(callsOf(sim::frame(), DrawSprite),
                            {flaskBackground(), flaskIcon(), intakeBackground(), intakeIcon()}));

    // A flask emptied by the last sip: the next frame shows the intake alone.
    sim::stop();
    begin(nullptr, "1");
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(4, t);
    ASSERT_EQ(state().flaskLevel, 0);
    const int f = tickAt(t + 50);
    EXPECT_TRUE(
        sameNatives(callsOf(f, DrawSprite), {flaskBackground(), flaskIcon(), intakeLevelSprite("RPG_METER_4"),
                                             intakeBackground(), intakeIcon()}));
}

TEST_F(CoreMeters, EachFrameShowsTheLevelsItBeganWithAndTheIntakeMeterStopsAt99) {
    begin();
    startDrinkAt(T);
    int32_t t = T + 5380;
    int checked = 0;
    bool saw98 = false, saw99 = false, saw121 = false;
    while (state().drinking && checked < 200) {
        const int32_t flask = state().flaskLevel;
        const int32_t intake = state().intakeLevel;
        t += 121;
        const int f = tickAt(t);
        const std::vector<sim::Call> sprites = callsOf(f, DrawSprite);
        ASSERT_EQ(sprites.size(), intake == 0 ? 5u : 6u);
        EXPECT_EQ(sprites[0].str(1), "RPG_METER_" + std::to_string(flask));
        if (intake != 0) {
            const std::string expected = "RPG_METER_" + std::to_string(intake <= 98 ? intake : 99);
            EXPECT_EQ(sprites[3].str(1), expected) << "intakeLevel " << intake;
        }
        saw98 = saw98 || intake == 98;
        saw99 = saw99 || intake == 99;
        saw121 = saw121 || intake == 121;
        ++checked;
    }
    EXPECT_TRUE(saw98 && saw99 && saw121);
    EXPECT_FALSE(state().drinking);
}

TEST_F(CoreMeters, AFlaskLevelOutsideZeroTo99IsShownAsItIs) {
    for (const char* level : {"150", "-3", "-2147483648", "2147483647"}) {
        begin(nullptr, level);
        startDrinkAt(T);
        const std::vector<sim::Call> sprites = callsOf(sim::frame(), DrawSprite);
        ASSERT_EQ(sprites.size(), 5u);
        EXPECT_EQ(sprites[0].str(1), std::string("RPG_METER_") + level);
        sim::stop();
    }
}

} // namespace
