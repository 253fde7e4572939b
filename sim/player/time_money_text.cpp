// Times, durations and money, written and read back (time_money_text.h): the one
// notation of everything the player prints and every scenario line.
#include "player/time_money_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace player {

namespace {

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits with an optional fraction of up to three places, as milliseconds times
// `unit`. "1.5" with unit 1000 is 1500.
bool parseScaled(std::string_view s, int64_t unit, Millis* out) {
    const size_t dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    if (!allDigits(whole) || whole.size() > 9) return false;
    if (dot != std::string_view::npos && (!allDigits(frac) || frac.size() > 3)) return false;
    int64_t value = std::stoll(std::string(whole)) * unit;
    int64_t scale = unit;
    for (char c : frac) {
        scale /= 10;
        if (scale == 0 && c != '0') return false; // finer than a millisecond
        value += (c - '0') * scale;
    }
    *out = value;
    return true;
}

// Two digits below 60, as in "1:05".
bool parseSixty(std::string_view s, int64_t* out) {
    if (s.size() != 2 || !allDigits(s)) return false;
    *out = (s[0] - '0') * 10 + (s[1] - '0');
    return *out < 60;
}

} // namespace

// The longest time written as hours, minutes and seconds: 99999:59:59.999.
const Millis LongestTime = ((99999ll * 60 + 59) * 60 + 59) * 1000 + 999;

TimeText readTime(std::string_view text, Millis* out) {
    if (text.empty()) return TimeText::Bad;
    if (text.find(':') != std::string_view::npos) {
        // [H:]M:SS[.fff]
        std::vector<std::string_view> parts;
        size_t start = 0;
        for (;;) {
            const size_t colon = text.find(':', start);
            parts.push_back(text.substr(start, colon - start));
            if (colon == std::string_view::npos || parts.size() > 3) break;
            start = colon + 1;
        }
        if (parts.size() > 3) return TimeText::Bad;
        std::string_view secText = parts.back();
        const size_t dot = secText.find('.');
        Millis secMs = 0;
        int64_t sec = 0;
        if (!parseSixty(secText.substr(0, dot), &sec)) return TimeText::Bad;
        if (dot != std::string_view::npos) {
            Millis frac = 0;
            if (!parseScaled(std::string("0") + std::string(secText.substr(dot)), 1000, &frac))
                return TimeText::Bad;
            secMs = frac;
        }
        int64_t minutes = 0, hours = 0;
        if (parts.size() == 3) {
            if (!allDigits(parts[0]) || parts[0].size() > 5 || !parseSixty(parts[1], &minutes))
                return TimeText::Bad;
            hours = std::stoll(std::string(parts[0]));
        } else {
            if (!allDigits(parts[0]) || parts[0].size() > 6) return TimeText::Bad;
            minutes = std::stoll(std::string(parts[0]));
        }
        *out = ((hours * 60 + minutes) * 60 + sec) * 1000 + secMs;
        return TimeText::Ok;
    }
    // A sum of number-unit pairs: "1m30s", "2500ms", "1.5s", "1h". Each pair is
    // below 2^52 ms; the sum stops counting past the longest time, so that no
    // number of pairs can carry it round.
    Millis total = 0;
    size_t i = 0;
    bool any = false, tooLong = false;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == '.')) ++j;
        size_t k = j;
        while (k < text.size() && text[k] >= 'a' && text[k] <= 'z') ++k;
        const std::string_view number = text.substr(i, j - i);
        const std::string_view unitName = text.substr(j, k - j);
        int64_t unit = 0;
        if (unitName == "ms")
            unit = 1;
        else if (unitName == "s")
            unit = 1000;
        else if (unitName == "m" || unitName == "min")
            unit = 60000;
        else if (unitName == "h")
            unit = 3600000;
        else
            return TimeText::Bad;
        Millis part = 0;
        if (!parseScaled(number, unit, &part)) return TimeText::Bad;
        if (!tooLong) total += part;
        tooLong = tooLong || total > LongestTime;
        any = true;
        i = k;
    }
    if (!any) return TimeText::Bad;
    if (tooLong) return TimeText::TooLong;
    *out = total;
    return TimeText::Ok;
}

bool parseTime(std::string_view text, Millis* out) { return readTime(text, out) == TimeText::Ok; }

std::string formatTime(Millis ms) {
    const bool negative = ms < 0;
    if (negative) ms = -ms;
    const int64_t tenths = (ms + 50) / 100;
    const int64_t totalSec = tenths / 10;
    char buf[48];
    if (totalSec >= 3600)
        snprintf(buf, sizeof buf, "%s%lld:%02lld:%02lld.%lld", negative ? "-" : "",
                 (long long)(totalSec / 3600), (long long)(totalSec / 60 % 60), (long long)(totalSec % 60),
                 (long long)(tenths % 10));
    else
        snprintf(buf, sizeof buf, "%s%lld:%02lld.%lld", negative ? "-" : "", (long long)(totalSec / 60),
                 (long long)(totalSec % 60), (long long)(tenths % 10));
    return buf;
}

std::string formatDuration(Millis ms) {
    char buf[48];
    if (ms < 60000) {
        snprintf(buf, sizeof buf, "%.1f s", ms / 1000.0);
        return buf;
    }
    std::string t = formatTime(ms);
    if (t.size() > 2 && t.compare(t.size() - 2, 2, ".0") == 0) t.resize(t.size() - 2);
    return t;
}

bool parseMoney(std::string_view text, int64_t* hundredths) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (!text.empty() && text[0] == '$') text.remove_prefix(1);
    const size_t dot = text.find('.');
    // Thousands may be grouped with commas, as the timeline writes them: $1,000.00.
    std::string whole;
    for (char c : text.substr(0, dot))
        if (c != ',') whole += c;
    if (!allDigits(whole) || whole.size() > 12) return false;
    if (text.substr(0, dot).find(",,") != std::string_view::npos || text[0] == ',') return false;
    int64_t cents = std::stoll(whole) * 100;
    if (dot != std::string_view::npos) {
        const std::string_view frac = text.substr(dot + 1);
        if (!allDigits(frac) || frac.size() > 2) return false;
        cents += (frac[0] - '0') * 10 + (frac.size() == 2 ? frac[1] - '0' : 0);
    }
    *hundredths = negative ? -cents : cents;
    return true;
}

std::string formatMoney(int64_t hundredths) {
    const bool negative = hundredths < 0;
    const uint64_t magnitude = negative ? 0 - (uint64_t)hundredths : (uint64_t)hundredths;
    const std::string digits = std::to_string(magnitude / 100);
    std::string out = negative ? "-$" : "$";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    char cents[4];
    snprintf(cents, sizeof cents, "%02u", (unsigned)(magnitude % 100));
    out += '.';
    out += cents;
    return out;
}

} // namespace player
