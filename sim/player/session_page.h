// The session page: one self-contained HTML file of a session or a recording's
// replay, to open in a web browser from the disk. It holds the chart, the timeline
// and, under a scrubber, the frame at the cursor: its HUD, the plug-in's levels and
// prompts, the world's cash and the frame's calls as --trace tells them.
//
// The page keeps what a frame needs in a compact form, written once per change
// rather than once per frame: the tables of distinct states, sprites, call texts
// and call lists, and for each the frames where it changes. Its script (page/,
// embedded at build time) builds a frame's view when the frame is shown.
//
//   SessionPage page;
//   options.onCall = [&](const sim::Call& c, int) { page.call(c); };
//   options.onFrame = [&](const FrameSnapshot& f) { page.frame(f); };
//   options.onEntry = [&](const Entry& e) { page.entry(e); };
//   ... play or replay ...
//   std::string html = page.html(ending);
#pragma once

#include "player/session_result.h"

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace player {

// What a page holds at most. A session longer than this gets a page over its start
// and a line that says where it stops.
struct PageLimits {
    Millis gameMs = 3'600'000; // an hour of game time: up to the first frame at or after it
    int frames = 216'000;      // an hour at 60 frames a second
    // The distinct call texts, in bytes: a recording whose calls differ frame after
    // frame (anyone can write one) keeps the calls of its first frames only.
    size_t callTextBytes = 4u << 20;
    // The calls in the distinct lists of a frame's calls.
    size_t listedCalls = 1'000'000;
};

// How the session ended, for the page: its summary and, for a replay that departs
// from its recording, where and what.
struct PageEnding {
    std::vector<std::string> summary; // the summary's lines, as printed
    bool departs = false;
    int departureHostFrame = 0;    // the frame of the difference, as the replay counts them
    std::string recorded, made;    // the two calls, as --trace decodes them
    std::vector<std::string> told; // the difference as the command tells it
};

class SessionPage {
  public:
    explicit SessionPage(const PageLimits& limits = PageLimits()) : lim(limits) {}

    // Every call the plug-in makes, as it happens.
    void call(const sim::Call& c);
    // Every frame's snapshot, once the frame is played.
    void frame(const FrameSnapshot& f);
    // Every entry of the timeline.
    void entry(const Entry& e);

    // The page, from its script, its style and the session's data. `result` gives
    // the chart and the HUD picture's moment.
    std::string html(const SessionResult& result, const PageEnding& ending);

    int framesKept() const { return (int)atDeltas.size(); }

  private:
    PageLimits lim;

    // Frames kept, and those past the limit.
    bool full = false;  // the limit is reached: nothing more is kept
    int framesPast = 0; // frames played past it
    Millis lastAt = 0;  // the last frame's time, kept or not
    Millis keptAt = 0;  // the last kept frame's
    Millis firstAt = 0;
    std::vector<int64_t> atDeltas; // each kept frame's time minus the one before
    std::vector<int> hostFrames;   // each kept frame's frame number in its load
    int entriesPast = 0;

    // The frame's state, its sprites, its calls: tables of distinct values, and for
    // each the frames at which the value changes.
    struct Runs {
        std::vector<int> starts, values;
        void add(int frame, int value) {
            if (values.empty() || values.back() != value) starts.push_back(frame), values.push_back(value);
        }
    };
    struct StateKey {
        int32_t flask, intake, drunk;
        uint64_t global;
        uint32_t flags;
        int64_t cash;
        int32_t interior, target;
        bool operator==(const StateKey&) const = default;
    };
    StateKey lastState = {};
    std::unordered_map<std::string, int> stateIndex;
    std::vector<std::string> states; // each a JSON array
    Runs stateRuns;

    std::vector<sim::Sprite> lastSprites;
    std::unordered_map<std::string, int> spriteIndex; // a sprite at its place in the frame's order
    std::vector<std::string> sprites;                 // each a JSON array, its SVG among it
    std::map<std::vector<int>, int> spriteSetIndex;
    std::vector<std::vector<int>> spriteSets;
    Runs spriteRuns;

    // Call texts without their "frame N  " when the call is the frame's own; a call
    // to GET_GAME_TIMER that answers the frame's time is kept as its text up to the
    // answer, and the page adds the frame's timer.
    std::unordered_map<std::string, int> textIndex;
    std::vector<std::string> texts;
    size_t textBytes = 0;
    bool textsFull = false;
    int callsLostFrom = 0; // the first frame whose calls are not kept (0: all kept)
    size_t listedCalls = 0;
    std::unordered_map<std::string, int> describedIndex; // a call's contents -> its text
    std::string key;                                     // a call's contents, made again for each
    struct PendingCall {
        int text = -1;      // its text, or its text up to the answer (timer)
        int frame = 0;      // the frame the host counted it in
        bool timer = false; // GET_GAME_TIMER: the answer follows
        int32_t answer = 0; // the timer's answer
    };
    std::vector<PendingCall> pending; // calls not yet given to a frame
    std::vector<int> openCalls;       // the last frame's calls, still open for its unload's
    int openHostFrame = -1;
    Millis openAt = 0;
    bool timerKnown = false;
    uint32_t timerBase = 0; // the game timer when the session's time was 0
    std::map<std::vector<int>, int> callListIndex;
    std::vector<std::vector<int>> callLists;
    Runs callRuns;

    struct Line {
        Millis at;
        std::string text, topic;
        bool failed;
    };
    std::vector<Line> lines;

    int textOf(const std::string& text);
    int callItem(const PendingCall& p, int hostFrame, Millis at);
    void closeFrame();
    void keepState(int n, const FrameSnapshot& f);
    void keepSprites(int n, const FrameSnapshot& f);
    std::string dataJson(const Recording& shown, const PageEnding& ending);
};

// Text as a JSON string, quotes included, safe inside an HTML script element:
// bytes that are not UTF-8 become U+FFFD, and '<' is escaped.
std::string jsonString(const std::string& text);

} // namespace player
