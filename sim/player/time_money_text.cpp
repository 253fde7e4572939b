// Times, durations and money, written and read back (time_money_text.h): the one
// notation of everything the player prints and every scenario line.
#include "player/time_money_text.h"

#include "player/scenario_words.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace player {

namespace {

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

namespace {

// Days since 1 Jan 1970 of a day of the Gregorian calendar, and back (the civil
// calendar's arithmetic, by eras of 400 years; any year, negative days included).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = (unsigned)(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = (int64_t)yoe + era * 400 + (*m <= 2);
}

const int64_t DaysTo1898 = daysFromCivil(1898, 1, 1);
const int64_t SecondsADay = 86400;

// "14" of "14:30": two digits below `limit`.
bool twoDigits(std::string_view s, int limit, int64_t* v) {
    if (s.size() != 2 || !allDigits(s)) return false;
    *v = (s[0] - '0') * 10 + (s[1] - '0');
    return *v < limit;
}

} // namespace

std::string formatGameClock(int64_t seconds) {
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int64_t days = seconds >= 0 ? seconds / SecondsADay : -((-seconds + SecondsADay - 1) / SecondsADay);
    const int64_t inDay = seconds - days * SecondsADay;
    int64_t y = 0;
    unsigned m = 1, d = 1;
    civilFromDays(DaysTo1898 + days, &y, &m, &d);
    char b[64];
    snprintf(b, sizeof b, "%u %s %lld %02d:%02d:%02d", d, Months[m - 1], (long long)y, (int)(inDay / 3600),
             (int)(inDay / 60 % 60), (int)(inDay % 60));
    return b;
}

bool parseGameDate(std::string_view date, std::string_view timeOfDay, int64_t* seconds) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
    const std::string_view ys = date.substr(0, 4);
    int64_t m = 0, d = 0, h = 0, min = 0, s = 0;
    if (!allDigits(ys) || !twoDigits(date.substr(5, 2), 13, &m) || !twoDigits(date.substr(8, 2), 32, &d))
        return false;
    const int64_t y = std::stoll(std::string(ys));
    if (m < 1 || d < 1) return false;
    const int64_t days = daysFromCivil(y, (unsigned)m, (unsigned)d);
    int64_t by = 0;
    unsigned bm = 0, bd = 0;
    civilFromDays(days, &by, &bm, &bd);
    if (by != y || bm != (unsigned)m || bd != (unsigned)d) return false; // 31 Feb and the like
    if (!timeOfDay.empty()) {
        if (timeOfDay.size() != 5 && timeOfDay.size() != 8) return false;
        if (timeOfDay[2] != ':' || !twoDigits(timeOfDay.substr(0, 2), 24, &h) ||
            !twoDigits(timeOfDay.substr(3, 2), 60, &min))
            return false;
        if (timeOfDay.size() == 8 && (timeOfDay[5] != ':' || !twoDigits(timeOfDay.substr(6, 2), 60, &s)))
            return false;
    }
    *seconds = (days - DaysTo1898) * SecondsADay + h * 3600 + min * 60 + s;
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
