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
};

struct ReplayOutcome {
    SessionResult session;
    sim::ReplayStatus status; // the run that differed, else the last run's
    int run = 0;              // the run the status is about
    size_t events = 0;        // recorded events replayed, in all runs
    Millis at = 0;            // the session's time at the difference (the last game timer read)
};

// Replays the runs one after the other, each in a fresh load of the plug-in, as
// when the game quits and starts again between them, in a game folder of its own.
// Stops at the first difference. False when the plug-in cannot be started (the
// session's error says why).
bool replay(const std::vector<ReplayRun>& runs, const PlayOptions& options, ReplayOutcome* outcome);

// The difference as lines: where, the recorded event, the call made, the calls before.
std::vector<std::string> differenceLines(const ReplayOutcome& outcome, const ReplayRun& run);

} // namespace player
