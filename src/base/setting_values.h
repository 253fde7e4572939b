// What a value of the settings file stands for: the six keys, their defaults, and
// how each turns the text a player wrote into its number. A text that is a number
// (digits after blanks and a sign) is the number Windows' GetPrivateProfileIntA
// answers for it; the drink key also takes a key's name ("P", "F5"), the two
// switches on/off, yes/no, true/false; any other text gives the default, as a
// missing key does. Shared with the tools, which explain a settings file in the
// plug-in's own terms.
#pragma once

#include <cstdint>

// The keys, in the order they are read.
const int SettingsKeys = 6;

// The longest value text read, with its NUL: GetPrivateProfileIntA reads a value
// into a buffer of this size too, so that a number cut short reads the same.
const int SettingTextBytes = 30;

enum SettingKind : uint8_t {
    SettingKeyCode, // a key code, or a key's name
    SettingNumber,  // a whole number
    SettingSwitch,  // a number (0 off, any other on), or on/off, yes/no, true/false
};

struct SettingKey {
    const char* key;
    int32_t fallback; // the value of a missing key, or of a text that means nothing
    SettingKind kind;
};

inline constexpr SettingKey SettingKeys[SettingsKeys] = {
    {"TOLVENMIRE_KEY", 79, SettingKeyCode}, {"DEADEYE_LOCK_THRESHOLD", 60, SettingNumber},
    {"HEAL_WHEN_DRUNK", 1, SettingSwitch},  {"REFILL_PRICE", 10, SettingNumber},
    {"SOBER_UP_TIME", 100, SettingNumber},  {"RECORD_SESSION", 0, SettingSwitch},
};

// How a value's text was read.
enum SettingReading : uint8_t {
    SettingMissing,       // no text: the key is missing, or has no value; the default
    SettingFromNumber,    // a number
    SettingFromName,      // a key's name, or a switch's word
    SettingNotUnderstood, // neither: the default
};

// The 32-bit value that setting `index`'s text stands for, and how it was read
// (`reading` may be null). `number` is GetPrivateProfileIntA's answer for the same
// key with the key's default: the value of a text that is a number. The system
// converts it from the file's own characters; the text is narrowed to the system's
// code page, which can make digits of other characters ("８" is "8").
uint32_t settingValueOf(int index, const char* text, uint32_t number, SettingReading* reading);

// The number of a text, as GetPrivateProfileIntA converts a value: control
// characters and blanks skipped, one '+' or '-', a "0x", "0o" or "0b" prefix, then
// digits up to the first other character, wrapping at 32 bits. False when no digit
// follows the blanks and the sign: the text is no number. `end` (may be null): where
// the number's text ends.
bool numberOfText(const char* text, uint32_t* value, const char** end);

// On (1) or off (0) for a switch's word in any case, or -1.
int32_t switchOfWord(const char* text);

// "SOBER_UP_TIME" as read (unsigned) to the interval: single-precision v x 1.1,
// truncated. From 1952257728 on (every negative value among them) the product
// reaches 2^31 and has no meaning: the default's interval, 110.
int32_t soberUpIntervalFrom(uint32_t value);
const uint32_t LongestSoberUpTime = 1952257727;
