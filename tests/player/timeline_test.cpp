// A small session played with the real plug-in: what the timeline tells, what the
// recording keeps for the chart, and how expectations are judged.
#include "report.h"
#include "scenario.h"
#include "session.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    EXPECT_EQ(p.result.recording.end, 12000);
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

TEST(Timeline, OutOfPlayAndThePassOutAreToldOnceEach) {
    Played p;
    playText("settings SOBER_UP_TIME=100000\n"
             "0:01 press drink-key\n"
             "2:20 die 5s\n"
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

    const std::vector<std::string> hold = p.about(Topic::Hold);
    ASSERT_EQ(hold.size(), 3u);
    EXPECT_EQ(hold[0], "script held; intoxication reset");
    EXPECT_EQ(hold[1],
              "back in play in the game; the script sees it at its next look (every 3 s while held)");
    EXPECT_EQ(hold[2].rfind("script runs again after ", 0), 0u);
    ASSERT_EQ(p.result.recording.outOfPlay.size(), 1u);
    EXPECT_EQ(p.result.recording.outOfPlay[0].from, 140000);
    EXPECT_EQ(p.result.recording.outOfPlay[0].to, 145000);
    EXPECT_EQ(p.result.recording.outOfPlay[0].label, "death");
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

} // namespace
