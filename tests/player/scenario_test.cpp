// The scenario parser: what a good file turns into, and what a bad one is told.
#include "player/scenario.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace player;
using K = Event::Kind;
using S = Expectation::Subject;

Millis time(const char* text) {
    Millis ms = -1;
    EXPECT_TRUE(parseTime(text, &ms)) << text;
    return ms;
}

TEST(ScenarioTimes, ReadEveryFormTheFormatAllows) {
    EXPECT_EQ(time("0:05"), 5000);
    EXPECT_EQ(time("1:30.5"), 90500);
    EXPECT_EQ(time("1:30.25"), 90250);
    EXPECT_EQ(time("1:02:03"), 3723000);
    EXPECT_EQ(time("90:00"), 5400000);
    EXPECT_EQ(time("2500ms"), 2500);
    EXPECT_EQ(time("1.5s"), 1500);
    EXPECT_EQ(time("2m"), 120000);
    EXPECT_EQ(time("1h"), 3600000);
    EXPECT_EQ(time("1m30s"), 90000);
    for (const char* bad :
         {"5", "0:5", "0:60", "1:75:00", "1:30.", "1.5ms", "0.0001s", "5 s", "5x", "", ":05", "1:2:3:4"}) {
        Millis ms = 0;
        EXPECT_FALSE(parseTime(bad, &ms)) << bad;
    }
}

TEST(ScenarioTimes, PrintAsTheTimelineShowsThem) {
    EXPECT_EQ(formatTime(0), "0:00.0");
    EXPECT_EQ(formatTime(65340), "1:05.3");
    EXPECT_EQ(formatTime(59990), "1:00.0"); // rounded to the tenth
    EXPECT_EQ(formatTime(3723000), "1:02:03.0");
    EXPECT_EQ(formatDuration(7500), "7.5 s");
    EXPECT_EQ(formatDuration(90000), "1:30");
}

TEST(ScenarioMoney, ReadsDollarsAndPrintsThemGrouped) {
    int64_t c = 0;
    ASSERT_TRUE(parseMoney("$12", &c));
    EXPECT_EQ(c, 1200);
    ASSERT_TRUE(parseMoney("$12.5", &c));
    EXPECT_EQ(c, 1250);
    ASSERT_TRUE(parseMoney("-$3.05", &c));
    EXPECT_EQ(c, -305);
    ASSERT_TRUE(parseMoney("$1,000.00", &c));
    EXPECT_EQ(c, 100000);
    for (const char* bad : {"$", "$1.234", "12a", "$-3", "$1.", ""}) EXPECT_FALSE(parseMoney(bad, &c)) << bad;
    EXPECT_EQ(formatMoney(123450), "$1,234.50");
    EXPECT_EQ(formatMoney(-300), "-$3.00");
    EXPECT_EQ(formatMoney(5), "$0.05");
}

bool parse(const std::string& text, Scenario* out, std::vector<ParseError>* errors,
           const std::string& path = "scenarios/x.txt") {
    return parseScenario(text, path, out, errors);
}

TEST(ScenarioFile, AGoodFileGivesSetupEventsAndExpectationsInTimeOrder) {
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(parse(R"(# a comment
settings REFILL_PRICE=12 tolvenmire_key=P   # keys are upper-cased; a letter is its key code
fps 60
flask 40
hud-at 0:20
cash $25
enter saloon valentine
0:05    press drink-key
at 0:06 press key 80
+1s     press stop
0:07    press stop-alt
0:08    press prompt-control
0:08    hold prompt-control
0:09    complete refill-prompt
0:10    die
0:11    cutscene 30s
0:12    target bartender of rhodes at 3.5m
0:13    target stranger
0:14    set pass-out-after 2s
0:15    expect intake 10..20
0:15    expect cash >= $1.50
0:15    expect intensity 0.4974
0:15    expect drink-prompt shown
0:15    expect save "42 \"x\""
0:15    expect save none
1:00    end
)",
                      &s, &errors));
    ASSERT_TRUE(errors.empty());
    EXPECT_TRUE(s.withSettings);
    // A key's name goes into the file as written, for the plug-in to read.
    EXPECT_EQ(s.settings, "[SETTINGS]\nREFILL_PRICE=12\nTOLVENMIRE_KEY=P\n");
    EXPECT_EQ(s.fps, 60);
    EXPECT_TRUE(s.withSave);
    EXPECT_EQ(s.save, "40");
    EXPECT_TRUE(s.hasHudAt);
    EXPECT_EQ(s.hudAt, 20000);
    EXPECT_EQ(s.end, 60000);
    ASSERT_EQ(s.setup.size(), 2u);
    EXPECT_EQ(s.setup[0].kind, K::Cash);
    EXPECT_EQ(s.setup[0].number, 2500);
    EXPECT_EQ(s.setup[1].kind, K::Enter);
    EXPECT_EQ(s.setup[1].number, 21250);

    const std::vector<Event>& e = s.events;
    ASSERT_EQ(e.size(), 19u);
    EXPECT_EQ(e[0].kind, K::PressKey);
    EXPECT_EQ(e[0].number, -1) << "the drink key, whatever the settings make it";
    EXPECT_EQ(e[0].line, 8);
    EXPECT_EQ(e[1].number, 80);
    EXPECT_EQ(e[1].at, 6000);
    EXPECT_EQ(e[2].at, 7000) << "+1s after the line before";
    EXPECT_EQ(e[2].number, 0xFDA83190);
    EXPECT_EQ(e[3].number, 0x4D8FB4C1);
    EXPECT_EQ(e[4].kind, K::Satchel);
    EXPECT_EQ(e[4].number, 0);
    EXPECT_EQ(e[5].number, 1);
    EXPECT_EQ(e[6].kind, K::Complete);
    EXPECT_EQ(e[6].name, "refill");
    EXPECT_EQ(e[7].kind, K::Die);
    EXPECT_EQ(e[7].name, "death");
    EXPECT_EQ(e[7].duration, 10000) << "a death lasts 10 s unless told";
    EXPECT_EQ(e[8].duration, 30000);
    EXPECT_EQ(e[9].kind, K::Target);
    EXPECT_EQ(e[9].number, 54274);
    EXPECT_DOUBLE_EQ(e[9].value, 3.5);
    EXPECT_EQ(e[10].name, "stranger");
    EXPECT_DOUBLE_EQ(e[11].value, 2000);

    EXPECT_EQ(e[12].expect.subject, S::Intake);
    EXPECT_EQ(e[12].expect.op, Expectation::Op::Range);
    EXPECT_EQ(e[12].expect.low, 10);
    EXPECT_EQ(e[12].expect.high, 20);
    EXPECT_EQ(e[13].expect.op, Expectation::Op::Ge);
    EXPECT_EQ(e[13].expect.low, 150);
    EXPECT_NEAR(e[14].expect.tolerance, 0.00005, 1e-12) << "half a unit of the last digit written";
    EXPECT_TRUE(e[15].expect.flag);
    EXPECT_EQ(e[16].expect.text, "42 \"x\"");
    EXPECT_TRUE(e[16].expect.present);
    EXPECT_FALSE(e[17].expect.present);
    EXPECT_EQ(e[18].kind, K::End);
    EXPECT_EQ(s.expectations, 6);
}

// The messages of a bad file, one per line.
std::vector<std::string> errorsOf(const std::string& text) {
    Scenario s;
    std::vector<ParseError> errors;
    EXPECT_FALSE(parse(text, &s, &errors));
    std::vector<std::string> out;
    for (const ParseError& e : errors) out.push_back(e.text());
    return out;
}

TEST(ScenarioFile, EachBadLineIsNamedWithFileLineAndWhatIsWrong) {
    const std::vector<std::string> errors = errorsOf("flask 40\n"
                                                     "0:01  press drink-key\n"
                                                     "0:02  drnk\n"
                                                     "0:03  expect flask 9x\n"
                                                     "0:45  press stop\n"
                                                     "0:30  press stop\n"
                                                     "0:50  expect flsk 3\n"
                                                     "5     press stop\n"
                                                     "0:60  press stop\n"
                                                     "0:51  target bartender of nowhere\n"
                                                     "0:52  set pass-out-afer 2s\n"
                                                     "fps 30\n"
                                                     "0:53  press key\n");
    ASSERT_EQ(errors.size(), 10u) << "one message per bad line";
    EXPECT_EQ(errors[0], "scenarios/x.txt:3: unknown event \"drnk\"");
    EXPECT_EQ(errors[1], "scenarios/x.txt:4: bad number \"9x\" for flask (a whole number)");
    EXPECT_EQ(errors[2],
              "scenarios/x.txt:6: time 0:30.0 is earlier than the line before it (0:45.0 on line 5); "
              "times must not go backwards");
    EXPECT_EQ(errors[3], "scenarios/x.txt:7: cannot expect \"flsk\" (did you mean \"flask\"?)");
    EXPECT_EQ(errors[4],
              "scenarios/x.txt:8: bad time \"5\": give a unit or minutes and seconds (5s, 0:05, 5ms)");
    EXPECT_EQ(
        errors[5],
        "scenarios/x.txt:9: bad time \"0:60\": minutes and seconds are M:SS with seconds below 60 (0:05, "
        "1:30.5, 1:02:03)");
    EXPECT_EQ(errors[6], "scenarios/x.txt:10: unknown saloon \"nowhere\"");
    EXPECT_EQ(errors[7],
              "scenarios/x.txt:11: unknown knob \"pass-out-afer\" (did you mean \"pass-out-after\"?)");
    EXPECT_EQ(errors[8],
              "scenarios/x.txt:12: \"fps\" belongs to the setup, before the first timed line (line 11)");
    EXPECT_EQ(errors[9].rfind("scenarios/x.txt:13: cannot press \"key\"", 0), 0u) << errors[9];
}

TEST(ScenarioFile, SetupMistakesAreNamedToo) {
    EXPECT_EQ(errorsOf("settings REFIL_PRICE=3\n0:01 end\n")[0],
              "scenarios/x.txt:1: unknown setting \"REFIL_PRICE\" (did you mean \"REFILL_PRICE\"?)");
    EXPECT_EQ(errorsOf("settings REFILL_PRICE=ten\n0:01 end\n")[0],
              "scenarios/x.txt:1: bad number \"ten\" for REFILL_PRICE (a whole number)");
    EXPECT_EQ(errorsOf("settings REFILL_PRICE=1\nsettings REFILL_PRICE=2\n0:01 end\n")[0],
              "scenarios/x.txt:2: REFILL_PRICE is set twice (also on line 1)");
    EXPECT_EQ(errorsOf("fps 0\n0:01 end\n")[0], "scenarios/x.txt:1: fps 0 is out of range (1 to 1000)");
    EXPECT_EQ(errorsOf("flask 40\nsave \"3\"\n0:01 end\n")[0],
              "scenarios/x.txt:2: flask and save both set the save file (flask is on line 1)");
    EXPECT_EQ(errorsOf("0:01 end\n0:02 press stop\n")[0],
              "scenarios/x.txt:2: nothing can follow \"end\" (line 1)");
    EXPECT_EQ(errorsOf("press stop\n0:01 end\n")[0],
              "scenarios/x.txt:1: \"press\" needs a time, as in \"0:05 press stop\"");
    EXPECT_EQ(errorsOf("0:01 press stop\ncash $5\n")[0],
              "scenarios/x.txt:2: \"cash\" needs a time after the setup, as in \"0:01.0 cash $5\"");
    EXPECT_EQ(errorsOf("save \"abc\n0:01 end\n")[0], "scenarios/x.txt:1: unterminated quoted text");
    EXPECT_EQ(errorsOf("flask 40\n")[0],
              "scenarios/x.txt: the scenario plays nothing: add a timed line, such as "
              "\"1:00 end\"");
    EXPECT_EQ(errorsOf("hud-at 2:00\n1:00 end\n")[0],
              "scenarios/x.txt: hud-at 2:00.0 is after the end of the session (1:00.0)");
}

TEST(ScenarioFile, ARestartIsATimedLineOfItsOwn) {
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(parse("flask 40\n"
                      "0:05 press drink-key\n"
                      "0:10 restart\n"
                      "at 0:10 expect flask 40\n"
                      "+2s restart   # twice is fine\n"
                      "0:20 end\n",
                      &s, &errors));
    ASSERT_EQ(s.events.size(), 5u);
    EXPECT_EQ(s.events[1].kind, K::Restart);
    EXPECT_EQ(s.events[1].at, 10000);
    EXPECT_EQ(s.events[1].line, 3);
    EXPECT_EQ(s.events[2].kind, K::Expect) << "lines of one time keep their order";
    EXPECT_EQ(s.events[3].kind, K::Restart);
    EXPECT_EQ(s.events[3].at, 12000);

    EXPECT_EQ(errorsOf("0:10 restart now\n0:11 end\n"),
              (std::vector<std::string>{"scenarios/x.txt:1: too many arguments: write \"restart\""}));
    EXPECT_EQ(
        errorsOf("flask 3\nrestart\n0:11 end\n"),
        (std::vector<std::string>{"scenarios/x.txt:2: \"restart\" needs a time, as in \"0:05 restart\""}));
    EXPECT_EQ(errorsOf("0:10 restrat\n0:11 end\n"),
              (std::vector<std::string>{
                  "scenarios/x.txt:1: unknown event \"restrat\" (did you mean \"restart\"?)"}));
}

// The player's stance and the game's happenings in the game's own terms: each word
// its kind and answer, the older spellings their old meaning, and setup or timed
// as the word allows.
TEST(ScenarioFile, ThePlayersStanceAndTheGamesHappeningsReadInTheGamesTerms) {
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(parse("keyboard\n"
                      "mount\n"
                      "stop-aiming\n"
                      "set on-foot 0\n"
                      "0:01 controller\n"
                      "0:02 dismount\n"
                      "0:03 aim\n"
                      "0:04 release satchel\n"
                      "0:05 press prompt-control\n"
                      "0:06 release prompt-control\n"
                      "0:07 move\n"
                      "0:08 mission\n"
                      "0:09 mission-end\n"
                      "0:10 out-of-play 5s\n"
                      "0:11 back-in-play\n"
                      "0:12 expect mission on\n"
                      "0:12 expect out-of-play off\n"
                      "0:12 expect on-foot on\n"
                      "0:12 expect deadeye-held-off on\n"
                      "0:13 clock 1898-06-01 14:30\n"
                      "0:14 clock 1899-01-01\n"
                      "0:15 clock 5\n"
                      "0:16 end\n",
                      &s, &errors))
        << (errors.empty() ? "" : errors[0].text());
    ASSERT_EQ(s.setup.size(), 4u);
    EXPECT_EQ(s.setup[0].kind, K::Input);
    EXPECT_EQ(s.setup[0].number, 1) << "keyboard and mouse";
    EXPECT_EQ(s.setup[1].kind, K::OnFoot);
    EXPECT_EQ(s.setup[1].number, 0) << "mounted: not on foot";
    EXPECT_EQ(s.setup[2].kind, K::Aiming);
    EXPECT_EQ(s.setup[2].number, 0);
    EXPECT_EQ(s.setup[3].name, "on-foot");

    const std::vector<Event>& e = s.events;
    ASSERT_EQ(e.size(), 19u);
    EXPECT_EQ(e[0].number, 0) << "a controller";
    EXPECT_EQ(e[1].number, 1) << "on foot";
    EXPECT_EQ(e[2].number, 1) << "aiming";
    EXPECT_EQ(e[3].kind, K::Satchel);
    EXPECT_EQ(e[3].number, 0) << "a release, one frame";
    EXPECT_EQ(e[4].kind, K::Satchel);
    EXPECT_EQ(e[4].number, 0) << "the older spelling of the same";
    EXPECT_EQ(e[5].number, 2) << "release prompt-control still ends the held control";
    EXPECT_EQ(e[6].kind, K::PressControl);
    EXPECT_EQ(e[6].number, 0xFDA83190) << "INPUT_MOVE_UD";
    EXPECT_EQ(e[7].kind, K::Mission);
    EXPECT_EQ(e[7].duration, 0) << "until mission-end";
    EXPECT_EQ(e[8].kind, K::MissionEnd);
    EXPECT_EQ(e[9].kind, K::Mission) << "out-of-play is a mission";
    EXPECT_EQ(e[9].duration, 5000);
    EXPECT_EQ(e[10].kind, K::MissionEnd);
    EXPECT_EQ(e[11].expect.subject, S::Mission);
    EXPECT_EQ(e[12].expect.subject, S::Mission);
    EXPECT_FALSE(e[12].expect.flag);
    EXPECT_EQ(e[13].expect.subject, S::OnFoot);
    EXPECT_EQ(e[14].expect.subject, S::DeadeyeHeld);
    EXPECT_EQ(e[15].number, (31 + 28 + 31 + 30 + 31) * 86400 + 14 * 3600 + 30 * 60) << "1 June 1898, 14:30";
    EXPECT_EQ(e[16].number, 365 * 86400);
    EXPECT_EQ(e[17].number, 5) << "the clock in seconds, as ever";

    EXPECT_EQ(
        errorsOf("0:01 set player-condition 0\n0:02 end\n")[0].rfind(
            "scenarios/x.txt:1: unknown knob \"player-condition\" (knobs: on-foot, keyboard-and-mouse,", 0),
        0u)
        << "the role's name is no knob: the list names the game's";
    EXPECT_EQ(errorsOf("0:01 set free-aming 0\n0:02 end\n")[0],
              "scenarios/x.txt:1: unknown knob \"free-aming\" (did you mean \"free-aiming\"?)");
    EXPECT_EQ(errorsOf("move\n0:02 end\n")[0],
              "scenarios/x.txt:1: \"move\" needs a time, as in \"0:05 move\"");
    EXPECT_EQ(errorsOf("0:01 mision 5s\n0:02 end\n")[0],
              "scenarios/x.txt:1: unknown event \"mision\" (did you mean \"mission\"?)");
    EXPECT_EQ(errorsOf("0:01 release satchels\n0:02 end\n")[0],
              "scenarios/x.txt:1: write \"release satchel\"");
    EXPECT_EQ(errorsOf("0:01 mount now\n0:02 end\n")[0],
              "scenarios/x.txt:1: too many arguments: write \"mount\"");
    EXPECT_EQ(errorsOf("0:01 clock 1898-02-29\n0:02 end\n")[0],
              "scenarios/x.txt:1: bad date \"1898-02-29\" for the game clock (as in 1898-06-01 14:30)");
    EXPECT_EQ(errorsOf("0:01 clock 1898-06-01 24:00\n0:02 end\n")[0],
              "scenarios/x.txt:1: bad date \"1898-06-01 24:00\" for the game clock (as in 1898-06-01 14:30)");
    EXPECT_EQ(errorsOf("0:01 clock 1990-01-01\n0:02 end\n")[0].rfind(
                  "scenarios/x.txt:1: the game clock cannot show \"1990-01-01\" (it runs from ", 0),
              0u);
}

// The game clock's seconds since 1898 as a date, across leap years and centuries,
// before 1898 too; and read back.
// What a real game's session needs said: its frames' lengths, its timer and tick
// count at the start, the player's handle, health and place, a target's place and
// model, presses as the keyboard gives them, reads between two values, spans of
// frames, the clock to the part of a second, and a raw answer as the last resort.
TEST(ScenarioFile, ARealSessionsLinesRead) {
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(parse("game-timer 4294963200\n"
                      "tick-count 7\n"
                      "frames 16 17*3 0\n"
                      "set player-handle 10767\n"
                      "position -312.5 802.25 117.75\n"
                      "0:01 frames 700\n"
                      "0:02 press drink-key with 0 1 1\n"
                      "0:03 move 0.37\n"
                      "0:03 press stop-alt nan for 2 frames\n"
                      "0:04 release satchel for 3 frames\n"
                      "0:05 complete refill-prompt for 2 frames\n"
                      "0:06 target bartender at -310 803 117.75\n"
                      "0:07 target stranger model 0x1234ABCD at 1.5\n"
                      "0:08 clock 127.985\n"
                      "0:09 answer BUILTIN::VDIST 2.49999976\n"
                      "0:10 answer PAD::IS_CONTROL_JUST_RELEASED(0, INPUT_OPEN_SATCHEL_MENU) 2 for 4 frames\n"
                      "0:11 set textures-loaded on\n"
                      "0:12 set max-health 600\n"
                      "0:13 end\n",
                      &s, &errors))
        << (errors.empty() ? "" : errors[0].text());
    EXPECT_TRUE(s.hasGameTimer);
    EXPECT_EQ(s.gameTimer, 4294963200u);
    EXPECT_TRUE(s.hasTickCount);
    EXPECT_EQ(s.tickCount, 7u);
    ASSERT_EQ(s.setup.size(), 3u);
    EXPECT_EQ(s.setup[0].kind, K::FrameTimes);
    EXPECT_EQ(s.setup[0].lengths, (std::vector<uint32_t>{16, 17, 17, 17, 0})) << "a stalled timer: 0 ms";
    EXPECT_EQ(s.setup[1].name, "player-handle");
    EXPECT_EQ(s.setup[2].kind, K::Position);
    EXPECT_DOUBLE_EQ(s.setup[2].y, 802.25);

    const std::vector<Event>& e = s.events;
    ASSERT_EQ(e.size(), 14u);
    EXPECT_EQ(e[0].lengths, std::vector<uint32_t>{700});
    EXPECT_EQ(e[1].kind, K::PressKey);
    EXPECT_EQ(e[1].keyFlags[1], 1);
    EXPECT_EQ(e[1].keyFlags[2], 1);
    EXPECT_EQ(e[2].kind, K::PressControl);
    EXPECT_DOUBLE_EQ(e[2].value, 0.37);
    EXPECT_EQ(e[2].span, 1);
    EXPECT_TRUE(std::isnan(e[3].value));
    EXPECT_EQ(e[3].span, 2);
    EXPECT_EQ(e[4].kind, K::Satchel);
    EXPECT_EQ(e[4].span, 3);
    EXPECT_EQ(e[5].span, 2);
    EXPECT_TRUE(e[6].placed);
    EXPECT_DOUBLE_EQ(e[6].x, -310);
    EXPECT_EQ(e[7].number, 0x1234ABCD);
    EXPECT_DOUBLE_EQ(e[7].value, 1.5);
    EXPECT_EQ(e[8].number, 127);
    EXPECT_NEAR(e[8].value, 0.985, 1e-9) << "the part of a second the clock stands at";
    EXPECT_EQ(e[9].kind, K::Answer);
    EXPECT_EQ(e[9].bits, 0x401FFFFFu) << "a float's bits";
    EXPECT_EQ(e[9].args, "");
    EXPECT_EQ(e[10].args, "0,INPUT_OPEN_SATCHEL_MENU") << "as --trace writes them, blanks out";
    EXPECT_EQ(e[10].bits, 2u);
    EXPECT_EQ(e[10].span, 4);
    EXPECT_EQ(e[11].name, "textures-loaded");
}

TEST(ScenarioFile, ARealSessionsLinesSayWhatIsWrong) {
    EXPECT_EQ(
        errorsOf("0:01 answer MISC::GET_GAME_TIMER 5\n")[0],
        "scenarios/x.txt:1: no raw answer for MISC::GET_GAME_TIMER: the game timer is the session's clock: "
        "give the frames' lengths (frames)");
    EXPECT_EQ(
        errorsOf("0:01 answer HUD::_UI_PROMPT_REGISTER_BEGIN 3\n")[0],
        "scenarios/x.txt:1: no raw answer for HUD::_UI_PROMPT_REGISTER_BEGIN: it gives a handle, the game's "
        "name for a thing: target and the prompts make them");
    EXPECT_EQ(errorsOf("0:01 answer PAD::GET_CONTRL_NORMAL 1\n")[0],
              "scenarios/x.txt:1: no native \"PAD::GET_CONTRL_NORMAL\" (did you mean "
              "\"PAD::GET_CONTROL_NORMAL\"?)");
    EXPECT_EQ(errorsOf("0:01 answer MISC::GET_MISSION_FLAG one\n")[0],
              "scenarios/x.txt:1: bad value \"one\" for MISC::GET_MISSION_FLAG (a whole number, or 0x.. for "
              "a hash)");
    EXPECT_EQ(errorsOf("0:01 mission for 3 frames\n")[0],
              "scenarios/x.txt:1: \"for N frames\" goes with a press of a control, move, release satchel, "
              "complete and answer, not with \"mission\"");
    EXPECT_EQ(errorsOf("0:01 move for 0 frames\n")[0],
              "scenarios/x.txt:1: bad count \"0\" of frames (a whole number from 1 to 3000000)");
    EXPECT_EQ(errorsOf("0:01 frames 33*0\n")[0],
              "scenarios/x.txt:1: bad frame length \"33*0\" (milliseconds, as in 33, or 33*4 for four)");
    EXPECT_EQ(errorsOf("frames 1*2000000\n0:01 frames 1*1000001\n")[0],
              "scenarios/x.txt:2: the frames lines give more than the 3000000 frames a session may play");
    EXPECT_EQ(errorsOf("0:01 press drink-key with 0 1\n")[0].rfind("scenarios/x.txt:1: cannot press", 0), 0u);
    EXPECT_EQ(errorsOf("game-timer -1\n0:01 end\n")[0],
              "scenarios/x.txt:1: bad number \"-1\" for game-timer (milliseconds, a whole number from 0 to "
              "4294967295)");
    EXPECT_EQ(
        errorsOf("0:01 clock -0.5\n")[0],
        "scenarios/x.txt:1: the game clock cannot show \"-0.5\" (it runs from 1 Jan 1898 00:00:00 to 20 Jan "
        "1966 03:14:07)");
    EXPECT_EQ(errorsOf("0:01 target bartender at 1 2\n")[0].rfind("scenarios/x.txt:1: write", 0), 0u);
}

TEST(ScenarioTimes, TheGameClockIsADateSince1898) {
    EXPECT_EQ(formatGameClock(0), "1 Jan 1898 00:00:00");
    EXPECT_EQ(formatGameClock(86399), "1 Jan 1898 23:59:59");
    EXPECT_EQ(formatGameClock(-1), "31 Dec 1897 23:59:59");
    EXPECT_EQ(formatGameClock((365 + 365 + 59) * 86400), "1 Mar 1900 00:00:00") << "1900 has no 29 February";
    EXPECT_EQ(formatGameClock((365 + 365 + 365 + 365 + 365 + 365 + 59) * 86400), "29 Feb 1904 00:00:00");
    EXPECT_EQ(formatGameClock(INT32_MAX), "20 Jan 1966 03:14:07");
    for (int64_t v : {int64_t(0), int64_t(-1), int64_t(123456789), int64_t(INT32_MIN), int64_t(INT32_MAX)}) {
        const std::string shown = formatGameClock(v);
        // "D Mon YYYY HH:MM:SS" back into the date form the scenario writes.
        static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        int day = 0, year = 0;
        char month[4] = {}, hms[9] = {};
        ASSERT_EQ(sscanf(shown.c_str(), "%d %3s %d %8s", &day, month, &year, hms), 4) << shown;
        int m = 0;
        while (m < 12 && std::string(Months[m]) != month) ++m;
        char date[48];
        snprintf(date, sizeof date, "%04d-%02d-%02d", year, m + 1, day);
        int64_t back = 0;
        ASSERT_TRUE(parseGameDate(date, hms, &back)) << date << " " << hms;
        EXPECT_EQ(back, v) << shown;
    }
    int64_t v = 0;
    for (const char* bad : {"1898-13-01", "1898-00-10", "1898-04-31", "98-01-01", "1898/01/01", "1898-1-01"})
        EXPECT_FALSE(parseGameDate(bad, "", &v)) << bad;
    for (const char* bad : {"14", "14:3", "14:60", "24:00", "14:30:60", "14-30"})
        EXPECT_FALSE(parseGameDate("1898-01-01", bad, &v)) << bad;
}

class ScenarioFiles : public ScratchFolder {};

TEST_F(ScenarioFiles, ASettingsFileIsReadBesideTheScenario) {
    write("tuning.ini", "[SETTINGS]\nREFILL_PRICE=25\n");
    const std::string path = write("s.txt", "settings-file tuning.ini\n0:01 end\n");
    Scenario s;
    std::vector<ParseError> errors;
    ASSERT_TRUE(loadScenario(path, &s, &errors));
    EXPECT_TRUE(s.withSettings);
    EXPECT_EQ(s.settings, "[SETTINGS]\nREFILL_PRICE=25\n");
}

TEST_F(ScenarioFiles, AMissingFileOrSettingsFileIsAnError) {
    Scenario s;
    std::vector<ParseError> errors;
    const std::string missing = (folder / "none.txt").string();
    EXPECT_FALSE(loadScenario(missing, &s, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text(), missing + ": cannot open the scenario: No such file or directory");

    errors.clear();
    const std::string path = write("s.txt", "# tuned\nsettings-file gone.ini\n0:01 end\n");
    EXPECT_FALSE(loadScenario(path, &s, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text(),
              path + ":2: cannot read settings file \"gone.ini\": No such file or directory");

    errors.clear();
    write("tuning.ini", "[SETTINGS]\n");
    const std::string both = write("b.txt", "settings REFILL_PRICE=3\nsettings-file tuning.ini\n0:01 end\n");
    EXPECT_FALSE(loadScenario(both, &s, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(
        errors[0].text(),
        both + ":2: settings-file and inline settings (line 1) cannot be combined: put the keys in the file");
}

TEST(ScenarioLibrary, EveryShippedScenarioParses) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SCENARIOS_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        ++files;
        Scenario s;
        std::vector<ParseError> errors;
        EXPECT_TRUE(loadScenario(entry.path().string(), &s, &errors))
            << (errors.empty() ? entry.path().string() : errors[0].text());
    }
    EXPECT_GE(files, 10);
}

} // namespace
