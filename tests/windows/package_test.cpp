// The settings file the player's package ships, read by the real plug-in through
// Windows' own GetPrivateProfileStringA: as shipped it gives every default, and each
// of its six keys is live (not commented out, misspelt or outside [SETTINGS]), so
// that a player who edits a value gets it, as a name or a word where the file has one.
#include "plugin_test.h"

#include <fstream>
#include <sstream>

namespace {

std::string shippedSettings() {
    std::ifstream in(TOLVENMIRE_SHIPPED_SETTINGS, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ShippedSettings : public PluginTest {
  protected:
    void SetUp() override {
        text = shippedSettings();
        ASSERT_FALSE(text.empty()) << TOLVENMIRE_SHIPPED_SETTINGS << ": missing or empty";
    }
    // The shipped text with `key`'s line set to `value`; fails the test when the
    // file has no such line.
    std::string withValue(const std::string& key, const std::string& shipped, const std::string& value) {
        const std::string line = "\r\n" + key + "=" + shipped + "\r\n";
        const size_t at = text.find(line);
        EXPECT_NE(at, std::string::npos)
            << "no line " << key << "=" << shipped << " (with Windows line ends)";
        if (at == std::string::npos) return text;
        std::string edited = text;
        edited.replace(at, line.size(), "\r\n" + key + "=" + value + "\r\n");
        return edited;
    }
    std::string text;
};

TEST_F(ShippedSettings, GiveEveryDefault) {
    start(text.c_str());
    EXPECT_EQ(settings().drinkKey, 79);
    EXPECT_EQ(settings().deadeyeLockThreshold, 60);
    EXPECT_TRUE(settings().healWhenDrunk);
    EXPECT_EQ(settings().refillPrice, 10);
    EXPECT_EQ(settings().soberUpInterval, 110);
    EXPECT_FALSE(settings().recordSession);
}

TEST_F(ShippedSettings, EachKeyIsReadWhenEdited) {
    start(withValue("TOLVENMIRE_KEY", "O", "P").c_str());
    EXPECT_EQ(settings().drinkKey, 80);
    sim::stop();

    start(withValue("TOLVENMIRE_KEY", "O", "80").c_str());
    EXPECT_EQ(settings().drinkKey, 80);
    sim::stop();

    start(withValue("DEADEYE_LOCK_THRESHOLD", "60", "0").c_str());
    EXPECT_EQ(settings().deadeyeLockThreshold, 0);
    sim::stop();

    start(withValue("HEAL_WHEN_DRUNK", "on", "off").c_str());
    EXPECT_FALSE(settings().healWhenDrunk);
    sim::stop();

    start(withValue("RECORD_SESSION", "off", "on").c_str());
    EXPECT_TRUE(settings().recordSession);
    sim::stop();

    start(withValue("REFILL_PRICE", "10", "25").c_str());
    EXPECT_EQ(settings().refillPrice, 25);
    sim::stop();

    start(withValue("SOBER_UP_TIME", "100", "10").c_str());
    EXPECT_EQ(settings().soberUpInterval, 11);
}

} // namespace
