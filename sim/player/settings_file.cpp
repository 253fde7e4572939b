// The plug-in's settings file as the player writes it, reads it as the plug-in
// does, and tells it (settings_file.h).
#include "player/settings_file.h"

#include "player/time_money_text.h"

#include "base/key_names.h"
#include "base/setting_values.h"
#include "base/settings.h"

#include <cstdio>
#include <cstring>

namespace player {

std::string keyName(int64_t code) {
    const char* name = code >= 0 && code < 255 ? keyNameOfCode((int32_t)code) : nullptr;
    if (!name) return std::to_string(code);
    return std::string(name) + " (" + std::to_string(code) + ")";
}

Settings settingsFromAnswers(const uint32_t a[6]) {
    Settings s = {};
    s.drinkKey = (int32_t)a[0];
    s.deadeyeLockThreshold = (int32_t)a[1];
    s.healWhenDrunk = a[2] != 0;
    s.refillPrice = (int32_t)a[3];
    s.soberUpInterval = soberUpIntervalFrom(a[4]);
    s.recordSession = a[5] != 0;
    memcpy(s.answers, a, sizeof s.answers);
    return s;
}

Settings settingsFromFile(const std::string& path) {
    uint32_t answers[SettingsKeys];
    for (int i = 0; i < SettingsKeys; ++i) {
        // As the plug-in reads each: the value's text and the system's number of it,
        // then what the text stands for.
        const SettingKey& s = SettingKeys[i];
        char text[SettingTextBytes];
        GetPrivateProfileStringA("SETTINGS", s.key, "", text, sizeof text, path.c_str());
        const uint32_t number = GetPrivateProfileIntA("SETTINGS", s.key, s.fallback, path.c_str());
        answers[i] = settingValueOf(i, text, number, nullptr);
    }
    return settingsFromAnswers(answers);
}

std::string settingsLine(const Settings& s) {
    char b[400];
    snprintf(b, sizeof b,
             "drink key %s · deadeye lock up to drunk %d · %s · refill %s · sobering 1 intake per %d in-game "
             "seconds",
             keyName(s.drinkKey).c_str(), s.deadeyeLockThreshold,
             s.healWhenDrunk ? "heals when drunk" : "no healing when drunk",
             formatMoney((int64_t)s.refillPrice * 100).c_str(), s.soberUpInterval);
    return b;
}

std::string withRecordingOn(const std::string& settings, bool withSettings) {
    if (!withSettings) return "[SETTINGS]\nRECORD_SESSION=1\n";
    // The text as the plug-in's reader sees it: bytes after an optional UTF-8
    // byte-order mark, or UTF-16 code units after a UTF-16 one.
    const unsigned char* b = (const unsigned char*)settings.data();
    const size_t size = settings.size();
    size_t start = 0;
    int unit = 1;
    bool bigEndian = false;
    if (size >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        start = 2, unit = 2, bigEndian = b[0] == 0xFE;
    } else if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        start = 3;
    }
    const size_t count = (size - start) / unit;
    auto at = [&](size_t i) -> unsigned {
        if (unit == 1) return b[start + i];
        const size_t k = start + 2 * i;
        const unsigned u = bigEndian ? (unsigned)b[k] << 8 | b[k + 1] : (unsigned)b[k + 1] << 8 | b[k];
        return u < 0x80 ? u : 0x80;
    };
    auto blank = [](unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; };
    // Text in the file's own encoding.
    auto encoded = [&](const std::string& ascii) {
        if (unit == 1) return ascii;
        std::string out;
        for (char c : ascii) {
            out += bigEndian ? '\0' : c;
            out += bigEndian ? c : '\0';
        }
        return out;
    };
    const std::string line = "RECORD_SESSION=1\n";
    // The first header naming SETTINGS: its name runs to the line's last ']', up to
    // a NUL, blanks around it and the case of its letters not counting.
    for (size_t p = 0; p < count;) {
        size_t e = p;
        while (e < count && at(e) != '\n' && at(e) != '\r') ++e;
        const size_t next = e < count ? e + 1 : count;
        size_t lb = p, le = e;
        while (lb < le && blank(at(lb))) ++lb;
        while (le > lb && blank(at(le - 1))) --le;
        if (lb < le && at(lb) == '[') {
            size_t close = le - 1;
            while (close > lb && at(close) != ']') --close;
            size_t nb = lb + 1, ne = close;
            for (size_t k = nb; k < ne; ++k)
                if (at(k) == 0) ne = k;
            while (nb < ne && blank(at(nb))) ++nb;
            while (ne > nb && blank(at(ne - 1))) --ne;
            std::string name;
            for (size_t k = nb; k < ne; ++k) name += (char)toupper((int)at(k));
            if (close > lb && name == "SETTINGS") {
                // After the header's line end (a CR LF whole), so that the key is
                // the first of the section.
                size_t after = next;
                if (e < count && at(e) == '\r' && next < count && at(next) == '\n') ++after;
                const size_t offset = start + after * unit;
                return settings.substr(0, offset) + encoded(e < count ? line : "\n" + line) +
                       settings.substr(offset);
            }
        }
        p = next;
    }
    // No such section: one at the end, after the last whole line.
    const size_t offset = start + count * unit;
    const bool lineEnded = count == 0 || at(count - 1) == '\n' || at(count - 1) == '\r';
    return settings.substr(0, offset) +
           encoded((lineEnded ? "" : "\n") + std::string("[SETTINGS]\n") + line) + settings.substr(offset);
}

} // namespace player
