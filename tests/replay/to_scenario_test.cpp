// tolvenmire-sim --replay R.rec --to-scenario OUT as a command: a session the game
// played unevenly becomes a scenario that passes; what no line can say is listed
// with its frame, its native and the two answers, with exit status 3; faults planted
// in the plug-in fail the written scenario, a harmless change of its calls does not
// (where the replay departs); random sessions with keys inside frames and in bursts
// come out as scenarios that pass, or fail only after what is listed.
#include "player/scenario_words.h"
#include "player/scenario_writing.h"
#include "replay/recording_reader.h"
#include "sim.h"
#include "sim_command.h"
#include "standin/game_hashes.h"
#include "standin/printable_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ToScenario : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("tolvenmire-to-scenario-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // The scenario recorded by this build's plug-in.
    std::string record(const std::string& scenario) {
        const std::string rec = path(scenario + ".rec");
        const Outcome r = runSim(std::string(SCENARIOS_DIR) + "/" + scenario + ".txt --record " + rec +
                                 " --no-pictures --quiet");
        EXPECT_EQ(r.status, 0) << r.err;
        return rec;
    }

    // A session played with the stand-in host directly, the world changed by `play`
    // between frames, recorded by the plug-in (RECORD_SESSION=1).
    std::string recordSession(const std::string& name, const std::function<void()>& setUp,
                              const std::function<void()>& play) {
        const fs::path game = folder / (name + "-game");
        fs::create_directories(game);
        sim::StartOptions o;
        o.workDir = game.string();
        o.withSettings = true;
        o.settings = "[SETTINGS]\nRECORD_SESSION=1\nREFILL_PRICE=7\n";
        o.withSave = true;
        o.save = "55";
        o.record = false;
        setUp();
        std::string error;
        EXPECT_TRUE(sim::start(o, &error)) << error;
        play();
        sim::stop();
        EXPECT_TRUE(sim::violations().empty()) << sim::violations().front();
        const std::string rec = path(name + ".rec");
        fs::copy_file(game / "Tolvenmire.rec", rec);
        return rec;
    }

    static std::string text(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path folder;
};

// "1:02:03.456", "0:40.133" to milliseconds.
int64_t millis(const std::string& t) {
    int64_t ms = 0, part = 0;
    for (char c : t.substr(0, t.find('.'))) {
        if (c == ':')
            ms = (ms + part) * 60, part = 0;
        else
            part = part * 10 + (c - '0');
    }
    ms = (ms + part) * 1000;
    const std::string frac = t.find('.') == std::string::npos ? "" : t.substr(t.find('.') + 1) + "000";
    return ms + (frac.empty() ? 0 : std::stoll(frac.substr(0, 3)));
}

// The time of the first case listed on standard error, -1 for none.
int64_t firstLeftOut(const std::string& err) {
    std::smatch m;
    if (!std::regex_search(err, m, std::regex(R"(left out: (run \d+, )?frame [\d,]+ \(([\d:.]+)\))")))
        return -1;
    return millis(m[2]);
}

// The written time of the scenario line of the first failure --check tells, -1 for none.
int64_t firstFailure(const std::string& out, const std::string& scenario) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"(:(\d+): at )"))) return -1;
    std::ifstream in(scenario);
    std::string line;
    for (int n = std::stoi(m[1]); n > 0 && std::getline(in, line);) --n;
    return millis(line.substr(0, line.find(' ')));
}

// The world a real game gives: frames of uneven length, the timer standing still
// and jumping, near its wrap; a machine's tick count near its own; the player's
// handle changing, a saloon at its real place; the meters' textures loaded already,
// a drinking scenario that takes 40 frames; a key press as the keyboard gives it;
// a stick read at 0.37; the satchel control held for two frames.
TEST_F(ToScenario, WhatOnlyARealGameAnswersIsSaidInLinesAndPlaysTheSameSession) {
    const float player[3] = {-312.5f, 802.25f, 117.75f};
    const std::string rec = recordSession(
        "real",
        [&] {
            sim::World& w = sim::world();
            w.timer = 0xFFFFF000u;
            w.playerPed = 0x2A0F;
            w.clock = 40000000;
            w.playerX = player[0], w.playerY = player[1], w.playerZ = player[2];
            for (uint32_t t : {hashes::RpgMeter, hashes::Blips, hashes::RpgTextures, hashes::InventoryItems})
                w.textureLoaded[t] = true;
            w.scenarioStartFrames = 40;
            sim::Ped bartender;
            bartender.handle = 0x5C3;
            bartender.model = hashes::UMMValbartender01;
            bartender.x = -310.0f, bartender.y = 803.0f, bartender.z = 117.75f;
            bartender.promptGroup = 0x10AB;
            w.peds[bartender.handle] = bartender;
        },
        [&] {
            sim::World& w = sim::world();
            sim::setTickCount(0xFFFFFF00u);
            const uint32_t lengths[] = {16, 17, 16, 18, 15, 17, 16, 33, 16, 17};
            int frame = 0;
            auto frames = [&](int n) {
                for (int i = 0; i < n; ++i, ++frame) {
                    w.frameMs = lengths[frame % 10];
                    sim::playFrames(1);
                }
            };
            frames(30);
            w.frameMs = 0; // the timer stands still for a frame
            sim::playFrames(1);
            frames(20);
            w.frameMs = 700; // a hitch
            sim::playFrames(1);
            frames(20);
            sim::setTickCount(sim::tickCount() + 5); // the key, 5 ms into the next frame
            sim::keyEvent(79, 0, 1, 1);
            sim::setTickCount(sim::tickCount() - 5);
            frames(600);
            w.analog[hashes::InputMoveUd] = 0.37f;
            frames(1);
            w.analog[hashes::InputMoveUd] = 0.0f;
            frames(60);
            w.satchelReleased = 1;
            frames(2);
            w.satchelReleased = 0;
            frames(60);
            w.interior = 21250;
            frames(30);
            w.target = 0x5C3;
            frames(30);
            for (auto& [handle, prompt] : w.prompts)
                if (prompt.alive && prompt.label == "Refill Flask") prompt.completed = true;
            frames(1);
            for (auto& [handle, prompt] : w.prompts) prompt.completed = false;
            frames(700);
            w.target = 0;
            w.playerPed = 0x2A10;
            frames(120);
            w.missionFlag = true;
            frames(300);
            w.missionFlag = false;
            frames(200);
        });
    const std::string out = path("real.txt");
    const Outcome written = runSim("--replay " + rec + " --to-scenario " + out);
    EXPECT_EQ(written.status, 0) << written.out << written.err;
    EXPECT_EQ(written.err, "");
    const std::string scenario = text(out);
    // Each answer by the line in the game's terms that gives it.
    for (const char* line :
         {"\nfps 63\n", "\ngame-timer 4294963200\n", "\ntick-count 4294967040\n", "frames 18 15 17\n",
          "frames 17 0\n", "frames 17 700\n", "press drink-key with 0 1 1\n", "set scenario-start-frames 40",
          "move 0.37\n", "release satchel for 2 frames\n", "enter saloon valentine\n",
          "position -312.5 802.25 117.75\n", "target bartender at -310 803 117.75\n",
          "complete refill-prompt\n", "set player-handle 10768", "mission\n", "mission-end\n",
          "expect charged $7.00\n", "expect sips "})
        EXPECT_NE(scenario.find(line), std::string::npos) << line << "\n" << scenario;
    // The player's handle from the start, the textures there before the first drink,
    // and the clock where it stood.
    for (const char* line : {"\nset player-handle 10767", "set textures-loaded on\n", "\nclock 40000000\n"})
        EXPECT_NE(scenario.find(line), std::string::npos) << line << "\n" << scenario;
    EXPECT_EQ(scenario.find("answer "), std::string::npos) << scenario;
    const Outcome check = runSim(out + " --check --no-pictures");
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    // Nothing a user saved is written over.
    const Outcome again = runSim("--replay " + rec + " --to-scenario " + out);
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("is there already"), std::string::npos) << again.err;
    EXPECT_EQ(text(out), scenario);
}

// A game timer that goes back, and a game clock before 1898: no line gives them. Each
// is listed at the top of the scenario and on standard error, with its frame, its
// time, the native by the game's name and both answers; exit status 3; and the
// scenario, written as far as it goes, fails no expectation before the first.
TEST_F(ToScenario, WhatNoLineSaysIsListedWithItsFrameItsNativeAndBothAnswers) {
    int back = 0, early = 0;
    const std::string rec = recordSession(
        "odd", [] {},
        [&] {
            sim::World& w = sim::world();
            sim::playFrames(60);
            sim::keyEvent(79, 0, 0, 1);
            sim::playFrames(400);
            w.timer -= 500;
            back = sim::resumes() + 1;
            sim::playFrames(200);
            w.clock = -5;
            w.clockPerSecond = 0;
            early = sim::resumes();
            sim::playFrames(400);
        });
    const std::string out = path("odd.txt");
    const Outcome written = runSim("--replay " + rec + " --to-scenario " + out);
    EXPECT_EQ(written.status, 3) << written.out << written.err;
    const std::string timer = "frame " + std::to_string(back) + " (";
    const size_t at = written.err.find("left out: " + timer);
    ASSERT_NE(at, std::string::npos) << written.err;
    EXPECT_NE(written.err.find("): MISC::GET_GAME_TIMER() answered ", at), std::string::npos) << written.err;
    EXPECT_NE(written.err.find("; the model answers "), std::string::npos) << written.err;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(written.err, m,
                          std::regex(R"(frame ([\d,]+) \([\d:.]+\): CLOCK::_GET_SECONDS_SINCE_BASE_YEAR\(\) )"
                                     R"(answered -5; the model answers \d+)")))
        << written.err;
    EXPECT_GT(std::stoi(std::regex_replace(m[1].str(), std::regex(","), "")), early);
    // The same list at the top of the scenario.
    const std::string scenario = text(out);
    EXPECT_NE(scenario.find("# Left out:"), std::string::npos);
    EXPECT_NE(scenario.find("#   " + timer), std::string::npos) << scenario;
    const Outcome check = runSim(out + " --check --no-pictures");
    const int64_t failed = firstFailure(check.out, out);
    if (failed >= 0) {
        EXPECT_GE(failed, firstLeftOut(written.err)) << check.out << written.err;
    }
}

// The point of a written scenario: a change of the plug-in's calls that keeps its
// behaviour (here the game timer asked once more a frame) makes the recording
// depart at its first frame, while the scenario still passes; a change of its
// behaviour (a drink's first sip a frame late, a refill charged in dollars) fails it.
TEST_F(ToScenario, AChangeOfTheCallsKeepsTheScenarioPassingAFaultFailsIt) {
    for (const char* name : {"drink-by-key", "refill"}) {
        SCOPED_TRACE(name);
        const std::string rec = record(name);
        const std::string out = path(std::string(name) + ".txt");
        const Outcome written = runSim("--replay " + rec + " --to-scenario " + out);
        ASSERT_EQ(written.status, 0) << written.out << written.err;
        EXPECT_EQ(runSim(out + " --check --no-pictures").status, 0);

        const Outcome replayed =
            runSim("--replay " + rec + " --plugin " + EXTRA_QUERY_PLUGIN + " --no-pictures --quiet");
        EXPECT_EQ(replayed.status, 1) << replayed.out;
        EXPECT_NE(replayed.out.find("departs from the recording at frame 1,"), std::string::npos)
            << replayed.out;
        const Outcome harmless = runSim(out + " --check --no-pictures --plugin " + EXTRA_QUERY_PLUGIN);
        EXPECT_EQ(harmless.status, 0) << harmless.out << harmless.err;

        const char* fault = std::string(name) == "refill" ? CHARGE_IN_DOLLARS_PLUGIN : ONE_SIP_FEWER_PLUGIN;
        const Outcome faulty = runSim(out + " --check --no-pictures --plugin " + fault);
        EXPECT_EQ(faulty.status, 1) << faulty.out;
        EXPECT_NE(faulty.out.find(std::string(name) == "refill" ? "expected charged $10.00, got $0.10"
                                                                : "expected intake 26, got 25"),
                  std::string::npos)
            << faulty.out;
    }
}

// Random sessions whose key presses come inside frames (from a native call) and in
// bursts of 300: each written scenario passes, or fails no expectation before the
// first thing listed as left out (their games answer what no real game does: a
// game clock before 1898, a wrapping one).
TEST_F(ToScenario, RandomSessionsWithKeysInsideFramesAndInBurstsComeOutAsScenarios) {
    int passed = 0;
    for (const char* keys : {"inside", "bursts"}) {
        for (int seed = 1; seed <= 4; ++seed) {
            const std::string name = std::string(keys) + std::to_string(seed);
            SCOPED_TRACE(name);
            const std::string rec = path(name + ".rec"), out = path(name + ".txt");
            const Outcome random = runSim("--random --seed " + std::to_string(seed) + " --keys " + keys +
                                          " --minutes 1 --record " + rec);
            ASSERT_EQ(random.status, 0) << random.out;
            const Outcome written = runSim("--replay " + rec + " --to-scenario " + out);
            ASSERT_TRUE(written.status == 0 || written.status == 3) << written.out << written.err;
            const Outcome check = runSim(out + " --check --no-pictures");
            if (written.status == 0) {
                EXPECT_EQ(check.status, 0) << check.out;
                ++passed;
                continue;
            }
            const int64_t failed = firstFailure(check.out, out);
            if (failed >= 0) {
                EXPECT_GE(failed, firstLeftOut(written.err)) << check.out << written.err;
            }
        }
    }
    EXPECT_GT(passed, 0);
}

// A recording's bytes (a save file's) reach the written scenario as escapes only:
// nothing in the file acts on a terminal, and the reader gives the bytes back.
TEST(WrittenText, OddBytesAreWrittenAsEscapesAndReadBackAsTheyWere) {
    const std::string odd[] = {"\x1b[2K\x07",
                               "a\xE2\x80\xAE"
                               "b\xE2\x80\x8B",
                               "caf\xE9 \xED\xA0\x80",
                               "\"\\\n\t\r",
                               std::string("9\0"
                                           "9",
                                           3),
                               "\xC2\x9B\x7F",
                               "\\x41 \\u{41}"};
    for (const std::string& bytes : odd) {
        const std::string written = player::quotedWord(bytes);
        EXPECT_EQ(sim::printable(written), written) << written;
        std::vector<player::Token> words;
        std::string error;
        ASSERT_TRUE(player::tokenize("save " + written, &words, &error)) << error;
        ASSERT_EQ(words.size(), 2u);
        EXPECT_EQ(words[1].text, bytes) << written;
    }
}

} // namespace
