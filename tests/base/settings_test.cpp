// The settings file, read once at load, with its defaults and conversions.
#include "drink_fixture.h"
#include "plugin_test.h"

#include <filesystem>
#include <fstream>

namespace {

class SettingsFile : public PluginTest {
  protected:
    // The settings a load makes of "[SETTINGS]\n" + body.
    Settings loadWith(const std::string& body) {
        const std::string text = "[SETTINGS]\n" + body;
        start(text.c_str());
        Settings s = settings();
        sim::stop();
        return s;
    }
    int32_t soberUpFor(const char* value) {
        return loadWith(std::string("SOBER_UP_TIME=") + value + "\n").soberUpInterval;
    }
};

TEST_F(SettingsFile, WithoutAFileEveryDefaultApplies) {
    start();
    EXPECT_EQ(settings().drinkKey, 79);
    EXPECT_EQ(settings().deadeyeLockThreshold, 60);
    EXPECT_TRUE(settings().healWhenDrunk);
    EXPECT_EQ(settings().refillPrice, 10);
    EXPECT_EQ(settings().soberUpInterval, 110);
}

TEST_F(SettingsFile, MissingKeysAndOtherSectionsTakeTheirDefaults) {
    Settings s = loadWith("REFILL_PRICE=25\n[OTHER]\nTOLVENMIRE_KEY=80\n");
    EXPECT_EQ(s.refillPrice, 25);
    EXPECT_EQ(s.drinkKey, 79);
    EXPECT_EQ(s.deadeyeLockThreshold, 60);
    EXPECT_TRUE(s.healWhenDrunk);
    EXPECT_EQ(s.soberUpInterval, 110);

    s = loadWith("TOLVENMIRE_KEY=80\nDEADEYE_LOCK_THRESHOLD=45\nHEAL_WHEN_DRUNK=0\nREFILL_PRICE=0\nSOBER_UP_"
                 "TIME=50\n");
    EXPECT_EQ(s.drinkKey, 80);
    EXPECT_EQ(s.deadeyeLockThreshold, 45);
    EXPECT_FALSE(s.healWhenDrunk);
    EXPECT_EQ(s.refillPrice, 0);
    EXPECT_EQ(s.soberUpInterval, 55);
}

TEST_F(SettingsFile, HealWhenDrunkIsAnyNonZeroValue) {
    EXPECT_FALSE(loadWith("HEAL_WHEN_DRUNK=0\n").healWhenDrunk);
    EXPECT_TRUE(loadWith("HEAL_WHEN_DRUNK=2\n").healWhenDrunk);
    EXPECT_TRUE(loadWith("HEAL_WHEN_DRUNK=-1\n").healWhenDrunk);
}

TEST_F(SettingsFile, KeysOutsideTheTableAreStoredAsRead) {
    EXPECT_EQ(loadWith("TOLVENMIRE_KEY=255\n").drinkKey, 255);
    EXPECT_EQ(loadWith("TOLVENMIRE_KEY=1000\n").drinkKey, 1000);
    EXPECT_EQ(loadWith("TOLVENMIRE_KEY=-5\n").drinkKey, -5);
    EXPECT_EQ(loadWith("DEADEYE_LOCK_THRESHOLD=-7\n").deadeyeLockThreshold, -7);
}

TEST_F(SettingsFile, SoberUpTimeIsScaledByOnePointOneInSinglePrecision) {
    EXPECT_EQ(soberUpFor("0"), 0);
    EXPECT_EQ(soberUpFor("1"), 1);
    EXPECT_EQ(soberUpFor("9"), 9);
    EXPECT_EQ(soberUpFor("10"), 11);
    EXPECT_EQ(soberUpFor("100"), 110);
    // Single-precision rounding decides at large values: one more than v x 11 / 10.
    EXPECT_EQ(soberUpFor("16777216"), 18454938);
    // The largest value whose product stays below 2^31.
    EXPECT_EQ(soberUpFor("1952257727"), 2147483520);
}

TEST_F(SettingsFile, ASoberUpTimeBeyondTheRangeGetsTheDefaultInterval) {
    // The product reaches 2^31: no meaningful interval, so the default's.
    EXPECT_EQ(soberUpFor("1952257728"), 110);
    EXPECT_EQ(soberUpFor("4000000000"), 110);
    // Negative values come back unsigned, far beyond the range.
    EXPECT_EQ(soberUpFor("-1"), 110);
    EXPECT_EQ(soberUpFor("-100"), 110);
}

// The answers of the six reads are kept as GetPrivateProfileIntA gave them, before
// any conversion (a recording holds them, and a replay writes them back).
TEST_F(SettingsFile, TheSixAnswersAreKeptAsRead) {
    struct Case {
        const char* body;
        uint32_t answers[6];
        bool recordSession;
    } cases[] = {
        {"", {79, 60, 1, 10, 100, 0}, false},
        {"SOBER_UP_TIME=-1\nHEAL_WHEN_DRUNK=7\nRECORD_SESSION=1\n", {79, 60, 7, 10, 0xFFFFFFFF, 1}, true},
        {"TOLVENMIRE_KEY=-5\nREFILL_PRICE=25\nRECORD_SESSION=-2\n",
         {0xFFFFFFFB, 60, 1, 25, 100, 0xFFFFFFFE},
         true},
    };
    for (const Case& c : cases) {
        const Settings s = loadWith(c.body);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(s.answers[k], c.answers[k]) << c.body << " key " << k;
        EXPECT_EQ(s.recordSession, c.recordSession) << c.body;
    }
}

// Every way a player may write the drink key, each with the key it drinks on: by
// name in any case, as a number exactly as GetPrivateProfileIntA reads one (signs,
// leading blanks, trailing text, a prefix), and the default O for a text that is
// neither, as for a missing key.
class DrinkKeySetting : public drink::DrinkTest {
  protected:
    // Whether a press of `code` starts a drink, with the drink key written `text`.
    bool drinksOn(const std::string& text, uint32_t code, int32_t* drinkKey = nullptr) {
        begin(("[SETTINGS]\nTOLVENMIRE_KEY=" + text + "\n").c_str());
        if (drinkKey) *drinkKey = settings().drinkKey;
        sim::keyEvent(code, 0, 0, 1);
        tickAt(200000);
        const bool drinking = state().drinking;
        sim::stop();
        return drinking;
    }
};

TEST_F(DrinkKeySetting, DrinksOnTheKeyThePlayerNamed) {
    const struct {
        const char* text;
        int32_t key;
    } rows[] = {
        {"P", 80},         {"p", 80},     {"F5", 116},      {"NumPad0", 96},   {"D7", 55},
        {"Q0", 79},        {"80", 80},    {" 80", 80},      {"80abc", 80},     {"+80", 80},
        {"0x50", 80},      {"\"P\"", 80}, {"numpad9", 105}, {"PageUp", 33},    {"Prior", 33},
        {"OemMinus", 189}, {"Enter", 13}, {"F24", 135},     {"Space", 32},     {"oemclear", 254},
        {"", 79},          {"-", 79},     {"0", 0},         {"P ; drink", 79},
    };
    for (const auto& row : rows) {
        int32_t drinkKey = -1;
        EXPECT_TRUE(drinksOn(row.text, (uint32_t)row.key, &drinkKey)) << row.text;
        EXPECT_EQ(drinkKey, row.key) << row.text;
    }
    // A key the player did not name does not drink.
    EXPECT_FALSE(drinksOn("P", 79));
    EXPECT_FALSE(drinksOn("Q0", 80));
}

// The other settings take what the player meant: a switch its words, a number the
// default when its text is no number, as for a missing key; numbers read as before.
TEST_F(SettingsFile, EverySettingTakesWhatThePlayerMeant) {
    const struct {
        const char* body;
        int32_t threshold, price, interval;
        bool heal;
    } rows[] = {
        {"REFILL_PRICE=ten\n", 60, 10, 110, true},
        {"REFILL_PRICE=12 dollars\n", 60, 12, 110, true},
        {"REFILL_PRICE=-\n", 60, 10, 110, true},
        {"REFILL_PRICE=0x\n", 60, 0, 110, true},
        {"DEADEYE_LOCK_THRESHOLD=off\nSOBER_UP_TIME=slow\n", 60, 10, 110, true},
        {"DEADEYE_LOCK_THRESHOLD=\"45\"\nSOBER_UP_TIME= 10\n", 45, 10, 11, true},
        {"HEAL_WHEN_DRUNK=yes\n", 60, 10, 110, true},
        {"HEAL_WHEN_DRUNK=No\n", 60, 10, 110, false},
        {"HEAL_WHEN_DRUNK=OFF\n", 60, 10, 110, false},
        {"HEAL_WHEN_DRUNK=false\n", 60, 10, 110, false},
        {"HEAL_WHEN_DRUNK=TRUE\n", 60, 10, 110, true},
        {"HEAL_WHEN_DRUNK=0abc\n", 60, 10, 110, false},
        {"HEAL_WHEN_DRUNK=nope\n", 60, 10, 110, true},
        {"HEAL_WHEN_DRUNK=P\n", 60, 10, 110, true},
    };
    for (const auto& row : rows) {
        const Settings s = loadWith(row.body);
        EXPECT_EQ(s.deadeyeLockThreshold, row.threshold) << row.body;
        EXPECT_EQ(s.refillPrice, row.price) << row.body;
        EXPECT_EQ(s.soberUpInterval, row.interval) << row.body;
        EXPECT_EQ(s.healWhenDrunk, row.heal) << row.body;
    }
    for (const char* on : {"1", "on", "Yes", "true", "7"}) {
        start((std::string("[SETTINGS]\nRECORD_SESSION=") + on + "\n").c_str());
        sim::playFrames(1); // the script's start begins the recording
        EXPECT_TRUE(settings().recordSession) << on;
        EXPECT_TRUE(std::filesystem::exists(sim::workDir() + "/Tolvenmire.rec")) << on;
        sim::stop();
    }
    for (const char* off : {"0", "off", "no", "FALSE", "maybe", ""})
        EXPECT_FALSE(loadWith(std::string("RECORD_SESSION=") + off + "\n").recordSession) << off;
}

TEST_F(SettingsFile, EditingTheFileWhileLoadedChangesNothing) {
    start("[SETTINGS]\nREFILL_PRICE=12\n");
    sim::playFrames(3);
    std::ofstream(sim::workDir() + "/Tolvenmire.ini") << "[SETTINGS]\nREFILL_PRICE=99\n";
    sim::playFrames(3);
    EXPECT_EQ(settings().refillPrice, 12);
}

} // namespace
