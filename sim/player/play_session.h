// Plays a scenario in the stand-in host and tells what happened: a timeline of
// readable entries as the frames go by, a recording of the levels for the chart,
// the HUD of one frame, and the expectations' results.
//
// play_session.cpp plays (the scenario's lines, the frames, the restarts);
// narration.cpp tells, from a snapshot of each frame (frame.h); expectations.cpp
// judges the expectations.
#pragma once

#include "player/scenario.h"
#include "player/session_result.h"

#include <string>

namespace player {

// Plays the scenario from a fresh load of the plug-in to its end, in a game folder
// of its own that holds the settings and the save file across restarts and goes at
// the end. False when the plug-in cannot be started, or started again after a
// restart (result->error says why).
bool play(const Scenario& scenario, const PlayOptions& options, SessionResult* result);

// The game's folder for a whole session: the plug-in finds its settings and its
// save file there at every load, so it must outlive each load and go at the end,
// also when the session stops early. It is the user's alone (0700): the settings
// file copied into it may be private.
class GameFolder {
  public:
    GameFolder() = default;
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;
    ~GameFolder();
    bool make(std::string* error);
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The settings file's text with RECORD_SESSION=1 first in its [SETTINGS] section,
// the section found as the plug-in finds it (a byte-order mark, UTF-16, blanks and
// any case in the header, lines ending at CR or LF); a section added at the end
// when there is none.
std::string withRecordingOn(const std::string& settings, bool withSettings);

// "O (79)", "F10 (121)" is not known: "121".
std::string keyName(int64_t code);

// The timeline's first line: the settings as the plug-in read them.
std::string settingsLine(const Settings& settings);

// The settings a plug-in makes of the six answers of the settings file, for a
// build that does not export its own: as a recording holds them, or as the
// settings file at `path` gives them (its defaults when there is none).
Settings settingsFromAnswers(const uint32_t answers[6]);
Settings settingsFromFile(const std::string& path);

} // namespace player
