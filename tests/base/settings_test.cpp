// The settings file, read once at load, with its defaults and conversions.
#include "plugin_test.h"

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

TEST_F(SettingsFile, EditingTheFileWhileLoadedChangesNothing) {
    start("[SETTINGS]\nREFILL_PRICE=12\n");
    sim::playFrames(3);
    std::ofstream(sim::workDir() + "/Tolvenmire.ini") << "[SETTINGS]\nREFILL_PRICE=99\n";
    sim::playFrames(3);
    EXPECT_EQ(settings().refillPrice, 12);
}

} // namespace
