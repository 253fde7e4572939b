// Randomized sessions with invariants: one seed drives one whole session of the real
// plug-in in the stand-in host (the settings and the save file it starts with, and
// every change of the world frame by frame), and the same seed plays it again
// exactly. After every frame the session checks what must always hold; the first
// thing that does not ends it, with the seed and the frame.
//
//   stress::SessionResult r = stress::playRandomSession(42);
//   if (!r.passed) puts(r.describe().c_str());
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace stress {

// How the session's key presses reach the plug-in. Every way but the first is
// meant for recordings: whatever the keyboard does, the session must replay.
enum class KeyDelivery {
    BetweenFrames, // each press between two frames
    InsideFrames,  // each press from inside a native call of the next frame (at a random
                   // call), as the game's keyboard thread may deliver it at any moment
    Bursts,        // each drink key press after 299 more events of that key, between two frames
    BeforeStart,   // between frames, and a burst ending in a drink key press before the
                   // first frame, before the plug-in can record anything
};
// "between", "inside", "bursts", "before-start"; false for anything else.
bool parseKeyDelivery(const std::string& text, KeyDelivery* out);

struct SessionOptions {
    uint32_t gameMs = 180000; // game time to play, in game-timer milliseconds
    std::string pluginPath;   // empty: the plug-in this build made
    // Called with every change the generator makes to the world and every key
    // event it sends, as one line ("frame 812: target the bartender at 5.0"), for
    // following a seed.
    std::function<void(const std::string&)> onAction;
    // Above 0: the hostile game (hostile_checks.h), that share of the answers
    // replaced, its whole-session faults played and its invariants checked too.
    double hostileRate = 0.0;
    KeyDelivery keys = KeyDelivery::BetweenFrames;
    // Not empty: the plug-in records the session (RECORD_SESSION=1) and its
    // recording is kept as this file (the seed's number appended when several are played).
    std::string recordTo;
    // Called after every frame of the session's game time, with the game time played
    // so far (for the progress of long runs).
    std::function<void(uint64_t gameMsPlayed)> onFrame;
};

struct SessionResult {
    uint64_t seed = 0;
    bool passed = false;
    int frame = 0;               // the frame of the failure; the frames played when passed
    std::string failure;         // what did not hold
    std::string recent;          // the last actions of the generator before the failure
    uint64_t digest = 0;         // a digest of every native call with its arguments and answer
    bool keyboardThread = false; // key events came from a second thread
    // What the session went through: refills served, drinks started, missions
    // (holds), pass-outs the plug-in saw, saves that could not replace the file.
    int refills = 0, drinks = 0, holds = 0, passOuts = 0, failedSaves = 0;
    // The hostile game's figures (hostileRate above 0), and the command that plays
    // the seed again.
    double hostileRate = 0.0;
    uint64_t hostileAnswers = 0, hostileChecks = 0, hostileSpells = 0;
    int maxCallsBetweenWaits = 0;

    // "seed 42, frame 812: <failure>", the last actions, and for a hostile session
    // the command that replays it.
    std::string describe() const;
};

// Plays one session for `seed` and returns the first failure, or a pass. Needs no
// session running; leaves none running.
SessionResult playRandomSession(uint64_t seed, const SessionOptions& options = SessionOptions());

// Plays the seeds `first` to `last` one after the other and tells `out` about each
// failure, the progress every hundred seeds, and at the end "N passed, M failed".
// A run that takes more than about two seconds shows the frames played on standard
// error, when that is a terminal (sim::progressBegin).
// Returns the number of failed sessions.
uint64_t playSeeds(uint64_t first, uint64_t last, const SessionOptions& options, FILE* out);

// "1..500" (or "42" alone) to the seeds it names; false for anything else.
bool parseSeeds(const std::string& text, uint64_t* first, uint64_t* last);

} // namespace stress
