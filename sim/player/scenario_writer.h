// A player's recording written as a scenario (`tolvenmire-sim --replay R.rec
// --to-scenario OUT`): the world as the game's answers show it (frame times,
// missions, the player's input and stance, saloons, targets, the clock, ...), the
// player's presses and completions, and `expect` lines of what the recorded
// plug-in did. The scenario outlives a change of the plug-in's calls that keeps its
// behaviour, where the recording departs at the first changed call.
//
// The scenario is checked before it is handed over: played with the same build in
// the stand-in world, the world's answers are held against the recording's, call by
// call. What the game answered that no line can make the world answer is left out,
// and listed (the frame, the native by the game's name, the two answers).
#pragma once

#include "player/time_money_text.h"

#include <functional>
#include <string>
#include <vector>

namespace player {

struct WriteOptions {
    std::string pluginPath;            // the build that made the recording; empty: this build's
    std::function<bool()> interrupted; // asked after every frame: true stops (Ctrl-C)
};

struct WrittenScenario {
    std::string text;                 // the scenario, as far as it can be written
    std::vector<std::string> leftOut; // what no line says: "frame 1,204 (0:40.1): ..."
    // The build departs from the recording (it is not the one that made it): the
    // scenario goes as far as the departure, told here.
    std::string departure;
    std::string error; // nothing could be written: why
    bool interrupted = false;
    // Figures: the session written, and the scenario played with the build.
    int frames = 0;
    Millis length = 0;
    int lines = 0;
    int expectations = 0;
    int failed = 0;          // expectations that fail when the scenario is played
    std::string firstFailed; // the first of them, as --check tells it
};

// Writes the runs of a session (a recording and those after each restart, in order)
// as a scenario and checks it. False when nothing could be written (out->error says
// why, or out->interrupted).
bool writeScenario(const std::vector<std::string>& recordings, const WriteOptions& options,
                   WrittenScenario* out);

} // namespace player
