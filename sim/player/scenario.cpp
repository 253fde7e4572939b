#include "player/scenario.h"

#include "player/printable_text.h"
#include "player/world_tables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace player {

namespace {

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

int frameLength(int fps) { return std::max(1, (int)std::lround(1000.0 / std::max(fps, 1))); }

std::string ParseError::text() const {
    if (line > 0) return file + ":" + std::to_string(line) + ": " + message;
    return file + ": " + message;
}

namespace {

// A file of at most LargestFile bytes, whole, into *content. False, with why, for
// anything else: a folder, a device or a pipe (which could give bytes without end,
// or none ever), a file too large; or the system's reason it cannot be opened.
bool readSmallFile(const std::string& path, std::string* content, std::string* why) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_directory(status)) return *why = "it is a folder", false;
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return *why = "it is not a regular file", false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return *why = strerror(errno), false;
    content->resize(LargestFile + 1);
    in.read(content->data(), (std::streamsize)content->size());
    content->resize((size_t)in.gcount());
    if (content->size() > LargestFile)
        return *why = "it is larger than " + std::to_string(LargestFile >> 20) + " MiB", false;
    if (in.bad()) return *why = strerror(errno), false;
    return true;
}

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words; "double quotes" keep blanks and take \" \\ \n \t; a #
// outside quotes starts a comment. False (with *error) for an unterminated quote,
// and for a control character outside quotes: a word never holds one, and a NUL
// in "9<NUL>9" must not end a number early.
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
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '#') {
                const unsigned char b = (unsigned char)line[i];
                if (b < 0x20 || b == 0x7F) {
                    char hex[8];
                    snprintf(hex, sizeof hex, "0x%02X", b);
                    *error = std::string("a control character (") + hex +
                             ") in a word: put odd bytes in quoted text";
                    return false;
                }
                t.text += line[i++];
            }
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
        // Words apart in length by `best` or more are that many edits apart at least:
        // a long word costs nothing.
        const size_t apart = word.size() > c.size() ? word.size() - c.size() : c.size() - word.size();
        if (apart >= best) continue;
        const size_t d = editDistance(word, c);
        if (d < best) {
            best = d;
            found = c;
        }
    }
    return found.empty() ? "" : " (did you mean \"" + found + "\"?)";
}

// A word of the file in a message: quoted, escaped, and cut after 60 bytes.
std::string quote(std::string_view s) {
    const size_t Shown = 60;
    if (s.size() <= Shown) return "\"" + printable(s, true) + "\"";
    size_t cut = Shown;
    while (cut > 0 && ((unsigned char)s[cut] & 0xC0) == 0x80) --cut; // not inside a character
    return "\"" + printable(s.substr(0, cut), true) + "...\" (" + std::to_string(s.size()) + " bytes)";
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
    // The whole word, NULs included, must be digits.
    if (!allDigits(s.substr((s[0] == '-' || s[0] == '+') ? 1 : 0))) return false;
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
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
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

// The farthest a target may stand, and the fastest game clock: far past any the
// game has, and small enough for the model's float and integer arithmetic.
const double MostDistance = 1e6;
const double MostClockRate = 1e6;

std::string fixedNumber(double v) {
    char b[32];
    snprintf(b, sizeof b, "%.0f", v);
    return b;
}

const char* const SettingKeys[] = {"TOLVENMIRE_KEY", "DEADEYE_LOCK_THRESHOLD", "HEAL_WHEN_DRUNK",
                                   "REFILL_PRICE",   "SOBER_UP_TIME",          "RECORD_SESSION"};

// An event's words as written: the event's own word at `at`, its arguments after it.
struct Words {
    const std::vector<Token>& t;
    size_t at = 0;
    bool timed = false; // the line has a time
    const std::string& word() const { return t[at].text; }
    size_t count() const { return t.size() - at - 1; }
    const std::string& arg(size_t k) const { return t[at + 1 + k].text; }
};

// What an expectation compares, and how its value is written.
enum class Form { Number, Money, Real, Switch, Save, Line };
struct SubjectWord {
    const char* name;
    Expectation::Subject subject;
    Form form;
};
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
    int flaskLine = 0, saveLine = 0, fpsLine = 0, hudAtLine = 0;
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
    void finish();
    bool needArgs(const std::vector<Token>& t, size_t at, size_t min, size_t max, const char* usage);
    bool once(const char* word, int* seenOn);
    bool withinSession(const std::string& what, Millis ms);

    // The setup's own lines.
    void setupLine(const std::vector<Token>& t);
    void setSettings(const std::vector<Token>& t);
    void setting(const std::string& kv);
    void setSettingsFile(const std::vector<Token>& t);
    void setFps(const std::vector<Token>& t);
    void setFlask(const std::vector<Token>& t);
    void setSave(const std::vector<Token>& t);
    void setHudAt(const std::vector<Token>& t);

    // Events: the line's words from `at` on, into *e.
    bool action(const std::vector<Token>& t, size_t at, Event* e, bool timed);
    bool needsTime(const Words& w, const Event& e);
    bool press(const Words& w, Event* e);
    bool pressWhat(const Words& w, const std::string& usage, Event* e);
    bool complete(const Words& w, Event* e);
    bool outOfPlay(const Words& w, Event* e);
    bool backInPlay(const Words& w, Event* e);
    bool enter(const Words& w, Event* e);
    bool leave(const Words& w, Event* e);
    bool target(const Words& w, Event* e);
    bool targetPlace(const Words& w, const char* usage, Event* e);
    bool cash(const Words& w, Event* e);
    bool model(const Words& w, Event* e);
    bool clockRate(const Words& w, Event* e);
    bool clock(const Words& w, Event* e);
    bool knob(const Words& w, Event* e);
    bool knobValue(const Knob& knob, const std::string& text, Event* e);
    bool expect(const Words& w, Event* e);
    bool restart(const Words& w, Event* e);
    bool end(const Words& w, Event* e);

    // An expectation: the words from `at` on (the subject first).
    bool expectation(const std::vector<Token>& t, size_t at, Expectation* x);
    bool expectSwitch(const std::string& what, const std::vector<std::string>& rest, Expectation* x);
    bool expectSave(const std::vector<std::string>& rest, bool lastQuoted, Expectation* x);
    bool expectLine(const std::string& what, const std::vector<std::string>& rest, Expectation* x);
    bool expectValue(Form form, const std::string& what, const std::vector<std::string>& rest,
                     Expectation* x);
};

// The setup's words, each with its reader; in the order hints name them.
struct SetupWord {
    const char* word;
    void (Parser::*read)(const std::vector<Token>& t);
};
const SetupWord SetupWords[] = {
    {"settings", &Parser::setSettings}, {"settings-file", &Parser::setSettingsFile},
    {"fps", &Parser::setFps},           {"flask", &Parser::setFlask},
    {"save", &Parser::setSave},         {"hud-at", &Parser::setHudAt},
};

// The events' words, each with its reader; in the order hints name them.
struct EventWord {
    const char* word;
    bool (Parser::*read)(const Words& w, Event* e);
};
const EventWord EventWords[] = {
    {"press", &Parser::press},
    {"hold", &Parser::press},
    {"release", &Parser::press},
    {"complete", &Parser::complete},
    {"die", &Parser::outOfPlay},
    {"cutscene", &Parser::outOfPlay},
    {"out-of-play", &Parser::outOfPlay},
    {"back-in-play", &Parser::backInPlay},
    {"enter", &Parser::enter},
    {"leave", &Parser::leave},
    {"target", &Parser::target},
    {"cash", &Parser::cash},
    {"model", &Parser::model},
    {"clock-rate", &Parser::clockRate},
    {"clock", &Parser::clock},
    {"set", &Parser::knob},
    {"expect", &Parser::expect},
    {"restart", &Parser::restart},
    {"end", &Parser::end},
};

const SetupWord* findSetupWord(const std::string& word) {
    for (const SetupWord& s : SetupWords)
        if (word == s.word) return &s;
    return nullptr;
}

const EventWord* findEventWord(const std::string& word) {
    for (const EventWord& e : EventWords)
        if (word == e.word) return &e;
    return nullptr;
}

std::vector<std::string> allWords() {
    std::vector<std::string> w;
    for (const SetupWord& s : SetupWords) w.push_back(s.word);
    for (const EventWord& e : EventWords) w.push_back(e.word);
    return w;
}

// The word at `at` has from min to max arguments, or an error shows how to write it.
bool Parser::needArgs(const std::vector<Token>& t, size_t at, size_t min, size_t max, const char* usage) {
    const size_t n = t.size() - at - 1;
    if (n < min || n > max) {
        error(std::string(n < min ? "missing" : "too many") + " arguments: write " + quote(usage));
        return false;
    }
    return true;
}

// A setup line that may appear once: false, said, for a second one.
bool Parser::once(const char* word, int* seenOn) {
    if (*seenOn) {
        error(std::string("a second \"") + word + "\" line (the first is on line " + std::to_string(*seenOn) +
              ")");
        return false;
    }
    *seenOn = line;
    return true;
}

// A time or a duration no longer than a session may last; false, said, otherwise.
bool Parser::withinSession(const std::string& what, Millis ms) {
    if (ms <= LongestSession) return true;
    error(what + " is longer than a session may last (" + formatTime(LongestSession) + ")");
    return false;
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
        const TimeText read = t[at].quoted
                                  ? TimeText::Bad
                                  : readTime(relative ? std::string_view(first).substr(1) : first, &time);
        const bool isTime = read == TimeText::Ok;
        const bool looksTimed = at == 1 || relative || (!first.empty() && first[0] >= '0' && first[0] <= '9');
        if (read == TimeText::TooLong) {
            error("time " + quote(first) + " is longer than a session may last (" +
                  formatTime(LongestSession) + ")");
            continue;
        }
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
        if (!withinSession("time " + formatTime(time), time)) continue;
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
    const SetupWord* setup = findSetupWord(word);
    if (setup && sawTimed) {
        error(quote(word) + " belongs to the setup, before the first timed line (line " +
              std::to_string(lastTimeLine) + ")");
        return;
    }
    if (setup) return (this->*setup->read)(t);
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

void Parser::setSettings(const std::vector<Token>& t) {
    if (t.size() < 2) return error("write the settings as KEY=VALUE, as in \"settings REFILL_PRICE=12\"");
    for (size_t i = 1; i < t.size(); ++i) setting(t[i].text);
}

// One KEY=VALUE of a settings line.
void Parser::setting(const std::string& kv) {
    const size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0) return error("setting " + quote(kv) + " is not KEY=VALUE");
    std::string key = kv.substr(0, eq);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) { return (char)toupper(c); });
    std::replace(key.begin(), key.end(), '-', '_');
    const std::string value = kv.substr(eq + 1);
    std::vector<std::string> known(std::begin(SettingKeys), std::end(SettingKeys));
    if (std::find(known.begin(), known.end(), key) == known.end()) {
        std::string hint = suggestion(key, known);
        return error("unknown setting " + quote(kv.substr(0, eq)) +
                     (hint.empty() ? " (known: " + joined(known) + ")" : hint));
    }
    int64_t v = 0;
    const bool ok = key == "TOLVENMIRE_KEY" ? parseKey(value, &v) : parseInteger(value, &v);
    if (!ok || v < INT32_MIN || v > UINT32_MAX)
        return error("bad number " + quote(value) + " for " + key + " (a whole number" +
                     (key == "TOLVENMIRE_KEY" ? std::string(", or a letter such as P") : std::string()) +
                     ")");
    bool twice = false;
    for (size_t k = 0; k < keys.size(); ++k)
        if (keys[k].first == key) {
            error(key + " is set twice (also on line " + std::to_string(keyLines[k]) + ")");
            twice = true;
        }
    if (twice) return;
    keys.push_back({key, v});
    keyLines.push_back(line);
}

void Parser::setSettingsFile(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "settings-file PATH")) return;
    if (settingsFileLine)
        return error("a second settings-file (the first is on line " + std::to_string(settingsFileLine) +
                     ")");
    std::string file = t[1].text;
    const std::string resolved =
        (file.empty() || file[0] == '/' || folder.empty()) ? file : folder + "/" + file;
    std::string why;
    if (!readSmallFile(resolved, &out->settings, &why))
        return error("cannot read settings file " + quote(file) + ": " + why);
    out->settingsSource = printable(file);
    settingsFileLine = line;
}

void Parser::setFps(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "fps 30")) return;
    int64_t v = 0;
    if (!parseInteger(t[1].text, &v)) return error("bad number " + quote(t[1].text) + " for fps");
    if (v < 1 || v > 1000) return error("fps " + printable(t[1].text) + " is out of range (1 to 1000)");
    if (!once("fps", &fpsLine)) return;
    out->fps = (int)v;
}

void Parser::setFlask(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "flask 40")) return;
    int64_t v = 0;
    if (!parseInteger(t[1].text, &v) || v < INT32_MIN || v > INT32_MAX)
        return error("bad number " + quote(t[1].text) + " for the flask level (a whole number; 99 is full)");
    if (saveLine)
        return error("flask and save both set the save file (save is on line " + std::to_string(saveLine) +
                     ")");
    if (!once("flask", &flaskLine)) return;
    out->withSave = true;
    out->save = std::to_string(v);
}

void Parser::setSave(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "save \"42\" or save none")) return;
    if (flaskLine)
        return error("flask and save both set the save file (flask is on line " + std::to_string(flaskLine) +
                     ")");
    if (!once("save", &saveLine)) return;
    if (!t[1].quoted && t[1].text == "none") {
        out->withSave = false;
        return;
    }
    out->withSave = true;
    out->save = t[1].text;
}

void Parser::setHudAt(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "hud-at 0:20")) return;
    Millis v = 0;
    if (!parseTime(t[1].text, &v)) return error("bad time " + quote(t[1].text) + " for hud-at");
    if (!once("hud-at", &hudAtLine)) return;
    out->hasHudAt = true;
    out->hudAt = v;
}

bool Parser::action(const std::vector<Token>& t, size_t at, Event* e, bool timed) {
    const Words w{t, at, timed};
    for (size_t i = at; i < t.size(); ++i) e->written += (i > at ? " " : "") + printable(t[i].text);
    if (const EventWord* event = findEventWord(w.word())) return (this->*event->read)(w, e);
    if (findSetupWord(w.word()))
        return error(quote(w.word()) +
                     " belongs to the setup, before the first timed line, and takes no time"),
               false;
    error("unknown event " + quote(w.word()) + suggestion(w.word(), allWords()));
    return false;
}

bool Parser::needsTime(const Words& w, const Event& e) {
    if (!w.timed) error(quote(w.word()) + " needs a time, as in \"0:05 " + e.written + "\"");
    return w.timed;
}

// press, hold and release.
bool Parser::press(const Words& w, Event* e) {
    const std::string& word = w.word();
    const std::string usage = word == "press"
                                  ? "press drink-key | key CODE | stop | stop-alt | control HASH | "
                                    "prompt-control"
                                  : word + " prompt-control";
    if (w.count() < 1) return error("missing what to " + word + ": " + quote(usage)), false;
    if (!needsTime(w, *e)) return false;
    if (word == "press") return pressWhat(w, usage, e);
    if (w.arg(0) != "prompt-control" || w.count() != 1) return error("write " + quote(usage)), false;
    e->kind = Event::Kind::PromptControl;
    e->number = word == "hold" ? 1 : 2;
    return true;
}

bool Parser::pressWhat(const Words& w, const std::string& usage, Event* e) {
    using K = Event::Kind;
    const std::string& what = w.arg(0);
    const size_t n = w.count();
    if (what == "drink-key" && n == 1) {
        e->kind = K::PressKey;
        e->number = -1;
        return true;
    }
    if (what == "key" && n == 2) {
        e->kind = K::PressKey;
        if (!parseKey(w.arg(1), &e->number))
            return error("bad key " + quote(w.arg(1)) + " (a key code such as 79, or a letter such as O)"),
                   false;
        return true;
    }
    if (const NamedHash* stop = findStopControl(what); stop && n == 1) {
        e->kind = K::PressControl;
        e->number = stop->hash;
        return true;
    }
    if (what == "control" && n == 2) {
        e->kind = K::PressControl;
        if (!parseInteger(w.arg(1), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
            return error("bad control hash " + quote(w.arg(1)) + " (as in 0xFDA83190)"), false;
        return true;
    }
    if (what == "prompt-control" && n == 1) {
        e->kind = K::PromptControl;
        e->number = 0;
        return true;
    }
    return error("cannot press " + quote(what) + ": write " + quote(usage)), false;
}

bool Parser::complete(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 1, "complete drink-prompt | refill-prompt") || !needsTime(w, *e))
        return false;
    if (w.arg(0) != "drink-prompt" && w.arg(0) != "refill-prompt")
        return error("cannot complete " + quote(w.arg(0)) +
                     ": write \"complete drink-prompt\" or "
                     "\"complete refill-prompt\""),
               false;
    e->kind = Event::Kind::Complete;
    e->name = w.arg(0) == "drink-prompt" ? "drink" : "refill";
    return true;
}

// die, cutscene and out-of-play.
bool Parser::outOfPlay(const Words& w, Event* e) {
    const std::string& word = w.word();
    const bool optional = word != "cutscene";
    if (!needArgs(w.t, w.at, optional ? 0 : 1, 1, (word + " DURATION").c_str()) || !needsTime(w, *e))
        return false;
    e->kind = Event::Kind::OutOfPlay;
    e->name = word == "die" ? "death" : word;
    e->duration = word == "die" ? 10000 : 0;
    const TimeText read = w.count() == 1 ? readTime(w.arg(0), &e->duration) : TimeText::Ok;
    if (read == TimeText::TooLong) return withinSession(word + " " + quote(w.arg(0)), LongestSession + 1);
    if (read == TimeText::Bad)
        return error("bad duration " + quote(w.arg(0)) + " (as in 10s or 0:30)"), false;
    return withinSession(word + " " + formatDuration(e->duration), e->duration);
}

bool Parser::backInPlay(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 0, "back-in-play") || !needsTime(w, *e)) return false;
    e->kind = Event::Kind::BackInPlay;
    return true;
}

bool Parser::enter(const Words& w, Event* e) {
    const char* usage = "enter saloon NAME | enter interior ID";
    if (w.count() == 1 && findSaloon(w.arg(0))) { // "enter valentine"
        e->kind = Event::Kind::Enter;
        e->number = findSaloon(w.arg(0))->interior;
        return true;
    }
    if (!needArgs(w.t, w.at, 2, 2, usage)) return false;
    e->kind = Event::Kind::Enter;
    if (w.arg(0) == "saloon") {
        const Saloon* s = findSaloon(w.arg(1));
        if (!s) {
            std::vector<std::string> names;
            for (const Saloon& x : saloons()) names.push_back(x.name);
            const std::string hint = suggestion(w.arg(1), names);
            return error("unknown saloon " + quote(w.arg(1)) +
                         (hint.empty() ? " (saloons: " + joined(names) + ")" : hint)),
                   false;
        }
        e->number = s->interior;
        return true;
    }
    if (w.arg(0) == "interior") {
        if (!parseInteger(w.arg(1), &e->number) || e->number < INT32_MIN || e->number > UINT32_MAX)
            return error("bad number " + quote(w.arg(1)) + " for the interior"), false;
        e->number = (int32_t)(uint32_t)e->number;
        return true;
    }
    return error("write " + quote(usage)), false;
}

bool Parser::leave(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 0, "leave")) return false;
    e->kind = Event::Kind::Leave;
    return true;
}

bool Parser::target(const Words& w, Event* e) {
    const char* usage =
        "target bartender [of SALOON] [at DISTANCE] | target stranger [at DISTANCE] | target none";
    if (w.count() < 1) return error(std::string("missing arguments: write \"") + usage + "\""), false;
    e->kind = Event::Kind::Target;
    e->name = w.arg(0);
    e->value = 2.0;
    if (e->name == "none") {
        if (w.count() != 1) return error(std::string("write \"") + usage + "\""), false;
        return true;
    }
    if (e->name != "bartender" && e->name != "stranger")
        return error("cannot target " + quote(e->name) + ": write \"" + usage + "\""), false;
    return targetPlace(w, usage, e);
}

// The optional "of SALOON" and "at DISTANCE" of a target line.
bool Parser::targetPlace(const Words& w, const char* usage, Event* e) {
    const size_t n = w.count();
    size_t k = 1;
    if (k < n && w.arg(k) == "of") {
        if (e->name != "bartender" || k + 1 >= n) return error(std::string("write \"") + usage + "\""), false;
        const Saloon* s = findSaloon(w.arg(k + 1));
        if (!s) return error("unknown saloon " + quote(w.arg(k + 1))), false;
        e->number = s->interior;
        k += 2;
    }
    if (k < n && w.arg(k) == "at") ++k;
    if (k < n) {
        std::string d = w.arg(k);
        if (d.size() > 1 && d.back() == 'm') d.pop_back();
        if (!parseReal(d, &e->value) || e->value < 0 || e->value > MostDistance)
            return error("bad distance " + quote(w.arg(k)) +
                         " (a number of world units, as in 3.5, at most " + fixedNumber(MostDistance) + ")"),
                   false;
        ++k;
    }
    if (k != n) return error(std::string("write \"") + usage + "\""), false;
    return true;
}

bool Parser::cash(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 1, "cash $25.00")) return false;
    e->kind = Event::Kind::Cash;
    if (!parseMoney(w.arg(0), &e->number))
        return error("bad amount " + quote(w.arg(0)) + " for cash (dollars, as in $25 or $12.50)"), false;
    return true;
}

bool Parser::model(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 1, "model arthur | john | 0xHASH")) return false;
    e->kind = Event::Kind::Model;
    if (const NamedHash* named = findPlayerModel(w.arg(0)))
        e->number = named->hash;
    else if (!parseInteger(w.arg(0), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
        return error("bad model " + quote(w.arg(0)) + " (arthur, john, or a model hash such as 0x1234ABCD)"),
               false;
    return true;
}

bool Parser::clockRate(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 1, "clock-rate 30")) return false;
    e->kind = Event::Kind::ClockRate;
    if (!parseReal(w.arg(0), &e->value) || e->value < 0 || e->value > MostClockRate)
        return error("bad number " + quote(w.arg(0)) +
                     " for clock-rate (game-clock units per second, at most " + fixedNumber(MostClockRate) +
                     ")"),
               false;
    return true;
}

bool Parser::clock(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 1, "clock 5000")) return false;
    e->kind = Event::Kind::Clock;
    if (!parseInteger(w.arg(0), &e->number) || e->number < INT32_MIN || e->number > INT32_MAX)
        return error("bad number " + quote(w.arg(0)) + " for the game clock"), false;
    return true;
}

// set KNOB VALUE
bool Parser::knob(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 2, 2, "set KNOB VALUE")) return false;
    const Knob* knob = nullptr;
    for (const Knob& k : knobs())
        if (w.arg(0) == k.name) knob = &k;
    if (!knob) {
        std::vector<std::string> names;
        for (const Knob& k : knobs()) names.push_back(k.name);
        const std::string hint = suggestion(w.arg(0), names);
        return error("unknown knob " + quote(w.arg(0)) +
                     (hint.empty() ? " (knobs: " + joined(names) + ")" : hint)),
               false;
    }
    e->kind = Event::Kind::Knob;
    e->name = knob->name;
    return knobValue(*knob, w.arg(1), e);
}

bool Parser::knobValue(const Knob& knob, const std::string& text, Event* e) {
    bool on = false;
    int64_t v = 0;
    Millis d = 0;
    switch (knob.type) {
    case KnobType::Integer:
        if (!parseInteger(text, &v) || v < INT32_MIN || v > INT32_MAX)
            return error("bad number " + quote(text) + " for " + knob.name), false;
        e->value = (double)v;
        break;
    case KnobType::Switch:
        if (!parseSwitch(text, &on)) return error(std::string(knob.name) + " is on or off"), false;
        e->value = on ? 1 : 0;
        break;
    case KnobType::Duration:
        if (readTime(text, &d) == TimeText::TooLong)
            return withinSession(std::string(knob.name) + " " + quote(text), LongestSession + 1);
        if (!parseTime(text, &d)) return error("bad duration " + quote(text) + " for " + knob.name), false;
        if (!withinSession(std::string(knob.name) + " " + formatDuration(d), d)) return false;
        e->value = (double)d;
        break;
    }
    return true;
}

bool Parser::expect(const Words& w, Event* e) {
    if (!needsTime(w, *e)) return false;
    e->kind = Event::Kind::Expect;
    e->expect.written.clear();
    for (size_t i = w.at + 1; i < w.t.size(); ++i)
        e->expect.written +=
            (i > w.at + 1 ? " " : "") +
            (w.t[i].quoted ? "\"" + printable(w.t[i].text, true) + "\"" : printable(w.t[i].text));
    return expectation(w.t, w.at + 1, &e->expect);
}

bool Parser::restart(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 0, "restart") || !needsTime(w, *e)) return false;
    e->kind = Event::Kind::Restart;
    return true;
}

bool Parser::end(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 0, "end") || !needsTime(w, *e)) return false;
    e->kind = Event::Kind::End;
    return true;
}

const SubjectWord SubjectWords[] = {
    {"flask", Expectation::Subject::Flask, Form::Number},
    {"intake", Expectation::Subject::Intake, Form::Number},
    {"drunk", Expectation::Subject::Drunk, Form::Number},
    {"cash", Expectation::Subject::Cash, Form::Money},
    {"charged", Expectation::Subject::Charged, Form::Money},
    {"intensity", Expectation::Subject::Intensity, Form::Real},
    {"drinks", Expectation::Subject::Drinks, Form::Number},
    {"sips", Expectation::Subject::Sips, Form::Number},
    {"pass-outs", Expectation::Subject::PassOuts, Form::Number},
    {"refills", Expectation::Subject::Refills, Form::Number},
    {"drink-prompt", Expectation::Subject::DrinkPrompt, Form::Switch},
    {"refill-prompt", Expectation::Subject::RefillPrompt, Form::Switch},
    {"drinking", Expectation::Subject::Drinking, Form::Switch},
    {"deadeye-lock", Expectation::Subject::DeadeyeLock, Form::Switch},
    {"passed-out", Expectation::Subject::PassedOut, Form::Switch},
    {"out-of-play", Expectation::Subject::OutOfPlay, Form::Switch},
    {"save", Expectation::Subject::Save, Form::Save},
    {"spoken", Expectation::Subject::Spoken, Form::Line},
    {"not-spoken", Expectation::Subject::NotSpoken, Form::Line},
};

bool Parser::expectation(const std::vector<Token>& t, size_t at, Expectation* x) {
    std::vector<std::string> names;
    for (const SubjectWord& s : SubjectWords) names.push_back(s.name);
    if (at >= t.size()) return error("missing what to expect (one of: " + joined(names) + ")"), false;
    const std::string& what = t[at].text;
    const SubjectWord* entry = nullptr;
    for (const SubjectWord& s : SubjectWords)
        if (what == s.name) entry = &s;
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
    switch (entry->form) {
    case Form::Switch:
        return expectSwitch(what, rest, x);
    case Form::Save:
        return expectSave(rest, lastQuoted, x);
    case Form::Line:
        return expectLine(what, rest, x);
    default:
        return expectValue(entry->form, what, rest, x);
    }
}

bool Parser::expectSwitch(const std::string& what, const std::vector<std::string>& rest, Expectation* x) {
    using S = Expectation::Subject;
    if (rest.size() != 1 || !parseSwitch(rest[0], &x->flag))
        return error("write \"expect " + what + " " +
                     (x->subject == S::DrinkPrompt || x->subject == S::RefillPrompt ? "shown\" or \"hidden\""
                                                                                    : "on\" or \"off\"")),
               false;
    return true;
}

bool Parser::expectSave(const std::vector<std::string>& rest, bool lastQuoted, Expectation* x) {
    if (rest.size() != 1) return error("write \"expect save \\\"99\\\"\" or \"expect save none\""), false;
    x->present = !(rest[0] == "none" && !lastQuoted);
    x->text = rest[0];
    return true;
}

bool Parser::expectLine(const std::string& what, const std::vector<std::string>& rest, Expectation* x) {
    if (rest.size() != 1)
        return error("write \"expect " + what + " LINE\", as in \"expect " + what + " CHAT_PREPARE_DRINK\""),
               false;
    x->text = rest[0];
    return true;
}

// A number of the form, into *v; an intensity's tolerance is half a unit of the
// last digit written.
bool parseExpected(Form form, const std::string& s, double* v, double* tolerance) {
    if (form == Form::Money) {
        int64_t cents = 0;
        if (!parseMoney(s, &cents)) return false;
        *v = (double)cents;
        return true;
    }
    if (form == Form::Number) {
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
}

// The comparison in front of the value, taken off it; Eq when there is none.
Expectation::Op takeComparison(std::string* value) {
    using Op = Expectation::Op;
    static const std::pair<const char*, Op> prefixes[] = {{"==", Op::Eq}, {"!=", Op::Ne}, {"<=", Op::Le},
                                                          {">=", Op::Ge}, {"=", Op::Eq},  {"<", Op::Lt},
                                                          {">", Op::Gt}};
    for (const auto& [p, op] : prefixes) {
        if (value->rfind(p, 0) == 0) {
            *value = value->substr(strlen(p));
            return op;
        }
    }
    return Op::Eq;
}

// A number, money or intensity, with an optional comparison (apart or attached) or
// as a range low..high.
bool Parser::expectValue(Form form, const std::string& what, const std::vector<std::string>& rest,
                         Expectation* x) {
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
    x->op = takeComparison(&value);
    const char* kind = form == Form::Money  ? " (dollars, as in $12.50)"
                       : form == Form::Real ? " (a number, as in 0.4974)"
                                            : " (a whole number)";
    const size_t dots = value.find("..");
    if (dots == std::string::npos) {
        if (!parseExpected(form, value, &x->low, &x->tolerance))
            return error("bad number " + quote(value) + " for " + what + kind), false;
        x->high = x->low;
        return true;
    }
    if (x->op != Op::Eq)
        return error("a range takes no comparison: write \"expect " + what + " 10..20\""), false;
    x->op = Op::Range;
    const std::string lo = value.substr(0, dots), hi = value.substr(dots + 2);
    double tolLo = 0, tolHi = 0;
    if (!parseExpected(form, lo, &x->low, &tolLo))
        return error("bad number " + quote(lo) + " for " + what + kind), false;
    if (!parseExpected(form, hi, &x->high, &tolHi))
        return error("bad number " + quote(hi) + " for " + what + kind), false;
    if (x->high < x->low) return error("the range " + value + " is empty (low..high)"), false;
    x->tolerance = std::max(tolLo, tolHi);
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
    // Every frame up to the first at or after the end is played.
    const int64_t frames = out->end / frameLength(out->fps) + 1;
    if (frames > MostFrames && !failed) {
        line = out->events.back().line;
        error("the session of " + formatDuration(out->end) + " at " + std::to_string(out->fps) + " fps is " +
              std::to_string(frames) + " frames, more than the " + std::to_string(MostFrames) +
              " a session may play: make it shorter or lower fps");
    }
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
    std::string content, why;
    if (!readSmallFile(path, &content, &why)) {
        errors->push_back({path, 0, "cannot open the scenario: " + why});
        return false;
    }
    return parseScenario(content, path, out, errors);
}

} // namespace player
