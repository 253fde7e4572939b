// Whether a scenario's expectation holds: what it reads from the plug-in and the
// game at its moment, and how that compares with the value written.
#pragma once

#include "player/scenario.h"
#include "player/session_result.h"
#include "sim.h"

#include <string>

struct ScriptState;

namespace player {

// What expectations look at.
struct Looked {
    const ScriptState* plugin; // null: a build that does not export its state
    const sim::World& world;
    const Counts& counts; // what the timeline counted so far
    std::string saveFile; // the save file's path
    bool held = false;    // the script holds for a mission, as its calls show
};

// True when x holds; *got is what was found, as the timeline shows it.
bool holds(const Expectation& x, const Looked& looked, std::string* got);

} // namespace player
