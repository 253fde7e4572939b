// Scenario files: a play session written as text. A scenario sets up the session
// (settings, frame rate, the save file, the world at the start) and then lists
// timed events and expectations; docs/scenarios.md describes the format.
//
//   settings REFILL_PRICE=12
//   flask 40
//   0:02    release satchel
//   0:03    complete drink-prompt
//   0:15    move
//   0:15    expect drinking off
//   1:00    end
//
// This is the scenario as read, and the door to its reader (scenario_parser.h and
// the files it names). A scenario is written in the notation of times and money (time_money_text.h) and
// names the world's saloons and knobs (world_tables.h), which come with it.
#pragma once

#include "standin/printable_text.h"
#include "player/time_money_text.h"
#include "player/world_tables.h"

#include <cstdint>
#include <string>
#include <vector>

namespace player {

// What a scenario may ask for, so that every session it describes ends, and soon:
// at most a day of game time, and at most MostFrames frames at its frame rate.
// Every time and duration it writes is bounded by the day as well.
const Millis LongestSession = 24ll * 3600 * 1000;
const int64_t MostFrames = 3'000'000;
// The largest scenario file, and settings file, read.
const size_t LargestFile = 1 << 20;

// The length of a frame at `fps` frames a second: 1000/fps ms, rounded, at least 1.
int frameLength(int fps);

struct Expectation {
    enum class Subject {
        Flask,        // the flask level
        Intake,       // intakeLevel
        Drunk,        // drunkLevel
        Cash,         // the player's cash, hundredths
        Charged,      // the sum of all charges so far, hundredths
        Intensity,    // the float in the game global (0 when cleared)
        Drinks,       // drinks started so far
        Sips,         // sips so far
        PassOuts,     // pass-out recoveries so far
        Refills,      // refills completed so far
        DrinkPrompt,  // the "Drink From Flask" prompt is shown
        RefillPrompt, // the "Refill Flask" prompt is shown
        Drinking,     // drinking mode is on
        DeadeyeLock,  // the deadeye lock is set
        DeadeyeHeld,  // both Dead Eye controls were held off in the frame
        PassedOut,    // the plug-in has seen the pass-out effect
        Mission,      // a story mission is under way (the game's mission flag)
        Held,         // the script holds for a mission: it saw the flag up, and has not yet seen it down
        OnFoot,       // the player is on foot, as the game answers it
        Save,         // the save file's content (or its absence)
        Spoken,       // a speech line has been spoken (at least once)
        NotSpoken,    // a speech line has not been spoken
    };
    enum class Op { Eq, Ne, Lt, Le, Gt, Ge, Range };

    Subject subject = Subject::Flask;
    Op op = Op::Eq;
    double low = 0, high = 0; // the value, or the range low..high
    double tolerance = 0;     // an intensity's = and !=: half a unit of the last digit given
    bool flag = false;        // on/off subjects
    bool present = true;      // Save: false for "none"
    std::string text;         // Save: the content; Spoken: the line
    std::string written;      // the expectation as written, for messages
};

struct Event {
    enum class Kind {
        PressKey,     // a keyboard event; number = key code, -1 for the drink key; keyFlags
        PressControl, // an analogue control reads `value` (1.0 unless written) for `span` frames;
                      // number = hash
        Satchel,      // the satchel control reported released: number 0 for `span` frames, 1
                      // every frame from now, 2 no longer
        Complete,     // the player completes a prompt (for `span` frames); name "drink" or "refill"
        Mission,      // the mission flag raised; duration, 0 = until mission-end
        MissionEnd,   // ends an open mission
        Die,          // the player dies for duration
        Cutscene,     // a cutscene outside a mission plays for duration
        Input,        // number 1: keyboard and mouse, 0: a controller
        OnFoot,       // number 1: dismounts (on foot), 0: mounts
        Aiming,       // number 1: aims freely, 0: stops aiming
        Enter,        // number = interior identifier
        Leave,        // back outside (interior 0)
        Target,       // name "bartender" (number = saloon interior, 0 = current), "stranger", "none"; value =
                      // distance
        Cash,         // number = hundredths
        Model,        // number = model hash
        ClockRate,    // value = game-clock units per second
        Clock,        // number = game-clock value, value = the part of a second it stands at
        Knob,         // name = knob; value
        Position,     // the player stands at x, y, z
        FrameTimes,   // the frames that begin at this time or later last `lengths`, in order
        Answer,       // a native's raw answer: number = its hash, args as --trace writes them
                      // ("" for any), its 32 bits in `bits`, for `span` frames
        Expect,       // expect
        Restart,      // the game quits and starts again: the plug-in is unloaded and loaded afresh
        End,          // the session ends here
    };
    Kind kind = Kind::End;
    Millis at = 0;
    int line = 0;
    std::string written; // the event as written (without the time)
    int64_t number = 0;
    double value = 0;
    Millis duration = 0;
    std::string name;
    Expectation expect;
    int span = 1; // the frames a press, a release or a completion lasts (`for N frames`)
    // PressKey: the keyboard event's fifth, sixth and seventh values (`with F S T`).
    int32_t keyFlags[3] = {0, 0, 1};
    // Target: placed at x, y, z rather than `value` away; Position: where the player stands.
    bool placed = false;
    double x = 0, y = 0, z = 0;
    std::vector<uint32_t> lengths; // FrameTimes
    std::string args;              // Answer: the arguments it answers for, blanks taken out
    uint64_t bits = 0;             // Answer: the answer's 32 bits (an integer's, or a float's)
};

struct Scenario {
    std::string path;           // as given
    bool withSettings = false;  // write Tolvenmire.ini
    std::string settings;       // its content
    std::string settingsSource; // "inline" keys as written, or the file's path
    int fps = 30;
    bool withSave = false; // write Tolvenmire.dat
    std::string save;      // its content
    bool hasHudAt = false;
    Millis hudAt = 0;
    bool hasGameTimer = false; // game-timer: the game timer at the load, before the first frame
    uint32_t gameTimer = 0;
    bool hasTickCount = false; // tick-count: the system's tick count at the load
    uint32_t tickCount = 0;
    std::vector<Event> setup;  // world changes before the first frame
    std::vector<Event> events; // in time order; lines of one time in file order
    Millis end = 0;            // the session's length
    int expectations = 0;
};

// "scenarios/x.txt:12: unknown event "drnk"". Line 0 for the file as a whole.
struct ParseError {
    std::string file;
    int line = 0;
    std::string message;
    std::string text() const;
};

// Reads and checks a scenario file; on errors returns false with every error found
// (in line order). A settings file named in it is read now, relative to the
// scenario's folder.
bool loadScenario(const std::string& path, Scenario* out, std::vector<ParseError>* errors);
// The same for text in hand; `path` names it in messages and anchors relative paths.
bool parseScenario(const std::string& text, const std::string& path, Scenario* out,
                   std::vector<ParseError>* errors);

} // namespace player
