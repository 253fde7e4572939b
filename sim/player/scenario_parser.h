// The scenario's reader, shared by the three files that read a scenario's lines:
// scenario_parser.cpp (each line's time, the setup, the whole at the end),
// scenario_event_lines.cpp (the events) and scenario_expect_lines.cpp (the
// expectations). Nothing outside the reader includes it: scenario.h is its door.
#pragma once

#include "player/scenario.h"
#include "player/scenario_words.h"
#include "standin/native_table.h"

#include <string>
#include <utility>
#include <vector>

namespace player {

// An event's words as written: the event's own word at `at`, its arguments after it.
struct Words {
    const std::vector<Token>& t;
    size_t at = 0;
    bool timed = false; // the line has a time
    const std::string& word() const { return t[at].text; }
    size_t count() const { return t.size() - at - 1; }
    const std::string& arg(size_t k) const { return t[at + 1 + k].text; }
};

// What an expectation compares, and how its value is written.
enum class Form { Number, Money, Real, Switch, Save, Line };

// Reads a scenario's text line by line into *out, every error into *errors with its
// line; what it has seen so far, for the checks a line needs of the lines before it.
struct Parser {
    std::string path;
    std::string folder; // the scenario's folder, for relative paths
    Scenario* out = nullptr;
    std::vector<ParseError>* errors = nullptr;
    int line = 0;
    // Settings: inline keys (with the line that set them) or a file.
    std::vector<std::pair<std::string, std::string>> keys; // each key with the text written for it
    std::vector<int> keyLines;
    int settingsFileLine = 0;
    int flaskLine = 0, saveLine = 0, fpsLine = 0, hudAtLine = 0, gameTimerLine = 0, tickCountLine = 0;
    int endLine = 0;
    bool sawTimed = false;
    Millis lastTime = 0;
    int lastTimeLine = 0;
    bool failed = false;
    // The story mission under way, as the lines so far leave it: its line (0: none),
    // and its end (-1: at its mission-end); the last one's, for messages.
    int missionLine = 0;
    Millis missionUntil = -1;
    int lastMissionLine = 0;
    Millis lastMissionEnd = 0;
    // The game clock as the lines so far run it: its value at clockFrom, its pace, and
    // the line that set either last (0: the start's).
    double clockValue = 0;
    Millis clockFrom = 0;
    double clockPace = 30.0;
    int clockLine = 0;
    // The frames the frames lines so far give: bounded as they are read.
    int64_t framesGiven = 0;

    void error(const std::string& message) {
        errors->push_back({path, line, message});
        failed = true;
    }

    void run(const std::string& text);
    void finish();
    bool inOrder(const Event& e);
    bool missionInOrder(const Event& e);
    bool clockRunsTo(Millis at);
    void clockChange(const Event& e);
    bool needArgs(const std::vector<Token>& t, size_t at, size_t min, size_t max, const char* usage);
    bool once(const char* word, int* seenOn);
    bool withinSession(const std::string& what, Millis ms);

    // The setup's own lines.
    void setupLine(const std::vector<Token>& t);
    void setSettings(const std::vector<Token>& t);
    void setting(const std::string& kv);
    void setSettingsFile(const std::vector<Token>& t);
    void setFps(const std::vector<Token>& t);
    void setFlask(const std::vector<Token>& t);
    void setSave(const std::vector<Token>& t);
    void setHudAt(const std::vector<Token>& t);
    void setGameTimer(const std::vector<Token>& t);
    void setTickCount(const std::vector<Token>& t);
    bool setupCount(const std::vector<Token>& t, const char* word, int* seenOn, uint32_t* out);

    // Events: the line's words from `at` on, into *e.
    bool action(const std::vector<Token>& t, size_t at, Event* e, bool timed);
    bool takeSpan(std::vector<Token>* t, size_t at, Event* e);
    bool needsTime(const Words& w, const Event& e);
    bool press(const Words& w, Event* e);
    bool pressWhat(const Words& w, const std::string& usage, Event* e);
    bool keyFlags(const Words& w, size_t from, Event* e);
    bool controlValue(const Words& w, size_t k, const char* what, Event* e);
    bool complete(const Words& w, Event* e);
    bool spell(const Words& w, Event* e);
    bool missionEnd(const Words& w, Event* e);
    bool player(const Words& w, Event* e);
    bool move(const Words& w, Event* e);
    bool enter(const Words& w, Event* e);
    bool leave(const Words& w, Event* e);
    bool target(const Words& w, Event* e);
    bool targetPlace(const Words& w, const char* usage, Event* e);
    bool cash(const Words& w, Event* e);
    bool model(const Words& w, Event* e);
    bool clockRate(const Words& w, Event* e);
    bool clock(const Words& w, Event* e);
    bool clockDate(const Words& w, Event* e);
    bool clockInRange(const std::string& written, int64_t seconds);
    bool knob(const Words& w, Event* e);
    bool knobValue(const Knob& knob, const std::string& text, Event* e);
    bool position(const Words& w, Event* e);
    bool place(const Words& w, size_t k, Event* e);
    bool frameTimes(const Words& w, Event* e);
    bool answer(const Words& w, Event* e);
    bool answerValue(const natives::Native& n, const std::string& text, Event* e);
    bool expect(const Words& w, Event* e);
    bool restart(const Words& w, Event* e);
    bool end(const Words& w, Event* e);

    // An expectation: the words from `at` on (the subject first).
    bool expectation(const std::vector<Token>& t, size_t at, Expectation* x);
    bool expectSwitch(const std::string& what, const std::vector<std::string>& rest, Expectation* x);
    bool expectSave(const std::vector<std::string>& rest, bool lastQuoted, Expectation* x);
    bool expectLine(const std::string& what, const std::vector<std::string>& rest, Expectation* x);
    bool expectValue(Form form, const std::string& what, const std::vector<std::string>& rest,
                     Expectation* x);
};

} // namespace player
