// The key names of the settings file (key_names.h).
#include "base/key_names.h"

#include <cstring>

// clang-format off
const char KeyNames[] =
    // Mouse buttons, and keys of old keyboards and of the system (0 to 12).
    "\x00" "None\0" "\x01" "LButton\0" "\x02" "RButton\0" "\x03" "Cancel\0" "\x04" "MButton\0"
    "\x05" "XButton1\0" "\x06" "XButton2\0" "\x08" "Back\0" "\x09" "Tab\0" "\x0A" "LineFeed\0"
    "\x0C" "Clear\0"
    // Enter, the modifiers, Pause and Caps Lock (13 to 20).
    "\x0D" "Enter\0" "\x0D" "Return\0" "\x10" "ShiftKey\0" "\x11" "ControlKey\0" "\x12" "Menu\0"
    "\x13" "Pause\0" "\x14" "CapsLock\0" "\x14" "Capital\0"
    // The input method's keys (21 to 31), and Escape (27).
    "\x15" "KanaMode\0" "\x15" "HanguelMode\0" "\x15" "HangulMode\0" "\x17" "JunjaMode\0"
    "\x18" "FinalMode\0" "\x19" "HanjaMode\0" "\x19" "KanjiMode\0" "\x1B" "Escape\0" "\x1C" "IMEConvert\0"
    "\x1D" "IMENonconvert\0" "\x1E" "IMEAccept\0" "\x1E" "IMEAceept\0" "\x1F" "IMEModeChange\0"
    // Space, the page and arrow keys, and the editing keys (32 to 47).
    "\x20" "Space\0" "\x21" "PageUp\0" "\x21" "Prior\0" "\x22" "PageDown\0" "\x22" "Next\0" "\x23" "End\0"
    "\x24" "Home\0" "\x25" "Left\0" "\x26" "Up\0" "\x27" "Right\0" "\x28" "Down\0" "\x29" "Select\0"
    "\x2A" "Print\0" "\x2B" "Execute\0" "\x2C" "PrintScreen\0" "\x2C" "Snapshot\0" "\x2D" "Insert\0"
    "\x2E" "Delete\0" "\x2F" "Help\0"
    // The digits above the letters, D0 to D9 (48 to 57).
    "\x30" "D0\0" "\x31" "D1\0" "\x32" "D2\0" "\x33" "D3\0" "\x34" "D4\0" "\x35" "D5\0" "\x36" "D6\0"
    "\x37" "D7\0" "\x38" "D8\0" "\x39" "D9\0"
    // The letters, A to Z (65 to 90).
    "\x41" "A\0" "\x42" "B\0" "\x43" "C\0" "\x44" "D\0" "\x45" "E\0" "\x46" "F\0" "\x47" "G\0" "\x48" "H\0"
    "\x49" "I\0" "\x4A" "J\0" "\x4B" "K\0" "\x4C" "L\0" "\x4D" "M\0" "\x4E" "N\0" "\x4F" "O\0" "\x50" "P\0"
    "\x51" "Q\0" "\x52" "R\0" "\x53" "S\0" "\x54" "T\0" "\x55" "U\0" "\x56" "V\0" "\x57" "W\0" "\x58" "X\0"
    "\x59" "Y\0" "\x5A" "Z\0"
    // The Windows keys, the application key and Sleep (91 to 95).
    "\x5B" "LWin\0" "\x5C" "RWin\0" "\x5D" "Apps\0" "\x5F" "Sleep\0"
    // The numeric keypad (96 to 111).
    "\x60" "NumPad0\0" "\x61" "NumPad1\0" "\x62" "NumPad2\0" "\x63" "NumPad3\0" "\x64" "NumPad4\0"
    "\x65" "NumPad5\0" "\x66" "NumPad6\0" "\x67" "NumPad7\0" "\x68" "NumPad8\0" "\x69" "NumPad9\0"
    "\x6A" "Multiply\0" "\x6B" "Add\0" "\x6C" "Separator\0" "\x6D" "Subtract\0" "\x6E" "Decimal\0"
    "\x6F" "Divide\0"
    // The function keys, F1 to F24 (112 to 135).
    "\x70" "F1\0" "\x71" "F2\0" "\x72" "F3\0" "\x73" "F4\0" "\x74" "F5\0" "\x75" "F6\0" "\x76" "F7\0"
    "\x77" "F8\0" "\x78" "F9\0" "\x79" "F10\0" "\x7A" "F11\0" "\x7B" "F12\0" "\x7C" "F13\0" "\x7D" "F14\0"
    "\x7E" "F15\0" "\x7F" "F16\0" "\x80" "F17\0" "\x81" "F18\0" "\x82" "F19\0" "\x83" "F20\0" "\x84" "F21\0"
    "\x85" "F22\0" "\x86" "F23\0" "\x87" "F24\0"
    // The locks, and the left and right modifiers (144 to 165).
    "\x90" "NumLock\0" "\x91" "Scroll\0" "\xA0" "LShiftKey\0" "\xA1" "RShiftKey\0" "\xA2" "LControlKey\0"
    "\xA3" "RControlKey\0" "\xA4" "LMenu\0" "\xA5" "RMenu\0"
    // The browser, volume, media and launch keys (166 to 183).
    "\xA6" "BrowserBack\0" "\xA7" "BrowserForward\0" "\xA8" "BrowserRefresh\0" "\xA9" "BrowserStop\0"
    "\xAA" "BrowserSearch\0" "\xAB" "BrowserFavorites\0" "\xAC" "BrowserHome\0" "\xAD" "VolumeMute\0"
    "\xAE" "VolumeDown\0" "\xAF" "VolumeUp\0" "\xB0" "MediaNextTrack\0" "\xB1" "MediaPreviousTrack\0"
    "\xB2" "MediaStop\0" "\xB3" "MediaPlayPause\0" "\xB4" "LaunchMail\0" "\xB5" "SelectMedia\0"
    "\xB6" "LaunchApplication1\0" "\xB7" "LaunchApplication2\0"
    // The punctuation keys, whose characters depend on the keyboard's layout (186 to 226).
    "\xBA" "OemSemicolon\0" "\xBA" "Oem1\0" "\xBB" "Oemplus\0" "\xBC" "Oemcomma\0" "\xBD" "OemMinus\0"
    "\xBE" "OemPeriod\0" "\xBF" "OemQuestion\0" "\xBF" "Oem2\0" "\xC0" "Oemtilde\0" "\xC0" "Oem3\0"
    "\xDB" "OemOpenBrackets\0" "\xDB" "Oem4\0" "\xDC" "OemPipe\0" "\xDC" "Oem5\0"
    "\xDD" "OemCloseBrackets\0" "\xDD" "Oem6\0" "\xDE" "OemQuotes\0" "\xDE" "Oem7\0" "\xDF" "Oem8\0"
    "\xE2" "OemBackslash\0" "\xE2" "Oem102\0"
    // The rest, to 254.
    "\xE5" "ProcessKey\0" "\xE7" "Packet\0" "\xF6" "Attn\0" "\xF7" "Crsel\0" "\xF8" "Exsel\0"
    "\xF9" "EraseEof\0" "\xFA" "Play\0" "\xFB" "Zoom\0" "\xFC" "NoName\0" "\xFD" "Pa1\0" "\xFE" "OemClear\0"
    // The end.
    "\xFF";
// clang-format on

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

bool sameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (upper(*a) != upper(*b)) return false;
    return *a == *b;
}

// The entry after the one whose name starts at `name`.
const char* nextEntry(const char* name) { return name + strlen(name) + 1; }

} // namespace

int32_t keyCodeOfNameIn(const char* table, const char* name) {
    for (const char* e = table; (unsigned char)*e != 0xFF; e = nextEntry(e + 1))
        if (sameName(e + 1, name)) return (unsigned char)*e;
    return -1;
}

const char* keyNameOfCodeIn(const char* table, int32_t code) {
    for (const char* e = table; (unsigned char)*e != 0xFF; e = nextEntry(e + 1))
        if ((unsigned char)*e == code) return e + 1;
    return nullptr;
}

int32_t keyCodeOfName(const char* name) { return keyCodeOfNameIn(KeyNames, name); }

const char* keyNameOfCode(int32_t code) { return keyNameOfCodeIn(KeyNames, code); }
