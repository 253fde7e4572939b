// The scenario writer's parts, shared by its three files and nothing else
// (scenario_writer.h is its door):
//   scenario_writer.cpp  the recording replayed frame by frame, the frames' times,
//                        the expect lines, the scenario's text
//   world_lines.cpp      the world and the player's lines, from the game's answers
//   answer_check.cpp     the scenario played, its world's answers held against the
//                        recording's
#pragma once

#include "player/frame.h"
#include "player/time_money_text.h"

#include "base/script_state.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace player {

// A native's answer as the recording holds it, with what the writer reads of its
// call.
struct Answered {
    uint64_t hash = 0;
    uint32_t arg[2] = {}; // the first two arguments' low 32 bits
    std::string text;     // its first string argument (an effect's or a texture dictionary's name)
    float at[6] = {};     // BUILTIN::VDIST: the two points
    uint64_t result[3] = {};
    bool nullResult = false;
    int32_t out = 0; // the out-variable as the game left it (the targeted ped's handle)
};

// One recorded frame: from a resume of the script to its next wait.
struct RecordedFrame {
    int run = 0;   // the recording, from 0 (a run of the game)
    int frame = 0; // from 1 in its run, as the replay counts them
    std::vector<Answered> answers;
    int32_t waitBefore = 0; // the wait that ended the run's frame before (-1: the run's first frame)
    bool timed = false;     // the game timer was read: `timer`, the first reading
    uint32_t timer = 0;
    bool timerMoved = false; // two readings of one frame differ
    bool tested = false;     // the key test read the tick count: `tick`
    uint32_t tick = 0;
    // The key table's entry as the key test read it (format 2), or the keyboard's last
    // event of the drink key before the frame (format 1).
    bool keyRead = false;
    uint32_t key = 0, keyTick = 0;
    int32_t keyFlags[3] = {};
    std::vector<std::string> saves;
    bool oddAnswer = false; // a null global or result pointer: nothing the world can give
    // The plug-in, as the replay shows it after the frame.
    bool stateKnown = false;
    ScriptState state = {};
    uint64_t global = 0; // the intensity global
    FrameCalls calls;
    std::vector<std::string> spoken;
};

// A line of the scenario at its time; lines of one time in rank order, then in the
// order written.
struct Line {
    Millis at = 0;
    int rank = 0; // 0 restarts and frames, 1 the world and the player, 2 expectations
    uint64_t seq = 0;
    std::string text;
    std::string note; // a comment after it
};

class LineBook {
  public:
    size_t add(Millis at, int rank, const std::string& text, const std::string& note = std::string());
    void change(size_t index, const std::string& text);
    void setNote(size_t index, const std::string& note) { lines_[index].note = note; }
    std::vector<Line> sorted() const;
    size_t bytes() const { return bytes_; }
    size_t size() const { return lines_.size(); }

  private:
    std::vector<Line> lines_;
    size_t bytes_ = 0;
};

// What a recorded frame says of its time in the scenario: its time, and the frames
// of the stand-in world played up to it (the last is the frame itself).
struct FrameTime {
    Millis at = 0;
    std::vector<uint32_t> lengths;
    int64_t firstHostFrame = 0; // the number of the first of them in the session
};

// Something the scenario cannot say, at a frame of the recording; told in its order.
struct LeftOut {
    int run = 0, frame = 0;
    Millis at = 0;
    std::string what;
};
std::string leftOutText(const LeftOut& l, bool withRun);
// 1204 -> "1,204".
std::string grouped(int64_t n);
// A time as a scenario writes it, to the millisecond: "1:05.033".
std::string lineTime(Millis ms);
// A float as a scenario reads it back to the same bits: "0.5", "4.99999952", "nan".
std::string floatText(float f);
// A save file's bytes as a quoted word of a scenario.
std::string quotedWord(const std::string& bytes);

// The world and the player's lines of a session, frame after frame (world_lines.cpp).
struct WorldStart {
    uint32_t drinkKey = 79;
    bool passOutAsked = false; // the recording asks for the pass-out effect: the game plays it, not the model
    // The game clock's readings in order (the game timer's time, the value), and for
    // each the pace of the stretch of readings it belongs to (NaN for a reading alone)
    // and the stretch's last reading.
    std::vector<std::pair<int64_t, int32_t>> clockReads;
    std::vector<double> clockPaces;
    std::vector<size_t> clockStretchEnd;
    Millis end = 0;               // the session's end, for the clock's range
    uint32_t tickBase = 10000000; // the system's tick count at the start
    uint32_t defaultLength = 33;
};

class WorldLines {
  public:
    WorldLines(const WorldStart& start, LineBook& book, std::vector<LeftOut>& leftOut);
    ~WorldLines();
    WorldLines(const WorldLines&) = delete;
    WorldLines& operator=(const WorldLines&) = delete;
    // The setup's lines (the clock at the start, the pass-out effect), once every frame
    // is through; `setup` gets them.
    void finish(std::vector<std::string>* setup);
    // A frame, in order: `before` is the plug-in's state after the frame before.
    void frame(const RecordedFrame& f, const FrameTime& t, const RecordedFrame* before);
    // The game quits and starts again before the frame at `at`.
    void restart(Millis at);

  private:
    struct Tracker;
    Tracker* t_;
};

// The scenario played, its world's answers held against the recordings' (answer_check.cpp).
struct CheckOutcome {
    std::vector<LeftOut> differences; // answers the world gave otherwise, and where the calls part
    int expectations = 0, failed = 0;
    std::string firstFailed;
    Millis firstFailedAt = 0;
    std::string error; // the scenario could not be played
    bool interrupted = false;
};
struct Scenario;
struct WriteOptions;
void checkScenario(const Scenario& scenario, const std::vector<std::string>& recordings,
                   const WriteOptions& options, CheckOutcome* out);

} // namespace player
