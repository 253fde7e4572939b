// Plays a scenario in the stand-in host and tells what happened: a timeline of
// readable entries as the frames go by, a recording of the levels for the chart,
// the HUD of one frame, and the expectations' results.
//
// play_session.cpp plays (the loads, the frames, the restarts) and
// scenario_actions.cpp does the scenario's lines to the world, both on the session
// of scenario_session.h; narration.cpp tells, from a snapshot of each frame
// (frame.h); expectations.cpp judges the expectations.
#pragma once

#include "player/scenario.h"
#include "player/session_result.h"

namespace player {

// Plays the scenario from a fresh load of the plug-in to its end, in a game folder
// of its own that holds the settings and the save file across restarts and goes at
// the end. False when the plug-in cannot be started, or started again after a
// restart (result->error says why).
bool play(const Scenario& scenario, const PlayOptions& options, SessionResult* result);

} // namespace player
