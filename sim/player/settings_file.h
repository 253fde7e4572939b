// The plug-in's settings file ("Tolvenmire.ini") as the player handles it: its
// keys, which a scenario's `settings` line may set; the file with recording turned
// on; the settings as a build that does not export its own read them; and the
// timeline's line that tells them. Shared by the scenario's reader, the scenario
// session and the replay.
#pragma once

#include <cstdint>
#include <string>

struct Settings;

namespace player {

// The keys of the [SETTINGS] section, their defaults and what their values may be,
// are the plug-in's own (SettingKeys, base/setting_values.h).

// The settings file's text with RECORD_SESSION=1 first in its [SETTINGS] section,
// the section found as the plug-in finds it (a byte-order mark, UTF-16, blanks and
// any case in the header, lines ending at CR or LF); a section added at the end
// when there is none.
std::string withRecordingOn(const std::string& settings, bool withSettings);

// A key code by the name the settings file may give it, and its number: "O (79)",
// "F10 (121)", "NumPad0 (96)"; a code without a name alone: "255".
std::string keyName(int64_t code);

// The timeline's first line: the settings as the plug-in read them.
std::string settingsLine(const Settings& settings);

// The settings a plug-in makes of the six answers of the settings file, for a
// build that does not export its own: as a recording holds them, or as the
// settings file at `path` gives them to this build's reader (its defaults when
// there is none).
Settings settingsFromAnswers(const uint32_t answers[6]);
Settings settingsFromFile(const std::string& path);

} // namespace player
