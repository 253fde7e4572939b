// What a session leaves: the timeline's entries, the recording for the chart and
// the HUD picture, the counts, the expectations' results, and the options a session
// is played with. Shared by the player (play_session.h, recorded_session.h), the
// narration, the expectations, the report and the pictures.
#pragma once

#include "player/time_money_text.h"
#include "sim.h"

#include <functional>
#include <string>
#include <vector>

namespace player {

struct FrameSnapshot;

// What an entry of the timeline is about.
enum class Topic {
    Start,   // the session and the script start
    Action,  // a line of the scenario (pressing a key, dying, entering a saloon)
    Player,  // what the game does to the player of itself (alive again after a death)
    Prompt,  // prompts shown and withdrawn
    Drink,   // drinks started and stopped
    Levels,  // intake, drunk level, flask and intensity
    Deadeye, // the deadeye lock
    PassOut, // the pass-out effect and the recovery
    Refill,  // the bartender's service
    Mission, // a story mission: the script held while the mission flag is up
    Restart, // the game quits and starts again: the plug-in unloaded and loaded afresh
    Expect,  // an expectation's result
    Warning, // something in the scenario that could not be done, or a host fault
};
const char* topicName(Topic topic);

// What an entry says the plug-in did (or the game, for a mission's end), in a form a
// check can hold against the calls of the entry's frame; None for the rest.
enum class Fact : uint8_t {
    None,
    DrinkStarted,       // value 1: by the prompt's completion, 0: by the drink key
    DrinkStopped,       // value 1: a stop control read; detail: what was saved, "" nothing
    PromptShown,        // detail: the label; value: the handle
    PromptShownAndGone, // created and deleted in the one frame; detail, value as above
    PromptWithdrawn,    // detail, value as above
    PromptCompleted,    // detail, value as above
    PromptFlicker,      // detail: the label; value: the toggles not told one by one
    HoldStarted,        // the script saw the mission flag up
    HoldEnded,          // the script saw it down again
    MissionEndedHeld,   // the game's mission ended while the script held; value: its first frame
    MissionUnseen,      // the game's mission ended before the script asked; value: its first frame
    ServiceStarted,     // the player's control taken for the bartender's service
    RefillSaved,        // detail: what was saved
    Charged,            // value: the amount in cents
    ControlBack,        // the player's control given back
    Served,             // the service's last frame
    DeadeyeOn,
    DeadeyeOff,
};

struct Entry {
    Millis at = 0;
    Topic topic = Topic::Start;
    std::string text;
    int line = 0;        // the scenario line, for Action, Restart and Expect
    bool failed = false; // Expect: the expectation failed
    // The frame the entry tells of, counted from 1 over the session (restarts
    // included): a scenario's line (the setup's too), the one that takes it in; an
    // expectation, the one whose state it saw. 0 for what a replay tells outside
    // its frames.
    int frame = 0;
    Fact fact = Fact::None;
    int64_t value = 0;
    std::string detail;
};

// The levels whenever one of them changes, for the chart.
struct Sample {
    Millis at = 0;
    int32_t intake = 0, drunk = 0, flask = 0;
    float intensity = 0; // the float in the game global; 0 when cleared
};

struct Span {
    Millis from = 0, to = 0;
    std::string label;
};

struct Mark {
    Millis at = 0;
    std::string label;
    bool failed = false;
};

// The sprites of one frame.
struct HudShot {
    bool taken = false;
    Millis at = 0;
    int frame = 0;
    int32_t flask = 0, intake = 0;
    std::vector<sim::Sprite> sprites;
};

struct Recording {
    std::string title;    // the scenario's path
    std::string subtitle; // settings and start in one line
    Millis end = 0;
    std::vector<Sample> samples;
    std::vector<Span> drinks, missions, passOuts, refills;
    std::vector<Mark> expectations;
    std::vector<Mark> restarts; // the moments the game quit and started again
    HudShot hud;
};

struct Counts {
    int drinks = 0, drinksByKey = 0, drinksByPrompt = 0;
    int sips = 0;
    int passOuts = 0;       // recoveries from a pass-out
    int refills = 0;        // refills charged
    int missions = 0;       // the game's missions (in a replay: as the script's holds show them)
    int holds = 0;          // the script's holds, as its calls show them
    int missionsUnseen = 0; // missions that ended before the script asked
    int restarts = 0;       // the game quit and started again
    int64_t charged = 0;    // hundredths
};

struct ExpectResult {
    Millis at = 0;
    int line = 0;
    std::string written;
    bool passed = false;
    std::string got;
};

struct SessionResult {
    std::string error; // the session could not start
    Recording recording;
    Counts counts;
    std::vector<ExpectResult> expectations;
    std::vector<std::string> violations; // protocol faults the host saw
    int frames = 0;
    double wallSeconds = 0;
    std::string settings; // the plug-in's settings as it read them, in words
    // At the end.
    int32_t flask = 0, intake = 0, drunk = 0;
    float intensity = 0;
    int64_t cash = 0;
    bool saveExists = false;
    bool cashKnown = true;               // false in a replay: the recording does not hold the player's cash
    bool stateKnown = true;              // false for a build that does not export its state
    std::vector<std::string> recordings; // the recordings kept (PlayOptions::recordTo)
    std::string recordError;             // a recording that could not be kept
    std::string save;

    int failures() const;
};

struct PlayOptions {
    std::string pluginPath;                          // empty: the host's default
    bool hasHudAt = false;                           // the HUD picture's moment; else the scenario's
    Millis hudAt = 0;                                // hud-at, else the last frame with sprites
    std::function<void(const Entry&)> onEntry;       // timeline entries as they happen
    std::function<void(const std::string&)> onTrace; // every call, described; none when empty
    // Every call as it is made, with the frame it belongs to (Entry::frame); none when
    // empty: for the check of the timeline and the session page.
    std::function<void(const sim::Call&, int frame)> onCall;
    // Each frame when it has been played, before it is told (for the check of the
    // timeline), and its snapshot once it is (for the session page); none when empty.
    std::function<void(int frame)> onFramePlayed;
    std::function<void(const FrameSnapshot&)> onFrame;
    // Record: the plug-in records each run (RECORD_SESSION=1), and its recording is
    // kept as this file, the runs after a restart as FILE.2, FILE.3 ...
    std::string recordTo;
    // Asked after every frame: true stops the session there (Ctrl-C), the plug-in
    // unloaded and the game's folder gone; play() and replay() then answer false
    // with the error "interrupted".
    std::function<bool()> interrupted;
};

} // namespace player
