// What the plug-in makes of a settings file, told to a player: each of the six
// settings with the value the plug-in will use and why (from the file, by a key's
// name, or the default and why), then every line that does not mean what it says: a
// key that is no setting (with the nearest names), a missing or misspelt [SETTINGS]
// section, a key written twice (and which one Windows takes), a value out of its
// range, a file saved as UTF-16 or with a byte-order mark. The values come from the
// plug-in's own reader (GetPrivateProfileStringA, then what the text stands for), the
// lines from the same reading of the file's lines as Windows'. The text is plain
// ASCII but for the file's own, escaped: `tolvenmire-sim --settings FILE` and the
// player's Tolvenmire-check.exe print the same words.
#pragma once

#include <string>

namespace player {

// The explanation of the settings file at `path`, named `shown` in it. `path` is
// handed to the plug-in's reader as it is: on Windows a full path (a bare name is
// looked for in the Windows folder). Returns 0 when every line means what it says,
// 1 otherwise (no file at all included).
int explainSettings(const std::string& path, const std::string& shown, std::string* text);

} // namespace player
