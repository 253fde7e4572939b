// Replays recordings of the plug-in's conversation with the game in the stand-in
// host and tells what the plug-in did, as a scenario session does: the timeline,
// the summary and the two pictures, from the plug-in's own state, its calls and the
// game's recorded answers. What only the world knows (the player's cash, the game's
// own timings, the moments the player went out of play) is said to be missing
// rather than made up.
#pragma once

#include "player/session_result.h"

#include <functional>
#include <string>
#include <vector>

namespace rec {
struct Event;
struct Recording;
} // namespace rec

namespace player {

// One run of the game: a recording, from a load of the plug-in to where it ends.
struct ReplayRun {
    std::string path;
    const rec::Recording* recording = nullptr; // its head, and its events unless `events` gives them
    std::function<bool(rec::Event*)> events;   // the events one at a time (sim::StartOptions::replayEvents)
    uint64_t frames = 0;                       // its frames, when known beforehand (the progress shown)
};

// The frames a replay plays at most unless told otherwise (`--max-frames`): some
// 92 hours at 30 frames a second, 2.8 at 1000; a scenario plays 3,000,000 at most.
const uint64_t DefaultMaxFrames = 10'000'000;

struct ReplayOutcome {
    SessionResult session;
    sim::ReplayStatus status; // the run that differed, else the last run's
    int run = 0;              // the run the status is about
    size_t events = 0;        // recorded events replayed, in all runs
    Millis at = 0;            // the session's time at the difference (the last game timer read)
    bool cutOff = false;      // stopped at the frame limit, with the recording not at its end
};

// Replays the runs one after the other, each in a fresh load of the plug-in, as
// when the game quits and starts again between them, in a game folder of its own.
// Stops at the first difference, or after `maxFrames` frames in all (cutOff: no
// verdict). Shows its progress on standard error (sim::progressBegin). False when
// the plug-in cannot be started (the session's error says why).
bool replay(const std::vector<ReplayRun>& runs, const PlayOptions& options, ReplayOutcome* outcome,
            uint64_t maxFrames = DefaultMaxFrames);

// The difference as lines: where, the recorded event, the call made, the calls before.
std::vector<std::string> differenceLines(const ReplayOutcome& outcome, const ReplayRun& run);

} // namespace player
