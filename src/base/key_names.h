// Keys by name: the names players of script-hook mods write a key with, those of
// the Windows Forms `Keys` enumeration, for every key code below 255 that has one
// ("P" 80, "F5" 116, "NumPad0" 96, "D7" 55, "PageUp" 33, "OemMinus" 189, ...).
// Names match in any case. Read once, when the settings are loaded; never in a frame.
#pragma once

#include <cstdint>

// The table: entry after entry, each the key code as one byte, then the name and its
// NUL; a code byte of 0xFF ends it. Several names may share a code ("Enter" and
// "Return"); the first is the one a code is told by.
extern const char KeyNames[];

// The code of the key named `name` (any case), or -1 when no key has that name.
int32_t keyCodeOfName(const char* name);
// The name a code is told by, or nullptr when it has none.
const char* keyNameOfCode(int32_t code);

// The same, in a table laid out as KeyNames is (for tests that plant a fault).
int32_t keyCodeOfNameIn(const char* table, const char* name);
const char* keyNameOfCodeIn(const char* table, int32_t code);
