// The command itself: what it prints and the exit status it ends with.
#include "scratch_folder.h"
#include "sim_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

Outcome run(const std::string& args) { return runSim(args); }

class Command : public ScratchFolder {};

TEST_F(Command, ABadScenarioNamesFileAndLineAndExitsWithTwo) {
    const std::string bad = write("bad.txt", "# a typo\n0:01 press drink-key\n0:02 drnk\n0:01 press stop\n");
    Outcome r = run("--check " + bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "nothing is played";
    EXPECT_EQ(r.err,
              bad + ":3: unknown event \"drnk\"\n" + bad +
                  ":4: time 0:01.0 is earlier than the line before it (0:02.0 on line 3); times must not go "
                  "backwards\n");

    const std::string number = write("number.txt", "flask lots\n0:01 end\n");
    r = run(number);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, number + ":1: bad number \"lots\" for the flask level (a whole number; 99 is full)\n");
}

TEST_F(Command, AMissingScenarioOrSettingsFileExitsWithTwo) {
    const std::string missing = (folder / "missing.txt").string();
    Outcome r = run(missing);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, missing + ": cannot open the scenario: No such file or directory\n");

    const std::string s = write("s.txt", "settings-file nowhere.ini\n0:01 end\n");
    r = run(s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, s + ":1: cannot read settings file \"nowhere.ini\": No such file or directory\n");
}

TEST_F(Command, CheckPrintsOnlyFailuresAndExitsWithOneOnThem) {
    const std::string good = write("good.txt", "0:01 press drink-key\n0:02 expect drinking on\n0:03 end\n");
    Outcome r = run("--check " + good);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(folder / "out")) << "no pictures unless --out is given";

    const std::string bad = write("fails.txt", "0:01 press drink-key\n0:02 expect drinking off\n0:03 end\n");
    r = run("--check " + bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, bad + ":2: at 0:02.0: expected drinking off, got on\n");
}

TEST_F(Command, PrintsATimelineASummaryAndWhereThePicturesAre) {
    const std::string s = write("short.txt", "0:01 press drink-key\n0:09 press stop\n0:10 end\n");
    const std::string out = (folder / "pictures").string();
    Outcome r = run("--out " + out + " " + s);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("> press drink-key — O (79)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("drink     drink stopped after 8.0 s (a stop control)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Played 10.0 s of game time (304 frames)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  chart: " + out + "/short-chart.svg"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(folder / "pictures" / "short-chart.svg"));
    EXPECT_TRUE(std::filesystem::exists(folder / "pictures" / "short-hud.svg"));

    r = run("--quiet --no-pictures " + s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("> press"), std::string::npos) << "the summary only";
    EXPECT_EQ(r.out.rfind("Played 10.0 s", 0), 0u) << r.out;

    r = run("--trace --no-pictures " + s);
    EXPECT_NE(r.out.find("frame 31  0x524B54361229154F scenario_start(1001, 0x4CA3FEA4, -1, 1, "),
              std::string::npos)
        << "the trace decodes each native";
}

TEST_F(Command, OptionsAreCheckedAndListed) {
    Outcome r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--trace", "--quiet", "--out", "--hud-at", "--plugin", "--check", "SCENARIO"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;

    const std::string s = write("s.txt", "0:01 end\n");
    r = run("--hud-at soon " + s);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("bad time \"soon\" for --hud-at"), std::string::npos) << r.err;
    EXPECT_EQ(run("--frobnicate " + s).status, 2);
    EXPECT_EQ(run("").status, 2) << "a scenario is required";

    r = run("--no-pictures --plugin " + (folder / "nothing.so").string() + " " + s);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("nothing.so"), std::string::npos) << r.err;
}

} // namespace
