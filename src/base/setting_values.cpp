// What the settings file's values stand for (setting_values.h).
#include "base/setting_values.h"

#include "base/key_names.h"

#include <cstring>

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool sameWord(const char* text, const char* word) {
    for (; *text != '\0' && *word != '\0'; ++text, ++word)
        if (lower(*text) != *word) return false;
    return *text == *word;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

} // namespace

bool numberOfText(const char* text, uint32_t* value, const char** end) {
    const unsigned char* p = (const unsigned char*)text;
    while (*p != '\0' && *p <= ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    uint32_t base = 10;
    // Only a lower-case prefix counts, and only with a character after the '0'.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
        base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
        p += 2;
    }
    uint32_t v = 0;
    for (int d; (d = digitValue((char)*p)) >= 0 && (uint32_t)d < base; ++p)
        v = v * base + (uint32_t)d; // wraps, as 32-bit arithmetic does
    *value = negative ? 0u - v : v;
    if (end) *end = (const char*)p;
    return true;
}

int32_t switchOfWord(const char* text) {
    if (sameWord(text, "on") || sameWord(text, "yes") || sameWord(text, "true")) return 1;
    if (sameWord(text, "off") || sameWord(text, "no") || sameWord(text, "false")) return 0;
    return -1;
}

uint32_t settingValueOf(int index, const char* text, uint32_t number, SettingReading* reading) {
    const SettingKey& s = SettingKeys[index];
    SettingReading how = SettingNotUnderstood;
    uint32_t value = (uint32_t)s.fallback;
    uint32_t unused;
    int32_t word = -1;
    if (text[0] == '\0') {
        how = SettingMissing;
    } else if (numberOfText(text, &unused, nullptr)) {
        how = SettingFromNumber;
        value = number;
    } else if (s.kind == SettingKeyCode) {
        word = keyCodeOfName(text);
    } else if (s.kind == SettingSwitch) {
        word = switchOfWord(text);
    }
    if (word >= 0) {
        how = SettingFromName;
        value = (uint32_t)word;
    }
    if (reading) *reading = how;
    return value;
}

int32_t soberUpIntervalFrom(uint32_t value) {
    float factor;
    const uint32_t factorBits = 0x3F8CCCCD; // 1.1 in single precision
    memcpy(&factor, &factorBits, sizeof factor);
    const float product = (float)value * factor;
    // A product of 2^31 or more (every negative value, read as unsigned, lands
    // here) has no interval; it gets the default's.
    if (!(product < 2147483648.0f)) return 110;
    return (int32_t)product;
}
