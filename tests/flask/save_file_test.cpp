// The save file "Tolvenmire.dat": what loads from it at script start, the exact
// bytes a stop writes, and that a save replaces the file whole or not at all.
#include "drink_fixture.h"

#include <sys/stat.h>

namespace {

using namespace drink;

class SaveFile : public DrinkTest {
  protected:
    // A drink with `sips` sips, stopped in a frame with no sip due.
    static void drinkAndStop(int32_t at, int sips) {
        startDrinkAt(at);
        int32_t t = at + 5380;
        sipUntil(state().intakeLevel + sips, t);
        stopAt(t + 50);
        ASSERT_FALSE(state().drinking);
    }
};

TEST_F(SaveFile, TheLevelIsLoadedAtScriptStartAndNotClamped) {
    const struct {
        const char* save; // nullptr: no save file
        int32_t level;
    } cases[] = {{nullptr, 99},
                 {"", 99},
                 {" \n\t \r\n", 99},
                 {"x", 0},
                 {"x42", 0},
                 {"42", 42},
                 {"42\n", 42},
                 {"   42", 42},
                 {"42abc", 42},
                 {"150", 150},
                 {"-3", -3},
                 {"-", 0},
                 {"+5", 5},
                 {"0", 0},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const auto& c : cases) {
        std::ostringstream name;
        if (c.save)
            name << "'" << c.save << "'";
        else
            name << "no file";
        startSession(nullptr, c.save);
        EXPECT_EQ(state().flaskLevel, 99) << name.str() << ": full from load until the script reads the file";
        sim::playFrames(1);
        EXPECT_EQ(state().flaskLevel, c.level) << name.str();
        EXPECT_EQ(readFile("Tolvenmire.dat"), c.save ? std::optional<std::string>(c.save) : std::nullopt)
            << name.str() << ": loading leaves the file as it is";
        sim::stop();
    }
}

TEST_F(SaveFile, AStopWritesTheLevelAloneAndNothingElse) {
    begin(nullptr, "8");
    startDrinkAt(T);
    int32_t t = T + 5380;
    sipUntil(4, t);
    ASSERT_EQ(state().flaskLevel, 7);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "8") << "sips do not save";
    stopAt(t + 50);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "7") << "one byte, no line end";
    EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));
    sim::stop();

    // A save replaces a longer old content whole.
    begin(nullptr, "5");
    writeFile("Tolvenmire.dat", "99\r\n and more of an older file\n");
    startDrinkAt(T);
    stopAt(T + 100);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "5");
    sim::stop();

    // Levels from outside 0 to 99 are written back as they are.
    for (const char* level : {"150", "-3", "2147483647"}) {
        begin(nullptr, (std::string(level) + "\n").c_str());
        startDrinkAt(T);
        stopAt(T + 100);
        EXPECT_EQ(readFile("Tolvenmire.dat"), level);
        sim::stop();
    }
}

TEST_F(SaveFile, ASaveThatCannotReplaceAReadOnlyFileLeavesItAndNoTemporaryFile) {
    begin(nullptr, "42");
#ifdef _WIN32
    // Wine run as root replaces a read-only file all the same; Windows does not.
    writeFile("probe.tmp", "1");
    writeFile("probe.dat", "0");
    chmod(path("probe.dat").c_str(), 0444);
    const bool replaced = MoveFileExA(path("probe.tmp").c_str(), path("probe.dat").c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    chmod(path("probe.dat").c_str(), 0644);
    if (replaced) GTEST_SKIP() << "this system replaces read-only files";
#endif
    // Read-only (no write permission bit at all): the replacement fails.
    ASSERT_EQ(chmod(path("Tolvenmire.dat").c_str(), 0444), 0);
    drinkAndStop(T, 4);
    ASSERT_EQ(state().flaskLevel, 41);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "42");
    EXPECT_FALSE(readFile("Tolvenmire.dat.tmp")) << "the failed save takes its temporary file away";
    // Writable again, if only for its owner: the next save goes through.
    ASSERT_EQ(chmod(path("Tolvenmire.dat").c_str(), 0600), 0);
    drinkAndStop(T + 10000, 4);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "40");
    EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));
}

TEST_F(SaveFile, TheTemporaryFileIsNeitherReadNorLeftBehind) {
    // A temporary file left by an interrupted save is not read, and the next save
    // takes its place.
    startSession(nullptr, "42");
    writeFile("Tolvenmire.dat.tmp", "13");
    sim::playFrames(1);
    ASSERT_EQ(state().flaskLevel, 42);
    drinkAndStop(T, 4);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "41");
    EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));
    // The temporary name taken by a folder: the write fails at its first step and
    // the old file stays.
    std::filesystem::create_directory(path("Tolvenmire.dat.tmp"));
    drinkAndStop(T + 10000, 4);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "41");
    std::filesystem::remove(path("Tolvenmire.dat.tmp"));
    drinkAndStop(T + 20000, 4);
    EXPECT_EQ(readFile("Tolvenmire.dat"), "39");
}

} // namespace
