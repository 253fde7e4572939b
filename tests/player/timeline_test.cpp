// A small session played with the real plug-in: what the timeline tells, what the
// recording keeps for the chart, and how expectations are judged.
#include "player/report.h"
#include "player/scenario.h"
#include "player/play_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace player;

struct Played {
    Scenario scenario;
    SessionResult result;
    std::vector<Entry> entries;

    // The entries of one topic, as text.
    std::vector<std::string> about(Topic topic) const {
        std::vector<std::string> out;
        for (const Entry& e : entries)
            if (e.topic == topic) out.push_back(e.text);
        return out;
    }
    // The first entry whose text starts with `prefix`; fails the test without one.
    const Entry* find(Topic topic, const std::string& prefix) const {
        for (const Entry& e : entries)
            if (e.topic == topic && e.text.rfind(prefix, 0) == 0) return &e;
        ADD_FAILURE() << "no " << topicName(topic) << " entry starting \"" << prefix << "\"";
        return nullptr;
    }
};

void playText(const std::string& text, Played* p, PlayOptions options = {}) {
    std::vector<ParseError> errors;
    ASSERT_TRUE(parseScenario(text, "test.txt", &p->scenario, &errors)) << errors[0].text();
    options.onEntry = [p](const Entry& e) { p->entries.push_back(e); };
    ASSERT_TRUE(play(p->scenario, options, &p->result)) << p->result.error;
    EXPECT_TRUE(p->result.violations.empty()) << p->result.violations[0];
}

TEST(Timeline, ADrinkByKeyIsToldFromTheKeyToTheSave) {
    Played p;
    playText("flask 40\n"
             "0:01 press drink-key\n"
             "0:10 press stop\n"
             "0:12 end\n",
             &p);
    EXPECT_EQ(p.find(Topic::Start, "script started")->text, "script started: flask 40 (save file \"40\")");
    const Entry* press = p.find(Topic::Action, "press drink-key");
    const Entry* started = p.find(Topic::Drink, "drink started");
    const Entry* stopped = p.find(Topic::Drink, "drink stopped");
    ASSERT_TRUE(press && started && stopped);
    EXPECT_EQ(press->text, "press drink-key — O (79)");
    EXPECT_EQ(press->line, 2);
    EXPECT_EQ(started->text, "drink started by the drink key; waiting for the drinking scenario");
    EXPECT_EQ(p.find(Topic::Drink, "the drinking scenario runs")->text,
              "the drinking scenario runs; sips count from 0:06.5");
    // 27 sips (one every fourth frame from 6.5 s), six units from the flask.
    EXPECT_EQ(stopped->text,
              "drink stopped after 9.0 s (a stop control): 27 sips, flask 40 → 34, saved \"34\"");
    EXPECT_GE(stopped->at, 10000);
    EXPECT_LT(stopped->at, 10100);
    EXPECT_LT(press->at, started->at + 1);
    EXPECT_LT(started->at, stopped->at);

    // A line a second while drinking, each with the second's sips.
    const std::vector<std::string> levels = p.about(Topic::Levels);
    ASSERT_GE(levels.size(), 4u);
    EXPECT_NE(levels[0].find("· 4 sips"), std::string::npos) << levels[0];
    EXPECT_EQ(p.result.counts.drinks, 1);
    EXPECT_EQ(p.result.counts.drinksByKey, 1);
    EXPECT_EQ(p.result.counts.sips, 27);
    EXPECT_EQ(p.result.flask, 34);
    EXPECT_EQ(p.result.save, "34");

    // The chart's recording: the drink as a band, the levels from the start.
    ASSERT_EQ(p.result.recording.drinks.size(), 1u);
    EXPECT_EQ(p.result.recording.drinks[0].label, "drink (key)");
    const std::vector<Sample>& samples = p.result.recording.samples;
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(samples.front().at, 0);
    EXPECT_EQ(samples.front().flask, 40) << "the save file is read before anything is drawn";
    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                               [](const Sample& a, const Sample& b) { return a.at < b.at; }));
    EXPECT_EQ(samples.back().flask, 34);
    EXPECT_EQ(p.result.recording.end, 12012) << "the first frame at or after the end (0:12) is played";
}

TEST(Timeline, ARefillIsToldWithTheLineTheChargeAndTheNewFlask) {
    Played p;
    playText("flask 5\n"
             "cash $25\n"
             "settings REFILL_PRICE=12\n"
             "0:01 enter saloon valentine\n"
             "0:02 target bartender at 3\n"
             "0:03 complete refill-prompt\n"
             "0:12 target none\n"
             "0:13 end\n",
             &p);
    EXPECT_EQ(p.about(Topic::Prompt),
              (std::vector<std::string>{"\"Refill Flask\" shown", "\"Refill Flask\" completed",
                                        "\"Refill Flask\" shown", "\"Refill Flask\" withdrawn (no target)"}));
    const std::vector<std::string> refill = p.about(Topic::Refill);
    const std::vector<std::string> expected = {
        "the bartender of valentine serves; the player's control is taken",
        "the bartender says CHAT_PREPARE_DRINK (voice 0475_U_M_M_VALBARTENDER_01)",
        "the screen fades out",
        "flask 5 → 99, saved \"99\"",
        "the screen fades in",
        "the player's control is given back",
        "charged $12.00: cash $25.00 → $13.00",
        "the player says PLAYER_SHOP_THANKS_NEUTRAL (voice ARTHUR)",
        "served in 7.6 s: flask 5 → 99",
    };
    ASSERT_EQ(refill.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i + 1 == expected.size())
            EXPECT_EQ(refill[i].rfind("served in 7.", 0), 0u) << refill[i];
        else
            EXPECT_EQ(refill[i], expected[i]);
    }
    ASSERT_EQ(p.result.recording.refills.size(), 1u);
    EXPECT_EQ(p.result.recording.refills[0].label, "refill $12.00");
    EXPECT_EQ(p.result.counts.charged, 1200);
    EXPECT_EQ(p.result.cash, 1300);
}

TEST(Timeline, AMissionAndThePassOutAreToldOnceEach) {
    Played p;
    playText("settings SOBER_UP_TIME=100000\n"
             "0:01 press drink-key\n"
             "2:20 mission 5s\n"
             "2:40 end\n",
             &p);
    const std::vector<std::string> passOut = p.about(Topic::PassOut);
    ASSERT_EQ(passOut.size(), 4u);
    EXPECT_EQ(passOut[0], "the game plays the pass-out effect (intensity held at 1.0 for 4.0 s)");
    EXPECT_EQ(passOut[1].rfind("the plug-in sees the pass-out (drunk ", 0), 0u);
    EXPECT_EQ(passOut[2], "the pass-out effect is over after 8.0 s");
    EXPECT_EQ(
        passOut[3].rfind("recovered: the player is restored (health, core values); intoxication reset", 0),
        0u);
    EXPECT_EQ(p.result.counts.passOuts, 1);
    ASSERT_EQ(p.result.recording.passOuts.size(), 1u);

    const std::vector<std::string> hold = p.about(Topic::Mission);
    ASSERT_EQ(hold.size(), 3u);
    EXPECT_EQ(hold[0], "mission flag up: script held; intoxication reset");
    EXPECT_EQ(hold[1],
              "the mission ends in the game; the script sees it at its next look (every 3 s while held)");
    EXPECT_EQ(hold[2].rfind("the script sees the mission flag down after ", 0), 0u);
    ASSERT_EQ(p.result.recording.missions.size(), 1u);
    EXPECT_EQ(p.result.recording.missions[0].from, 140000);
    EXPECT_EQ(p.result.recording.missions[0].to, 145000);
    EXPECT_EQ(p.result.recording.missions[0].label, "mission");
}

// A death outside a mission holds nothing: no mission line, no band; the player is
// alive again at its end, or at a quit of the game, whichever comes first. The
// start line tells the world as the setup's lines left it.
TEST(Timeline, ADeathHoldsNothingAndTheStartTellsThePlayerAsSetUp) {
    Played p;
    playText("keyboard\n"
             "mount\n"
             "cash $3\n"
             "clock 1898-06-01 14:30\n"
             "clock-rate 60\n"
             "0:01 dismount\n"
             "0:10 die 5s\n"
             "0:10 expect on-foot off\n"
             "0:12 restart\n" // dead when the game quits
             "0:13 expect on-foot on\n"
             "0:14 die 2s\n"
             "0:14 expect mission off\n"
             "0:18 end\n",
             &p);
    EXPECT_EQ(p.result.failures(), 0);
    const Entry* world = p.find(Topic::Start, "30 fps");
    ASSERT_TRUE(world);
    EXPECT_EQ(world->text,
              "30 fps (33 ms frames) · cash $3.00 · the player mounted with keyboard and mouse, "
              "aiming · game clock 1 Jun 1898 14:30:00, 60 in-game s a second (sobering: 1 intake "
              "every 1.8 s)");
    EXPECT_TRUE(p.about(Topic::Mission).empty());
    EXPECT_EQ(p.result.counts.missions, 0);
    EXPECT_TRUE(p.result.recording.missions.empty());
    const std::vector<std::string> player = p.about(Topic::Player);
    ASSERT_EQ(player.size(), 1u) << "the first death ended with the quit, untold";
    EXPECT_EQ(player[0], "the player is alive again, on foot");
    EXPECT_EQ(p.find(Topic::Player, "the player")->at, 16000);
}

TEST(Timeline, SoberingAloneIsNotAFlood) {
    // Twenty minutes of sobering from a full intake: lines at the tens, not every
    // second.
    Played p;
    playText("settings SOBER_UP_TIME=300\n"
             "0:01 press drink-key\n"
             "0:20 press stop\n"
             "20:00 end\n",
             &p);
    const size_t levels = p.about(Topic::Levels).size();
    EXPECT_LT(levels, 50u);
    EXPECT_GT(levels, 15u);
    EXPECT_LT(p.entries.size(), 80u);
}

TEST(Timeline, ExpectationsSeeTheFrameAtTheirTimeAndSayWhatTheyGot) {
    Played p;
    playText("0:01 press drink-key\n"
             "0:01 expect drinking on\n" // beside the key: after its frame
             "0:02 expect flask 98\n"    // fails: no sip yet
             "0:02 expect flask >= 99\n"
             "0:02 expect intensity 0\n"
             "0:02 expect save none\n"
             "0:02 expect spoken CHAT_PREPARE_DRINK\n"
             "0:03 end\n",
             &p);
    const std::vector<ExpectResult>& r = p.result.expectations;
    ASSERT_EQ(r.size(), 6u);
    EXPECT_TRUE(r[0].passed);
    EXPECT_FALSE(r[1].passed);
    EXPECT_EQ(r[1].got, "99");
    EXPECT_EQ(r[1].line, 3);
    EXPECT_TRUE(r[2].passed);
    EXPECT_TRUE(r[3].passed);
    EXPECT_TRUE(r[4].passed);
    EXPECT_FALSE(r[5].passed);
    EXPECT_EQ(r[5].got, "never spoken");
    EXPECT_EQ(p.result.failures(), 2);
    EXPECT_EQ(failureLines(p.scenario, p.result),
              (std::vector<std::string>{
                  "test.txt:3: at 0:02.0: expected flask 98, got 99",
                  "test.txt:7: at 0:02.0: expected spoken CHAT_PREPARE_DRINK, got never spoken"}));
    const Entry* failed = p.find(Topic::Expect, "FAILED");
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->failed);
    EXPECT_EQ(formatEntry(*failed), "    0:02.0  expect    FAILED flask 98 — got 99");
}

TEST(Timeline, APromptThatIsNotShownCannotBeCompleted) {
    Played p;
    playText("0:01 complete drink-prompt\n"
             "0:02 enter saloon rhodes\n"
             "0:02 complete refill-prompt\n"
             "0:03 end\n",
             &p);
    EXPECT_EQ(p.about(Topic::Warning),
              (std::vector<std::string>{
                  "complete drink-prompt: no drink prompt is shown, so there is nothing to complete",
                  "complete refill-prompt: no refill prompt is shown, so there is nothing to complete"}));
    EXPECT_EQ(p.result.counts.drinks, 0);
    EXPECT_EQ(p.result.counts.refills, 0);
}

TEST(Timeline, TheHudShotIsTheFrameAskedFor) {
    Played p;
    PlayOptions o;
    o.hasHudAt = true;
    o.hudAt = 9000;
    playText("flask 50\n"
             "0:01 press drink-key\n"
             "0:12 press stop\n"
             "0:13 end\n",
             &p, o);
    const HudShot& h = p.result.recording.hud;
    ASSERT_TRUE(h.taken);
    EXPECT_GE(h.at, 9000);
    EXPECT_LT(h.at, 9040);
    ASSERT_EQ(h.sprites.size(), 6u);
    EXPECT_EQ(h.sprites[0].texture, "RPG_METER_" + std::to_string(h.flask));
    EXPECT_EQ(h.sprites[3].texture, "RPG_METER_" + std::to_string(h.intake));
    EXPECT_EQ(h.sprites[3].rotation, 180.0f);
}

// A restart: the game quits and starts again within one session.

// The game's clock never goes back, across restarts too. (An expectation carries
// the time written for it, which may be a moment before the frame that it looks at.)
bool inTimeOrder(const std::vector<Entry>& entries) {
    std::vector<Millis> times;
    for (const Entry& e : entries)
        if (e.topic != Topic::Expect) times.push_back(e.at);
    return std::is_sorted(times.begin(), times.end());
}

TEST(Restart, TheNewLoadReadsTheFlaskTheOldOneSavedAndTheSettingsAgain) {
    Played p;
    playText("settings TOLVENMIRE_KEY=P\n"
             "flask 40\n"
             "0:01 press drink-key\n"
             "0:10 press stop\n"
             "0:20 restart\n"
             "0:20 expect flask 34\n"
             "0:20 expect save \"34\"\n"
             "0:20 expect intake 0\n"
             "0:22 press drink-key\n"
             "0:23 expect drinking on\n"
             "0:24 end\n",
             &p);
    EXPECT_EQ(p.result.failures(), 0);
    const std::vector<std::string> restart = p.about(Topic::Restart);
    ASSERT_EQ(restart.size(), 2u);
    EXPECT_EQ(restart[0], "the game quits (nothing is saved on the way out) and starts again");
    EXPECT_EQ(restart[1].rfind("unloaded with flask 34, intake ", 0), 0u) << restart[1];
    EXPECT_NE(restart[1].find("; the save file holds \"34\""), std::string::npos) << restart[1];
    const Entry* quit = p.find(Topic::Restart, "the game quits");
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->line, 5);
    EXPECT_EQ(quit->at, 20000);
    EXPECT_EQ(formatEntry(*quit),
              "    0:20.0  restart   the game quits (nothing is saved on the way out) and starts again");

    // The script starts again, as at the first start, and the clock runs on.
    EXPECT_EQ(p.about(Topic::Start).back(), "script started: flask 34 (save file \"34\")");
    std::vector<Millis> starts;
    for (const Entry& e : p.entries)
        if (e.topic == Topic::Start && e.text.rfind("script started", 0) == 0) starts.push_back(e.at);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_GE(starts[1], 20000);
    EXPECT_TRUE(inTimeOrder(p.entries));
    // The drink key is still P: the settings file stayed in the game's folder.
    EXPECT_EQ(p.result.counts.drinksByKey, 2);
    EXPECT_EQ(p.find(Topic::Action, "press drink-key")->text, "press drink-key — P (80)");

    EXPECT_EQ(p.result.counts.restarts, 1);
    ASSERT_EQ(p.result.recording.restarts.size(), 1u);
    EXPECT_EQ(p.result.recording.restarts[0].at, 20000);
    EXPECT_EQ(p.result.recording.restarts[0].label, "restart");
    // The chart's levels after the restart: no intake, the flask as saved.
    const std::vector<Sample>& samples = p.result.recording.samples;
    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                               [](const Sample& a, const Sample& b) { return a.at < b.at; }));
    auto after = std::find_if(samples.begin(), samples.end(), [](const Sample& x) { return x.at >= 20000; });
    ASSERT_NE(after, samples.end());
    EXPECT_EQ(after->intake, 0);
    EXPECT_EQ(after->flask, 34);
    EXPECT_NE(summaryLines(p.scenario, p.result)[1].find("; 1 restart"), std::string::npos);
}

TEST(Restart, TheSipsOfADrinkUnderWayAreLostWithTheOldLoad) {
    Played p;
    playText("flask 60\n"
             "0:01 press drink-key\n"
             "0:10 press stop\n" // saves 54
             "0:20 press drink-key\n"
             "0:35 restart\n"
             "0:36 end\n",
             &p);
    const Entry* cut = p.find(Topic::Drink, "drink cut off by the quit");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->at, 35000);
    EXPECT_NE(cut->text.find(", flask 54 → "), std::string::npos) << cut->text;
    EXPECT_NE(cut->text.find(", not saved"), std::string::npos) << cut->text;
    EXPECT_EQ(p.result.flask, 54) << "the level last saved, not the one in memory at the quit";
    EXPECT_EQ(p.result.save, "54");
    EXPECT_EQ(p.result.intake, 0);
    EXPECT_EQ(p.about(Topic::Start).back(), "script started: flask 54 (save file \"54\")");
    // The drink's band ends at the quit, and only one drink is still counted.
    ASSERT_EQ(p.result.recording.drinks.size(), 2u);
    EXPECT_EQ(p.result.recording.drinks[1].to, 35000);
    EXPECT_EQ(p.result.counts.drinks, 2);
    EXPECT_TRUE(inTimeOrder(p.entries));
}

TEST(Restart, TheGameGoesOnWhereItWasButWithoutTheOldLoadsDoings) {
    Played p;
    playText("flask 5\n"
             "cash $25\n"
             "0:01 enter saloon valentine\n"
             "0:02 target bartender at 3\n"
             "0:03 complete refill-prompt\n"
             "0:05 restart\n"        // in the middle of the service
             "0:06 expect flask 5\n" // it had not been saved
             "0:06 expect cash $25.00\n"
             "0:06 expect refill-prompt shown\n" // still in the saloon, facing the bartender
             "0:07 complete refill-prompt\n"
             "0:20 expect flask 99\n"
             "0:20 expect cash $15.00\n"
             "0:21 mission 20s\n"
             "0:25 restart\n" // in a mission when the game quits
             "0:26 expect mission off\n"
             "0:26 expect refill-prompt shown\n"
             "0:27 end\n",
             &p);
    EXPECT_EQ(p.result.failures(), 0);
    EXPECT_EQ(p.result.counts.refills, 1);
    ASSERT_EQ(p.result.recording.refills.size(), 2u);
    EXPECT_EQ(p.result.recording.refills[0].to, 5000);
    EXPECT_EQ(p.result.recording.refills[0].label, "refill (cut off)");
    EXPECT_NE(std::find(p.about(Topic::Refill).begin(), p.about(Topic::Refill).end(),
                        "the service is cut off by the quit"),
              p.about(Topic::Refill).end());
    ASSERT_EQ(p.result.recording.missions.size(), 1u);
    EXPECT_EQ(p.result.recording.missions[0].from, 21000);
    EXPECT_EQ(p.result.recording.missions[0].to, 25000);
    EXPECT_EQ(p.result.counts.restarts, 2);
    EXPECT_TRUE(inTimeOrder(p.entries));
}

// TMPDIR pointed at a folder of the test's own for one test.
class RestartFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = getenv("TMPDIR");
        hadTmp = old != nullptr;
        if (old) oldTmp = old;
        folder =
            std::filesystem::temp_directory_path() /
            ("tolvenmire-restart-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder / "tmp");
        setenv("TMPDIR", (folder / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp)
            setenv("TMPDIR", oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::filesystem::remove_all(folder);
    }
    bool tmpEmpty() const { return std::filesystem::is_empty(folder / "tmp"); }
    std::filesystem::path folder;
    bool hadTmp = false;
    std::string oldTmp;
};

TEST_F(RestartFolders, TheGamesFolderGoesAtTheEndAndWhenTheSessionBreaksOff) {
    Played p;
    playText("flask 40\n0:01 restart\n0:02 end\n", &p);
    EXPECT_TRUE(tmpEmpty());

    // A plug-in that cannot be loaded at all.
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(parseScenario("flask 40\n0:01 restart\n0:02 end\n", "test.txt", &s, &errors));
    PlayOptions o;
    o.pluginPath = (folder / "missing.so").string();
    SessionResult r;
    EXPECT_FALSE(play(s, o, &r));
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(tmpEmpty());

    // One that is gone by the time the game starts again.
    const std::filesystem::path copy = folder / std::filesystem::path(sim::defaultPlugin()).filename();
    std::filesystem::copy_file(sim::defaultPlugin(), copy);
    o.pluginPath = copy.string();
    o.onEntry = [&copy](const Entry& e) {
        if (e.topic == Topic::Restart) std::filesystem::remove(copy);
    };
    EXPECT_FALSE(play(s, o, &r));
    EXPECT_EQ(r.error.rfind("the plug-in could not be started again after the restart at 0:01.0: ", 0), 0u)
        << r.error;
    EXPECT_FALSE(sim::running());
    EXPECT_TRUE(tmpEmpty());

    // The host is ready for the next session.
    Played after;
    playText("flask 12\n0:01 expect flask 12\n0:02 end\n", &after);
    EXPECT_EQ(after.result.failures(), 0);
}

} // namespace
