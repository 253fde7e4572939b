#include "scenario.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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

bool parseTime(std::string_view text, Millis* out) {
    if (text.empty()) return false;
    if (text.find(':') != std::string_view::npos) {
        // [H:]M:SS[.fff]
        std::vector<std::string_view> parts;
        size_t start = 0;
        for (;;) {
            const size_t colon = text.find(':', start);
            parts.push_back(text.substr(start, colon - start));
            if (colon == std::string_view::npos) break;
            start = colon + 1;
        }
        if (parts.size() > 3) return false;
        std::string_view secText = parts.back();
        const size_t dot = secText.find('.');
        Millis secMs = 0;
        int64_t sec = 0;
        if (!parseSixty(secText.substr(0, dot), &sec)) return false;
        if (dot != std::string_view::npos) {
            Millis frac = 0;
            if (!parseScaled(std::string("0") + std::string(secText.substr(dot)), 1000, &frac)) return false;
            secMs = frac;
        }
        int64_t minutes = 0, hours = 0;
        if (parts.size() == 3) {
            if (!allDigits(parts[0]) || parts[0].size() > 5 || !parseSixty(parts[1], &minutes)) return false;
            hours = std::stoll(std::string(parts[0]));
        } else {
            if (!allDigits(parts[0]) || parts[0].size() > 6) return false;
            minutes = std::stoll(std::string(parts[0]));
        }
        *out = ((hours * 60 + minutes) * 60 + sec) * 1000 + secMs;
        return true;
    }
    // A sum of number-unit pairs: "1m30s", "2500ms", "1.5s", "1h".
    Millis total = 0;
    size_t i = 0;
    bool any = false;
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
            return false;
        Millis part = 0;
        if (!parseScaled(number, unit, &part)) return false;
        total += part;
        any = true;
        i = k;
    }
    if (!any) return false;
    *out = total;
    return true;
}

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

const std::vector<Saloon>& saloons() {
    // Labelled by the town in each bartender's voice name; Saint Denis has two.
    static const std::vector<Saloon> table = {
        {"tumbleweed", 5634, "1087_U_M_M_TUMBARTENDER_01", 0xD31B229F},
        {"valentine", 21250, "0475_U_M_M_VALBARTENDER_01", 0xB733CF0F},
        {"saint-denis-2", 37378, "0312_U_M_M_NBXBARTENDER_02", 0x0D1298F7},
        {"van-horn", 39426, "1038_U_F_M_VHTBARTENDER_01", 0x1B92FA61},
        {"blackwater", 41218, "0080_U_M_O_BLWBARTENDER_01", 0x8E81C857},
        {"saint-denis", 53762, "0311_U_M_M_NBXBARTENDER_01", 0x1EE53C9C},
        {"rhodes", 54274, "0397_U_M_M_RHDBARTENDER_01", 0x23DA7E9F},
        {"armadillo", 56834, "1077_U_M_O_ARMBARTENDER_01", 0xDD6D1B34},
    };
    return table;
}

const Saloon* findSaloon(std::string_view name) {
    for (const Saloon& s : saloons())
        if (name == s.name) return &s;
    return nullptr;
}

const Saloon* saloonAt(int32_t interior) {
    for (const Saloon& s : saloons())
        if (interior == s.interior) return &s;
    return nullptr;
}

const std::vector<Knob>& knobs() {
    static const std::vector<Knob> table = {
        {"player-condition", KnobType::Integer,
         "answer of the player-condition query (0 blocks the prompt and drinking)"},
        {"first-guard", KnobType::Integer,
         "answer of the first drink-prompt guard (non-zero holds the prompt as it is)"},
        {"hud-wheel", KnobType::Switch, "the \"WheelHUDIn\" effect runs (holds the drink prompt as it is)"},
        {"deadeye-condition", KnobType::Integer, "answer of the deadeye lock's condition query"},
        {"scenario-start-frames", KnobType::Integer, "frames the drinking scenario takes to start"},
        {"scenario-never-starts", KnobType::Switch, "the drinking scenario never starts"},
        {"texture-load-frames", KnobType::Integer, "frames a requested texture dictionary takes to load"},
        {"auto-pass-out", KnobType::Switch, "the game passes the player out after intensity 1.0 for a while"},
        {"pass-out-after", KnobType::Duration,
         "how long intensity 1.0 lasts before the game passes the player out"},
        {"pass-out-duration", KnobType::Duration, "how long the pass-out effect runs"},
        {"pass-out-effect", KnobType::Switch,
         "the pass-out effect runs (set by hand; use with auto-pass-out off)"},
        {"distance-nan", KnobType::Switch, "the distance query answers not-a-number"},
    };
    return table;
}

std::string ParseError::text() const {
    if (line > 0) return file + ":" + std::to_string(line) + ": " + message;
    return file + ": " + message;
}

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words; "double quotes" keep blanks and take \" \\ \n \t; a #
// outside quotes starts a comment. False (with *error) for an unterminated quote.
bool tokenize(const std::string& line, std::vector<Token>* out, std::string* error) {
    out->clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < line.size()) {
                    const char e = line[i++];
                    d = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
                t.text += d;
            }
            if (!closed) {
                *error = "unterminated quoted text";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#')
                t.text += line[i++];
        }
        out->push_back(std::move(t));
    }
    return true;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// ` (did you mean "x"?)` for the nearest candidate within two edits, else "".
std::string suggestion(std::string_view word, const std::vector<std::string>& candidates) {
    size_t best = 3;
    std::string found;
    for (const std::string& c : candidates) {
        const size_t d = editDistance(word, c);
        if (d < best) {
            best = d;
            found = c;
        }
    }
    return found.empty() ? "" : " (did you mean \"" + found + "\"?)";
}

std::string quote(std::string_view s) {
    std::string out = "\"";
    out += s;
    out += '"';
    return out;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

bool parseInteger(std::string_view s, int64_t* out) {
    if (s.empty()) return false;
    std::string text(s);
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) {
        if (!std::all_of(text.begin() + 2, text.end(), [](char c) { return isxdigit((unsigned char)c); }))
            return false;
        const unsigned long long v = strtoull(begin, &end, 16);
        if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
        *out = (int64_t)v;
        return true;
    }
    const char* digits = begin + ((s[0] == '-' || s[0] == '+') ? 1 : 0);
    if (!allDigits(digits)) return false;
    const long long v = strtoll(begin, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool parseReal(std::string_view s, double* out) {
    if (s.empty()) return false;
    std::string text(s);
    char* end = nullptr;
    errno = 0;
    const double v = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    if (text.find_first_of("xXnNiI") != std::string::npos) return false; // no hex floats, nan, inf
    *out = v;
    return true;
}

// on/off words; prompts also read shown/hidden.
bool parseSwitch(std::string_view s, bool* out) {
    if (s == "on" || s == "yes" || s == "true" || s == "shown")
        *out = true;
    else if (s == "off" || s == "no" || s == "false" || s == "hidden")
        *out = false;
    else
        return false;
    return true;
}

// A key: a code (decimal or 0x..) or a single letter or digit, as the keyboard's
// virtual-key codes number them (A is 65, 0 is 48).
bool parseKey(std::string_view s, int64_t* out) {
    if (s.size() == 1 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
        *out = toupper((unsigned char)s[0]);
        return true;
    }
    if (!parseInteger(s, out)) return false;
    return *out >= 0 && *out <= 0xFFFFFFFFll;
}

const char* const SettingKeys[] = {"TOLVENMIRE_KEY", "DEADEYE_LOCK_THRESHOLD", "HEAL_WHEN_DRUNK",
                                   "REFILL_PRICE", "SOBER_UP_TIME"};

struct Parser {
    std::string path;
    std::string folder; // the scenario's folder, for relative paths
    Scenario* out = nullptr;
    std::vector<ParseError>* errors = nullptr;
    int line = 0;
    // Settings: inline keys (with the line that set them) or a file.
    std::vector<std::pair<std::string, int64_t>> keys;
    std::vector<int> keyLines;
    int settingsFileLine = 0;
    int flaskLine = 0, saveLine = 0;
    int endLine = 0;
    bool sawTimed = false;
    Millis lastTime = 0;
    int lastTimeLine = 0;
    bool failed = false;

    void error(const std::string& message) {
        errors->push_back({path, line, message});
        failed = true;
    }

    void run(const std::string& text);
    void setupLine(const std::vector<Token>& t);
    bool action(const std::vector<Token>& t, size_t at, Event* e, bool timed);
    bool expectation(const std::vector<Token>& t, size_t at, Expectation* x);
    bool needArgs(const std::vector<Token>& t, size_t at, size_t min, size_t max, const char* usage);
    void finish();
};

const std::vector<std::string>& setupWords() {
    static const std::vector<std::string> w = {"settings", "settings-file", "fps", "flask", "save", "hud-at"};
    return w;
}
const std::vector<std::string>& eventWords() {
    static const std::vector<std::string> w = {
        "press",        "hold",  "release", "complete", "die",  "cutscene", "out-of-play",
        "back-in-play", "enter", "leave",   "target",   "cash", "model",    "clock-rate",
        "clock",        "set",   "expect",  "restart",  "end"};
    return w;
}
std::vector<std::string> allWords() {
    std::vector<std::string> w = setupWords();
    w.insert(w.end(), eventWords().begin(), eventWords().end());
    return w;
}

// `word` is one of the given ones, or an error names them.
bool Parser::needArgs(const std::vector<Token>& t, size_t at, size_t min, size_t max, const char* usage) {
    const size_t n = t.size() - at - 1;
    if (n < min || n > max) {
        error(std::string(n < min ? "missing" : "too many") + " arguments: write " + quote(usage));
        return false;
    }
    return true;
}

void Parser::run(const std::string& text) {
    std::istringstream in(text);
    std::string raw;
    std::vector<Token> t;
    while (std::getline(in, raw)) {
        ++line;
        std::string tokError;
        if (!tokenize(raw, &t, &tokError)) {
            error(tokError);
            continue;
        }
        if (t.empty()) continue;
        if (endLine != 0) {
            error("nothing can follow \"end\" (line " + std::to_string(endLine) + ")");
            continue;
        }
        size_t at = 0;
        if (!t[0].quoted && t[0].text == "at") {
            if (t.size() < 2) {
                error("\"at\" needs a time, as in \"at 1:30 press drink-key\"");
                continue;
            }
            at = 1;
        }
        const std::string& first = t[at].text;
        const bool relative = !first.empty() && first[0] == '+';
        Millis time = 0;
        const bool isTime =
            !t[at].quoted && parseTime(relative ? std::string_view(first).substr(1) : first, &time);
        const bool looksTimed = at == 1 || relative || (!first.empty() && first[0] >= '0' && first[0] <= '9');
        if (!isTime && looksTimed) {
            if (allDigits(first))
                error("bad time " + quote(first) + ": give a unit or minutes and seconds (" + first +
                      "s, 0:" + (first.size() < 2 ? "0" : "") + first + ", " + first + "ms)");
            else if (first.find(':') != std::string::npos)
                error("bad time " + quote(first) +
                      ": minutes and seconds are M:SS with seconds below 60 (0:05, 1:30.5, 1:02:03)");
            else
                error("bad time " + quote(first) + " (write 0:05, 1:30.5, 2500ms, 1.5s or 2m)");
            continue;
        }
        if (!isTime) {
            setupLine(t);
            continue;
        }
        if (relative) time += lastTime;
        if (time < lastTime) {
            error("time " + formatTime(time) + " is earlier than the line before it (" +
                  formatTime(lastTime) + " on line " + std::to_string(lastTimeLine) +
                  "); times must not go backwards");
            continue;
        }
        if (t.size() == at + 1) {
            error("nothing happens at " + formatTime(time) + ": an event must follow the time");
            continue;
        }
        sawTimed = true;
        lastTime = time;
        lastTimeLine = line;
        Event e;
        e.at = time;
        e.line = line;
        if (action(t, at + 1, &e, true)) {
            if (e.kind == Event::Kind::End) endLine = line;
            if (e.kind == Event::Kind::Expect) ++out->expectations;
            out->events.push_back(std::move(e));
        }
    }
    finish();
}

void Parser::setupLine(const std::vector<Token>& t) {
    const std::string& word = t[0].text;
    const bool setupOnly = std::find(setupWords().begin(), setupWords().end(), word) != setupWords().end();
    if (setupOnly && sawTimed) {
        error(quote(word) + " belongs to the setup, before the first timed line (line " +
              std::to_string(lastTimeLine) + ")");
        return;
    }
    if (word == "settings") {
        if (t.size() < 2) return error("write the settings as KEY=VALUE, as in \"settings REFILL_PRICE=12\"");
        for (size_t i = 1; i < t.size(); ++i) {
            const std::string& kv = t[i].text;
            const size_t eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) {
                error("setting " + quote(kv) + " is not KEY=VALUE");
                continue;
            }
            std::string key = kv.substr(0, eq);
            std::transform(key.begin(), key.end(), key.begin(), [](char c) { return (char)toupper(c); });
            std::replace(key.begin(), key.end(), '-', '_');
            const std::string value = kv.substr(eq + 1);
            std::vector<std::string> known(std::begin(SettingKeys), std::end(SettingKeys));
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                std::string hint = suggestion(key, known);
                error("unknown setting " + quote(kv.substr(0, eq)) +
                      (hint.empty() ? " (known: " + joined(known) + ")" : hint));
                continue;
            }
            int64_t v = 0;
            const bool ok = key == "TOLVENMIRE_KEY" ? parseKey(value, &v) : parseInteger(value, &v);
            if (!ok || v < INT32_MIN || v > UINT32_MAX) {
                error("bad number " + quote(value) + " for " + key + " (a whole number" +
                      (key == "TOLVENMIRE_KEY" ? std::string(", or a letter such as P") : std::string()) +
                      ")");
                continue;
            }
            bool twice = false;
            for (size_t k = 0; k < keys.size(); ++k)
                if (keys[k].first == key) {
                    error(key + " is set twice (also on line " + std::to_string(keyLines[k]) + ")");
                    twice = true;
                }
            if (twice) continue;
            keys.push_back({key, v});
            keyLines.push_back(line);
        }
        return;
    }
    if (word == "settings-file") {
        if (!needArgs(t, 0, 1, 1, "settings-file PATH")) return;
        if (settingsFileLine)
            return error("a second settings-file (the first is on line " + std::to_string(settingsFileLine) +
                         ")");
        std::string file = t[1].text;
        const std::string resolved =
            (file.empty() || file[0] == '/' || folder.empty()) ? file : folder + "/" + file;
        std::ifstream in(resolved, std::ios::binary);
        if (!in) return error("cannot read settings file " + quote(file) + ": " + strerror(errno));
        std::ostringstream content;
        content << in.rdbuf();
        out->settings = content.str();
        out->settingsSource = file;
        settingsFileLine = line;
        return;
    }
    if (word == "fps") {
        if (!needArgs(t, 0, 1, 1, "fps 30")) return;
        int64_t v = 0;
        if (!parseInteger(t[1].text, &v)) return error("bad number " + quote(t[1].text) + " for fps");
        if (v < 1 || v > 1000) return error("fps " + t[1].text + " is out of range (1 to 1000)");
        out->fps = (int)v;
        return;
    }
    if (word == "flask") {
        if (!needArgs(t, 0, 1, 1, "flask 40")) return;
        int64_t v = 0;
        if (!parseInteger(t[1].text, &v) || v < INT32_MIN || v > INT32_MAX)
            return error("bad number " + quote(t[1].text) +
                         " for the flask level (a whole number; 99 is full)");
        if (saveLine)
            return error("flask and save both set the save file (save is on line " +
                         std::to_string(saveLine) + ")");
        out->withSave = true;
        out->save = std::to_string(v);
        flaskLine = line;
        return;
    }
    if (word == "save") {
        if (!needArgs(t, 0, 1, 1, "save \"42\" or save none")) return;
        if (flaskLine)
            return error("flask and save both set the save file (flask is on line " +
                         std::to_string(flaskLine) + ")");
        saveLine = line;
        if (!t[1].quoted && t[1].text == "none") {
            out->withSave = false;
            return;
        }
        out->withSave = true;
        out->save = t[1].text;
        return;
    }
    if (word == "hud-at") {
        if (!needArgs(t, 0, 1, 1, "hud-at 0:20")) return;
        Millis v = 0;
        if (!parseTime(t[1].text, &v)) return error("bad time " + quote(t[1].text) + " for hud-at");
        out->hasHudAt = true;
        out->hudAt = v;
        return;
    }
    // World changes are allowed untimed before the first timed line: they hold from
    // the start.
    Event e;
    e.line = line;
    if (!action(t, 0, &e, false)) return;
    if (sawTimed)
        return error(quote(word) + " needs a time after the setup, as in \"" + formatTime(lastTime) + " " +
                     e.written + "\"");
    out->setup.push_back(std::move(e));
}

bool Parser::action(const std::vector<Token>& t, size_t at, Event* e, bool timed) {
    using K = Event::Kind;
    const std::string& word = t[at].text;
    const size_t n = t.size() - at - 1; // arguments
    auto arg = [&](size_t k) -> const std::string& { return t[at + 1 + k].text; };
    for (size_t i = at; i < t.size(); ++i) e->written += (i > at ? " " : "") + t[i].text;
    auto needsTime = [&]() {
        if (!timed) error(quote(word) + " needs a time, as in \"0:05 " + e->written + "\"");
        return timed;
    };

    if (word == "press" || word == "hold" || word == "release") {
        const std::string usage = word == "press"
                                      ? "press drink-key | key CODE | stop | stop-alt | control HASH | "
                                        "prompt-control"
                                      : word + " prompt-control";
        if (n < 1) return error("missing what to " + word + ": " + quote(usage)), false;
        if (!needsTime()) return false;
        const std::string& what = arg(0);
        if (word != "press") {
            if (what != "prompt-control" || n != 1) return error("write " + quote(usage)), false;
            e->kind = K::PromptControl;
            e->number = word == "hold" ? 1 : 2;
            return true;
        }
        if (what == "drink-key" && n == 1) {
            e->kind = K::PressKey;
            e->number = -1;
            return true;
        }
        if (what == "key" && n == 2) {
            e->kind = K::PressKey;
            if (!parseKey(arg(1), &e->number))
                return error("bad key " + quote(arg(1)) + " (a key code such as 79, or a letter such as O)"),
                       false;
            return true;
        }
        if ((what == "stop" || what == "stop-alt") && n == 1) {
            e->kind = K::PressControl;
            e->number = what == "stop" ? 0xFDA83190 : 0x4D8FB4C1;
            return true;
        }
        if (what == "control" && n == 2) {
            e->kind = K::PressControl;
            if (!parseInteger(arg(1), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
                return error("bad control hash " + quote(arg(1)) + " (as in 0xFDA83190)"), false;
            return true;
        }
        if (what == "prompt-control" && n == 1) {
            e->kind = K::PromptControl;
            e->number = 0;
            return true;
        }
        return error("cannot press " + quote(what) + ": write " + quote(usage)), false;
    }
    if (word == "complete") {
        if (!needArgs(t, at, 1, 1, "complete drink-prompt | refill-prompt") || !needsTime()) return false;
        if (arg(0) != "drink-prompt" && arg(0) != "refill-prompt")
            return error("cannot complete " + quote(arg(0)) +
                         ": write \"complete drink-prompt\" or "
                         "\"complete refill-prompt\""),
                   false;
        e->kind = K::Complete;
        e->name = arg(0) == "drink-prompt" ? "drink" : "refill";
        return true;
    }
    if (word == "die" || word == "cutscene" || word == "out-of-play") {
        const bool optional = word != "cutscene";
        if (!needArgs(t, at, optional ? 0 : 1, 1, (word + " DURATION").c_str()) || !needsTime()) return false;
        e->kind = K::OutOfPlay;
        e->name = word == "die" ? "death" : word;
        e->duration = word == "die" ? 10000 : 0;
        if (n == 1 && !parseTime(arg(0), &e->duration))
            return error("bad duration " + quote(arg(0)) + " (as in 10s or 0:30)"), false;
        return true;
    }
    if (word == "back-in-play") {
        if (!needArgs(t, at, 0, 0, "back-in-play") || !needsTime()) return false;
        e->kind = K::BackInPlay;
        return true;
    }
    if (word == "enter") {
        const char* usage = "enter saloon NAME | enter interior ID";
        if (n == 1 && findSaloon(arg(0))) { // "enter valentine"
            e->kind = K::Enter;
            e->number = findSaloon(arg(0))->interior;
            return true;
        }
        if (!needArgs(t, at, 2, 2, usage)) return false;
        e->kind = K::Enter;
        if (arg(0) == "saloon") {
            const Saloon* s = findSaloon(arg(1));
            if (!s) {
                std::vector<std::string> names;
                for (const Saloon& x : saloons()) names.push_back(x.name);
                const std::string hint = suggestion(arg(1), names);
                return error("unknown saloon " + quote(arg(1)) +
                             (hint.empty() ? " (saloons: " + joined(names) + ")" : hint)),
                       false;
            }
            e->number = s->interior;
            return true;
        }
        if (arg(0) == "interior") {
            if (!parseInteger(arg(1), &e->number) || e->number < INT32_MIN || e->number > UINT32_MAX)
                return error("bad number " + quote(arg(1)) + " for the interior"), false;
            e->number = (int32_t)(uint32_t)e->number;
            return true;
        }
        return error("write " + quote(usage)), false;
    }
    if (word == "leave") {
        if (!needArgs(t, at, 0, 0, "leave")) return false;
        e->kind = K::Leave;
        return true;
    }
    if (word == "target") {
        const char* usage =
            "target bartender [of SALOON] [at DISTANCE] | target stranger [at DISTANCE] | target none";
        if (n < 1) return error(std::string("missing arguments: write \"") + usage + "\""), false;
        e->kind = K::Target;
        e->name = arg(0);
        e->value = 2.0;
        if (e->name == "none") {
            if (n != 1) return error(std::string("write \"") + usage + "\""), false;
            return true;
        }
        if (e->name != "bartender" && e->name != "stranger")
            return error("cannot target " + quote(e->name) + ": write \"" + usage + "\""), false;
        size_t k = 1;
        if (k < n && arg(k) == "of") {
            if (e->name != "bartender" || k + 1 >= n)
                return error(std::string("write \"") + usage + "\""), false;
            const Saloon* s = findSaloon(arg(k + 1));
            if (!s) return error("unknown saloon " + quote(arg(k + 1))), false;
            e->number = s->interior;
            k += 2;
        }
        if (k < n && arg(k) == "at") ++k;
        if (k < n) {
            std::string d = arg(k);
            if (d.size() > 1 && d.back() == 'm') d.pop_back();
            if (!parseReal(d, &e->value) || e->value < 0)
                return error("bad distance " + quote(arg(k)) + " (a number of world units, as in 3.5)"),
                       false;
            ++k;
        }
        if (k != n) return error(std::string("write \"") + usage + "\""), false;
        return true;
    }
    if (word == "cash") {
        if (!needArgs(t, at, 1, 1, "cash $25.00")) return false;
        e->kind = K::Cash;
        if (!parseMoney(arg(0), &e->number))
            return error("bad amount " + quote(arg(0)) + " for cash (dollars, as in $25 or $12.50)"), false;
        return true;
    }
    if (word == "model") {
        if (!needArgs(t, at, 1, 1, "model arthur | john | 0xHASH")) return false;
        e->kind = K::Model;
        if (arg(0) == "arthur")
            e->number = 0x0D7114C9;
        else if (arg(0) == "john")
            e->number = 0x00B69710;
        else if (!parseInteger(arg(0), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
            return error("bad model " + quote(arg(0)) +
                         " (arthur, john, or a model hash such as 0x1234ABCD)"),
                   false;
        return true;
    }
    if (word == "clock-rate") {
        if (!needArgs(t, at, 1, 1, "clock-rate 30")) return false;
        e->kind = K::ClockRate;
        if (!parseReal(arg(0), &e->value) || e->value < 0)
            return error("bad number " + quote(arg(0)) + " for clock-rate (game-clock units per second)"),
                   false;
        return true;
    }
    if (word == "clock") {
        if (!needArgs(t, at, 1, 1, "clock 5000")) return false;
        e->kind = K::Clock;
        if (!parseInteger(arg(0), &e->number) || e->number < INT32_MIN || e->number > INT32_MAX)
            return error("bad number " + quote(arg(0)) + " for the game clock"), false;
        return true;
    }
    if (word == "set") {
        if (!needArgs(t, at, 2, 2, "set KNOB VALUE")) return false;
        const Knob* knob = nullptr;
        for (const Knob& k : knobs())
            if (arg(0) == k.name) knob = &k;
        if (!knob) {
            std::vector<std::string> names;
            for (const Knob& k : knobs()) names.push_back(k.name);
            const std::string hint = suggestion(arg(0), names);
            return error("unknown knob " + quote(arg(0)) +
                         (hint.empty() ? " (knobs: " + joined(names) + ")" : hint)),
                   false;
        }
        e->kind = K::Knob;
        e->name = knob->name;
        bool on = false;
        int64_t v = 0;
        Millis d = 0;
        switch (knob->type) {
        case KnobType::Integer:
            if (!parseInteger(arg(1), &v) || v < INT32_MIN || v > INT32_MAX)
                return error("bad number " + quote(arg(1)) + " for " + knob->name), false;
            e->value = (double)v;
            break;
        case KnobType::Switch:
            if (!parseSwitch(arg(1), &on)) return error(std::string(knob->name) + " is on or off"), false;
            e->value = on ? 1 : 0;
            break;
        case KnobType::Duration:
            if (!parseTime(arg(1), &d))
                return error("bad duration " + quote(arg(1)) + " for " + knob->name), false;
            e->value = (double)d;
            break;
        }
        return true;
    }
    if (word == "expect") {
        if (!needsTime()) return false;
        e->kind = K::Expect;
        e->expect.written.clear();
        for (size_t i = at + 1; i < t.size(); ++i)
            e->expect.written += (i > at + 1 ? " " : "") + (t[i].quoted ? quote(t[i].text) : t[i].text);
        return expectation(t, at + 1, &e->expect);
    }
    if (word == "restart") {
        if (!needArgs(t, at, 0, 0, "restart") || !needsTime()) return false;
        e->kind = K::Restart;
        return true;
    }
    if (word == "end") {
        if (!needArgs(t, at, 0, 0, "end") || !needsTime()) return false;
        e->kind = K::End;
        return true;
    }
    if (std::find(setupWords().begin(), setupWords().end(), word) != setupWords().end())
        return error(quote(word) + " belongs to the setup, before the first timed line, and takes no time"),
               false;
    error("unknown event " + quote(word) + suggestion(word, allWords()));
    return false;
}

bool Parser::expectation(const std::vector<Token>& t, size_t at, Expectation* x) {
    using S = Expectation::Subject;
    enum class Form { Number, Money, Real, Switch, Save, Line };
    struct Entry {
        const char* name;
        S subject;
        Form form;
    };
    static const Entry table[] = {
        {"flask", S::Flask, Form::Number},
        {"intake", S::Intake, Form::Number},
        {"drunk", S::Drunk, Form::Number},
        {"cash", S::Cash, Form::Money},
        {"charged", S::Charged, Form::Money},
        {"intensity", S::Intensity, Form::Real},
        {"drinks", S::Drinks, Form::Number},
        {"sips", S::Sips, Form::Number},
        {"pass-outs", S::PassOuts, Form::Number},
        {"refills", S::Refills, Form::Number},
        {"drink-prompt", S::DrinkPrompt, Form::Switch},
        {"refill-prompt", S::RefillPrompt, Form::Switch},
        {"drinking", S::Drinking, Form::Switch},
        {"deadeye-lock", S::DeadeyeLock, Form::Switch},
        {"passed-out", S::PassedOut, Form::Switch},
        {"out-of-play", S::OutOfPlay, Form::Switch},
        {"save", S::Save, Form::Save},
        {"spoken", S::Spoken, Form::Line},
        {"not-spoken", S::NotSpoken, Form::Line},
    };
    std::vector<std::string> names;
    for (const Entry& en : table) names.push_back(en.name);
    if (at >= t.size()) return error("missing what to expect (one of: " + joined(names) + ")"), false;
    const std::string& what = t[at].text;
    const Entry* entry = nullptr;
    for (const Entry& en : table)
        if (what == en.name) entry = &en;
    if (!entry) {
        const std::string hint = suggestion(what, names);
        return error("cannot expect " + quote(what) +
                     (hint.empty() ? " (one of: " + joined(names) + ")" : hint)),
               false;
    }
    x->subject = entry->subject;
    // The value, with an operator in front of it or attached to it.
    std::vector<std::string> rest;
    for (size_t i = at + 1; i < t.size(); ++i) rest.push_back(t[i].text);
    const bool lastQuoted = t.size() > at + 1 && t.back().quoted;

    if (entry->form == Form::Switch) {
        if (rest.size() != 1 || !parseSwitch(rest[0], &x->flag))
            return error("write \"expect " + what + " " +
                         (x->subject == S::DrinkPrompt || x->subject == S::RefillPrompt
                              ? "shown\" or \"hidden\""
                              : "on\" or \"off\"")),
                   false;
        return true;
    }
    if (entry->form == Form::Save) {
        if (rest.size() != 1) return error("write \"expect save \\\"99\\\"\" or \"expect save none\""), false;
        x->present = !(rest[0] == "none" && !lastQuoted);
        x->text = rest[0];
        return true;
    }
    if (entry->form == Form::Line) {
        if (rest.size() != 1)
            return error("write \"expect " + what + " LINE\", as in \"expect " + what +
                         " CHAT_PREPARE_DRINK\""),
                   false;
        x->text = rest[0];
        return true;
    }
    std::string value;
    if (rest.size() == 2) {
        static const char* const ops[] = {"=", "==", "!=", "<", "<=", ">", ">="};
        if (std::find(std::begin(ops), std::end(ops), rest[0]) == std::end(ops))
            return error("bad comparison " + quote(rest[0]) + " (=, !=, <, <=, >, >=)"), false;
        value = rest[0] + rest[1];
    } else if (rest.size() == 1) {
        value = rest[0];
    } else {
        return error("write \"expect " + what + " VALUE\", with an optional comparison (expect " + what +
                     " >= 10) or a range (expect " + what + " 10..20)"),
               false;
    }
    using Op = Expectation::Op;
    x->op = Op::Eq;
    static const std::pair<const char*, Op> prefixes[] = {{"==", Op::Eq}, {"!=", Op::Ne}, {"<=", Op::Le},
                                                          {">=", Op::Ge}, {"=", Op::Eq},  {"<", Op::Lt},
                                                          {">", Op::Gt}};
    for (const auto& [p, op] : prefixes) {
        if (value.rfind(p, 0) == 0) {
            x->op = op;
            value = value.substr(strlen(p));
            break;
        }
    }
    auto number = [&](const std::string& s, double* v, double* tolerance) {
        if (entry->form == Form::Money) {
            int64_t cents = 0;
            if (!parseMoney(s, &cents)) return false;
            *v = (double)cents;
            return true;
        }
        if (entry->form == Form::Number) {
            int64_t i = 0;
            if (!parseInteger(s, &i)) return false;
            *v = (double)i;
            return true;
        }
        if (s == "cleared") {
            *v = 0;
            return true;
        }
        if (!parseReal(s, v)) return false;
        const size_t dot = s.find('.');
        if (dot != std::string::npos && tolerance)
            *tolerance = 0.5 * std::pow(10.0, -(double)(s.size() - dot - 1));
        return true;
    };
    const char* kind = entry->form == Form::Money  ? " (dollars, as in $12.50)"
                       : entry->form == Form::Real ? " (a number, as in 0.4974)"
                                                   : " (a whole number)";
    const size_t dots = value.find("..");
    if (dots != std::string::npos) {
        if (x->op != Op::Eq)
            return error("a range takes no comparison: write \"expect " + what + " 10..20\""), false;
        x->op = Op::Range;
        const std::string lo = value.substr(0, dots), hi = value.substr(dots + 2);
        double tolLo = 0, tolHi = 0;
        if (!number(lo, &x->low, &tolLo))
            return error("bad number " + quote(lo) + " for " + what + kind), false;
        if (!number(hi, &x->high, &tolHi))
            return error("bad number " + quote(hi) + " for " + what + kind), false;
        if (x->high < x->low) return error("the range " + value + " is empty (low..high)"), false;
        x->tolerance = std::max(tolLo, tolHi);
        return true;
    }
    if (!number(value, &x->low, &x->tolerance))
        return error("bad number " + quote(value) + " for " + what + kind), false;
    x->high = x->low;
    return true;
}

void Parser::finish() {
    if (!keys.empty() && settingsFileLine) {
        line = settingsFileLine;
        error("settings-file and inline settings (line " + std::to_string(keyLines[0]) +
              ") cannot be combined: put the keys in the file");
    } else if (!keys.empty()) {
        out->withSettings = true;
        out->settings = "[SETTINGS]\n";
        for (const auto& [key, value] : keys) {
            out->settings += key + "=" + std::to_string(value) + "\n";
            out->settingsSource +=
                (out->settingsSource.empty() ? "" : " ") + key + "=" + std::to_string(value);
        }
    } else if (settingsFileLine) {
        out->withSettings = true;
    }
    if (!out->events.empty()) out->end = out->events.back().at;
    if (out->events.empty() && !failed) {
        line = 0;
        error("the scenario plays nothing: add a timed line, such as \"1:00 end\"");
    }
    if (out->hasHudAt && out->hudAt > out->end && !failed) {
        line = 0;
        error("hud-at " + formatTime(out->hudAt) + " is after the end of the session (" +
              formatTime(out->end) + ")");
    }
    // Lines are kept in time order already; ties keep file order.
}

} // namespace

bool parseScenario(const std::string& text, const std::string& path, Scenario* out,
                   std::vector<ParseError>* errors) {
    *out = Scenario();
    out->path = path;
    Parser p;
    p.path = path;
    const size_t slash = path.rfind('/');
    p.folder = slash == std::string::npos ? "" : path.substr(0, slash);
    p.out = out;
    p.errors = errors;
    p.run(text);
    return !p.failed;
}

bool loadScenario(const std::string& path, Scenario* out, std::vector<ParseError>* errors) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors->push_back({path, 0, std::string("cannot open the scenario: ") + strerror(errno)});
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return parseScenario(content.str(), path, out, errors);
}

} // namespace player
