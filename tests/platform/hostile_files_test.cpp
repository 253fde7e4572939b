// Hostile save and settings files at load (hostile_files.h): each load takes the
// value the file defines (or keeps the default), and the plug-in plays on: the
// script comes round every frame, a drink starts and its save lands where a file
// can be written.
#include "hostile_files.h"

#include "file_text.h"
#include "plugin_test.h"

#include <filesystem>
#include <optional>

namespace {

namespace fs = std::filesystem;

class HostileFiles : public PluginTest {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tolvenmire-hostile-" + std::to_string(hostile::processId()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        PluginTest::TearDown();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    fs::path folder_;
};

TEST_F(HostileFiles, EachLoadTakesItsValueAndThePluginPlaysOn) {
    for (const hostile::Case& c : hostile::Cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(folder_, ec);
        fs::create_directories(folder_);
        std::optional<hostile::Blocker> blocker(std::in_place);
        ASSERT_TRUE(hostile::lay(c, folder_, &*blocker)) << "cannot lay the file";

        sim::StartOptions o;
        o.workDir = folder_.string();
        startWith(o);
        EXPECT_EQ(settings().refillPrice, c.refillPrice);
        EXPECT_EQ(settings().drinkKey, c.drinkKey);
        EXPECT_EQ(settings().deadeyeLockThreshold, 60);
        EXPECT_TRUE(settings().healWhenDrunk);
        EXPECT_EQ(settings().soberUpInterval, 110);
        sim::playFrames(1);
        EXPECT_EQ(state().flaskLevel, c.flaskLevel);
        blocker.reset(); // the other program lets go of the file

        // The script comes round every frame.
        const int resumes = sim::resumes();
        sim::playFrames(30);
        EXPECT_EQ(sim::resumes(), resumes + 30);

        // A drink starts (with anything in the flask) and its stop saves.
        if (c.flaskLevel > 0) {
            sim::keyEvent((uint32_t)c.drinkKey, 0, 0, 1);
            for (int i = 0; i < 10 && !state().drinking; ++i) sim::playFrames(1);
            ASSERT_TRUE(state().drinking);
            sim::playFrames(5);
            world().analog[StopControl] = 1.0f;
            sim::playFrames(1);
            world().analog[StopControl] = 0.0f;
            ASSERT_FALSE(state().drinking);
            const fs::path save = folder_ / "Tolvenmire.dat";
            if (c.lay == hostile::Lay::Folder && std::string(c.file) == "Tolvenmire.dat")
                EXPECT_TRUE(fs::is_directory(save)) << "a folder in the way stays; the save fails";
            else
                EXPECT_EQ(fileText(save), std::to_string(state().flaskLevel));
            EXPECT_FALSE(fs::exists(folder_ / "Tolvenmire.dat.tmp"));
        }
        sim::stop();
        for (const std::string& v : sim::violations()) ADD_FAILURE() << "protocol: " << v;
    }
}

} // namespace
