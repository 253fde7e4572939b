// The timeline tells only what happened: every shipped scenario, and each case
// below, held entry by entry against the calls of its frame (timeline_check.h); a
// fault planted in a timeline is found; and each case gives the line, or the error,
// it must.
#include "timeline_check.h"

#include "player/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

using player::Entry;
using player::Fact;
using player::Topic;

std::string fileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST(TimelineTruth, EveryShippedScenarioIsToldAsItsCallsShowIt) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SCENARIOS_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        const truth::Session s = truth::play(fileText(entry.path()), entry.path().string());
        ASSERT_EQ(s.error, "");
        EXPECT_EQ(joinedLines(truth::disagreements(s, s.entries)), "");
        EXPECT_EQ(s.result.failures(), 0);
        EXPECT_TRUE(std::is_sorted(s.entries.begin(), s.entries.end(), [](const Entry& a, const Entry& b) {
            return a.at < b.at;
        })) << "the timeline runs forward";
    }
    EXPECT_GE(files, 20);
}

// A session with each kind of entry the check holds: drinks by key and prompt, the
// prompt withdrawn by a mission's hold, the deadeye lock, a refill with its save and
// charge.
const char* const Everything = "settings DEADEYE_LOCK_THRESHOLD=3\n"
                               "flask 20\n"
                               "0:01 press drink-key\n"
                               "0:10 move\n"
                               "0:12 release satchel\n"
                               "0:13 complete drink-prompt\n"
                               "0:20 move\n"
                               "0:22 release satchel\n"
                               "0:23 mission 4s\n"
                               "0:40 enter saloon rhodes\n"
                               "0:41 target bartender\n"
                               "0:42 complete refill-prompt\n"
                               "0:55 end\n";

// Faults planted in a true timeline, one kind at a time: each must be found.
TEST(TimelineTruth, AFaultPlantedInTheTimelineIsFound) {
    const truth::Session s = truth::play(Everything, "everything.txt");
    ASSERT_EQ(s.error, "");
    ASSERT_EQ(joinedLines(truth::disagreements(s, s.entries)), "") << "the true timeline agrees";
    struct Plant {
        const char* name;
        Fact fact;
        std::function<void(std::vector<Entry>&, size_t at)> plant;
    };
    auto later = [](std::vector<Entry>& v, size_t i) { ++v[i].frame; };
    auto dropped = [](std::vector<Entry>& v, size_t i) { v.erase(v.begin() + (std::ptrdiff_t)i); };
    const std::vector<Plant> plants = {
        {"a drink told a frame late", Fact::DrinkStarted, later},
        {"a drink untold", Fact::DrinkStarted, dropped},
        {"a drink by the key told as by the prompt", Fact::DrinkStarted,
         [](std::vector<Entry>& v, size_t i) { v[i].value = 1 - v[i].value; }},
        {"a save told with another content", Fact::DrinkStopped,
         [](std::vector<Entry>& v, size_t i) { v[i].detail = "99"; }},
        {"a save untold", Fact::DrinkStopped, [](std::vector<Entry>& v, size_t i) { v[i].detail.clear(); }},
        {"the refill's save untold", Fact::RefillSaved, dropped},
        {"a charge of another amount", Fact::Charged,
         [](std::vector<Entry>& v, size_t i) { v[i].value += 100; }},
        {"the service served a frame late", Fact::Served, later},
        {"the service served a frame early", Fact::Served,
         [](std::vector<Entry>& v, size_t i) { --v[i].frame; }},
        {"the hold told a frame late", Fact::HoldStarted, later},
        {"the hold's end told at the mission's end", Fact::HoldEnded,
         [](std::vector<Entry>& v, size_t i) { v[i].frame -= 60; }},
        {"a mission told unseen while the script held", Fact::MissionEndedHeld,
         [](std::vector<Entry>& v, size_t i) { v[i].fact = Fact::MissionUnseen; }},
        {"a prompt's withdrawal untold", Fact::PromptWithdrawn, dropped},
        {"a prompt shown a frame late", Fact::PromptShown, later},
        {"the deadeye lock told the wrong way", Fact::DeadeyeOff,
         [](std::vector<Entry>& v, size_t i) { v[i].fact = Fact::DeadeyeOn; }},
        {"the deadeye lock's change untold", Fact::DeadeyeOff, dropped},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.name);
        std::vector<Entry> entries = s.entries;
        auto it =
            std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.fact == p.fact; });
        ASSERT_NE(it, entries.end()) << "the session tells no such entry";
        p.plant(entries, (size_t)(it - entries.begin()));
        EXPECT_FALSE(truth::disagreements(s, entries).empty());
    }
}

// The timeline's lines as printed.
std::vector<std::string> printed(const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    for (const Entry& e : entries) out.push_back(player::formatEntry(e));
    return out;
}

// Each case: a scenario and the timeline line it must give (as printed), or the
// error its reading must give ("test.txt:LINE: ..."). A case that plays is held
// against its calls, its timeline runs forward in time, and its expectations pass
// unless the line it must give is a failure.
struct Case {
    const char* name;
    std::string scenario;
    std::string says;
    std::string never = ""; // a text no line may hold
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        // A mission over while the script waits for the drinking scenario (three
        // frames at 1 fps) was never asked about: no hold, nothing reset.
        {"mission-unseen-during-a-drinks-start",
         "fps 1\n0:01 press drink-key\n0:02 mission 2s\n0:03 expect mission on\n0:03 expect held off\n"
         "0:05 expect held off\n0:08 end\n",
         "    0:04.0  mission   the mission ended before the script asked: no hold, nothing reset",
         "the script sees it at its next look"},
        {"a-hold-is-held-until-the-script-looks-again",
         "0:10 mission 5s\n0:10 expect held on\n0:15.5 expect mission off\n0:15.5 expect held on\n"
         "0:16.5 expect held off\n0:17 end\n",
         "    0:16.0  mission   the script sees the mission flag down after 6.0 s held; it runs again from "
         "the next frame"},
        // A refill counts when it is charged, and lasts to its own last frame, not to
        // the end of a hold that began after it.
        {"refill-counted-when-charged",
         "flask 10\ncash $25\n0:01 enter saloon rhodes\n0:02 target bartender at 3\n0:03 complete "
         "refill-prompt\n"
         "0:05 mission 10s\n0:08 expect refills 1\n0:08 expect charged $10.00\n0:20 end\n",
         "    0:10.6  refill    served in 7.6 s: flask 10 → 99", "served in 13"},
        {"refill-of-a-full-flask-saves",
         "0:01 enter saloon rhodes\n0:02 target bartender at 3\n0:03 complete refill-prompt\n0:12 end\n",
         "    0:05.5  refill    flask 99 → 99, saved \"99\""},
        // An expectation never sees a line written for a later time, nor one written
        // after it for the same time.
        {"expectation-before-a-later-line-of-its-frame",
         "fps 1\n0:09.5 expect drink-prompt hidden\n0:10 release satchel\n0:10 expect drink-prompt shown\n"
         "0:11 end\n",
         "    0:09.5  expect    ok    drink-prompt hidden (seen before line 3, in the same frame)"},
        {"expectation-before-a-mission-of-a-later-time",
         "fps 1\n0:19.5 expect mission off\n0:20 mission 5s\n0:21 end\n",
         "    0:19.5  expect    ok    mission off (seen before line 3, in the same frame)"},
        {"expectation-before-a-mission-of-the-same-time",
         "0:10 expect mission off\n0:10 mission 5s\n0:10 expect mission on\n0:11 end\n",
         "    0:10.0  expect    ok    mission off (seen before line 2, in the same frame)"},
        {"expectation-after-its-frame-told-at-the-frames-time",
         "fps 1\n0:09.5 expect drinking off\n0:11 end\n",
         "    0:10.0  expect    ok    drinking off (written for 0:09.5)"},
        // Expectations that could not fail.
        {"not-spoken-with-a-typo", "0:01 expect not-spoken PLAYER_SHOP_THANKS_NEUTRL\n0:02 end\n",
         "test.txt:1: no speech line \"PLAYER_SHOP_THANKS_NEUTRL\" (did you mean "
         "\"PLAYER_SHOP_THANKS_NEUTRAL\"?)"},
        {"spoken-in-the-wrong-case", "0:01 expect spoken chat_prepare_drink\n0:02 end\n",
         "test.txt:1: no speech line \"chat_prepare_drink\" (did you mean \"CHAT_PREPARE_DRINK\"?)"},
        {"not-spoken-with-a-trailing-blank",
         "0:01 expect not-spoken \"PLAYER_SHOP_THANKS_NEUTRAL \"\n0:02 end\n",
         "test.txt:1: no speech line \"PLAYER_SHOP_THANKS_NEUTRAL \" (did you mean "
         "\"PLAYER_SHOP_THANKS_NEUTRAL\"?)"},
        {"intensity-bound-is-exact",
         "settings SOBER_UP_TIME=100000\n0:01 press drink-key\n0:09 move\n0:16 expect drunk 10\n"
         "0:16 expect intensity <= 0.5\n0:17 end\n",
         "    0:16.0  expect    FAILED intensity <= 0.5 — got 0.5459182"},
        {"intensity-equal-keeps-its-last-digit",
         "settings SOBER_UP_TIME=100000\n0:01 press drink-key\n0:09 move\n0:16 expect intensity 0.5\n"
         "0:16 expect intensity 0.55\n0:16 expect intensity >= 0.5459\n0:17 end\n",
         "    0:16.0  expect    ok    intensity 0.5"},
        // Wrong values are named.
        {"mission-of-no-length", "0:01 mission 0s\n0:02 end\n",
         "test.txt:1: mission 0s lasts no time: give it a length, as in mission 5s, or none for a mission "
         "until mission-end"},
        {"death-of-no-length", "0:01 die 0:00\n0:02 end\n",
         "test.txt:1: die 0:00 lasts no time: give it a length, as in die 5s, or none for a death of 10 s"},
        {"hash-right-after-a-word", "0:01 mission#5s\n0:02 end\n",
         "test.txt:1: a \"#\" right after \"mission\": put a blank before a comment, or the word in double "
         "quotes"},
        {"mission-end-with-none-under-way", "0:01 mission 5s\n0:07 mission-end\n0:08 end\n",
         "test.txt:2: mission-end at 0:07.0 with no mission under way (the mission of line 1 ended at "
         "0:06.0)"},
        {"a-mission-inside-another", "0:01 mission\n0:03 mission 2s\n0:08 end\n",
         "test.txt:2: a mission at 0:03.0 while the mission of line 1 is under way (until its mission-end): "
         "end that one first (mission-end), or start this one after it"},
        {"missions-back-to-back", "0:01 mission 5s\n0:06 mission 5s\n0:07 expect mission on\n0:12 end\n",
         "    0:06.0  mission   the mission ends in the game; the script sees it at its next look (every 3 s "
         "while held)"},
        {"clock-past-its-end", "clock 1966-01-20 00:00\n0:01 clock-rate 100000\n1:00 end\n",
         "test.txt:2: the game clock would run past its last second (20 Jan 1966 03:14:07) at 0:01.1, where "
         "it would wrap and sobering stop: start it earlier or run it slower"},
        {"clock-before-1898", "0:01 clock -5\n0:02 end\n",
         "test.txt:1: the game clock cannot show \"-5\" (it runs from 1 Jan 1898 00:00:00 to 20 Jan 1966 "
         "03:14:07)"},
        {"drink-key-at-ten-frames-a-second",
         "fps 10\n0:01 press drink-key\n0:02 expect drinking on\n0:03 end\n",
         "    0:01.0  drink     drink started by the drink key; waiting for the drinking scenario"},
        {"drink-key-at-one-frame-a-second",
         "fps 1\n0:01 press drink-key\n0:02 expect drinking on\n0:03 end\n",
         "    0:01.0  drink     drink started by the drink key; waiting for the drinking scenario"},
        {"a-press-older-than-100ms-at-one-frame-a-second",
         "fps 1\n0:01.5 press drink-key\n0:03 expect drinking off\n0:04 end\n",
         "    0:01.5  > press drink-key — O (79)", "drink started"},
        {"sobering-faster-than-the-plug-in-looks", "settings SOBER_UP_TIME=10\n0:01 end\n",
         "    0:00.0  start     30 fps (33 ms frames) · cash $1,000.00 · the player on foot with a "
         "controller, "
         "aiming · game clock 1 Jan 1898 00:00:00, 30 in-game s a second (sobering: 1 intake a second, the "
         "most the plug-in does, though the settings ask for 1 every 0.4 s)"},
        {"mounted-while-dead", "0:01 die 5s\n0:02 mount\n0:07 end\n",
         "    0:06.0  player    the player is alive again; not on foot (mounted by a line while he was "
         "dead)"},
        {"a-drink-started-and-stopped-in-one-frame",
         "set scenario-start-frames 0\n0:01 press drink-key\n0:01 move\n0:01 expect drinks 1\n0:02 end\n",
         "    0:01.0  drink     drink stopped after 0.0 s (a stop control): 0 sips, flask 99 → 99, saved "
         "\"99\""},
        {"a-drink-whose-scenario-never-starts",
         "set scenario-never-starts on\n0:01 press drink-key\n0:07 end\n",
         "    0:06.0  drink     drink stopped after 5.0 s (the drinking scenario never started): 0 sips, "
         "flask "
         "99 → 99, nothing saved"},
        // Text that would act on the terminal is shown by code point.
        {"a-bom-starts-the-file",
         "\xEF\xBB\xBF"
         "0:01 expect flask 99\n0:02 end\n",
         "    0:01.0  expect    ok    flask 99"},
        {"bidi-and-zero-width-in-quoted-text",
         "0:01 expect save \"a\xE2\x80\xAE"
         "b\xE2\x80\x8B"
         "c\"\n0:02 end\n",
         "    0:01.0  expect    FAILED save \"a\\u{202E}b\\u{200B}c\" — got none (no save file)"},
        // A mission's hold withdraws a drink prompt it finds on screen.
        {"a-holds-withdraws-the-drink-prompt",
         "0:01 release satchel\n0:01 expect drink-prompt shown\n0:02 mission 5s\n0:02 expect drink-prompt "
         "hidden\n"
         "0:02 expect held on\n0:10 expect drink-prompt hidden\n0:11 end\n",
         "    0:02.0  prompt    \"Drink From Flask\" withdrawn by the mission's hold"},
        {"the-drink-key-on-horseback-withdraws-the-prompt",
         "0:01 release satchel\n0:02 mount\n0:03 press drink-key\n0:03 expect drink-prompt hidden\n0:04 "
         "end\n",
         "    0:03.0  prompt    \"Drink From Flask\" withdrawn by the drink key"},
    };
    return table;
}

TEST(TimelineTruth, EachCaseGivesItsLineOrItsError) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const truth::Session s = truth::play(c.scenario, "test.txt");
        if (c.says.rfind("test.txt:", 0) == 0) {
            EXPECT_EQ(s.error, c.says);
            continue;
        }
        ASSERT_EQ(s.error, "");
        const std::vector<std::string> lines = printed(s.entries);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.says), lines.end()) << joinedLines(lines);
        for (const std::string& l : lines) {
            if (!c.never.empty()) {
                EXPECT_EQ(l.find(c.never), std::string::npos) << l;
            }
        }
        EXPECT_EQ(joinedLines(truth::disagreements(s, s.entries)), "");
        EXPECT_EQ(s.result.failures(), c.says.find("FAILED") != std::string::npos ? 1 : 0)
            << joinedLines(lines);
        std::vector<player::Millis> times;
        for (const Entry& e : s.entries) times.push_back(e.at);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << "the timeline runs forward";
    }
}

} // namespace
