// The scenario's reader: each line's time, the setup's lines, and the checks of the
// whole at the end (scenario_parser.h). The events' lines are read in
// scenario_event_lines.cpp, the expectations' in scenario_expect_lines.cpp.
#include "player/scenario_parser.h"

#include "standin/printable_text.h"
#include "player/settings_file.h"

#include "base/key_names.h"
#include "base/setting_values.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace player {

int frameLength(int fps) { return std::max(1, (int)std::lround(1000.0 / std::max(fps, 1))); }

// The file's name as a terminal may show it: a name is any bytes.
std::string ParseError::text() const {
    if (line > 0) return sim::printable(file) + ":" + std::to_string(line) + ": " + message;
    return sim::printable(file) + ": " + message;
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

// The setup's words, each with its reader; in the order hints name them.
struct SetupWord {
    const char* word;
    void (Parser::*read)(const std::vector<Token>& t);
};
const SetupWord SetupWords[] = {
    {"settings", &Parser::setSettings},
    {"settings-file", &Parser::setSettingsFile},
    {"fps", &Parser::setFps},
    {"flask", &Parser::setFlask},
    {"save", &Parser::setSave},
    {"hud-at", &Parser::setHudAt},
    {"game-timer", &Parser::setGameTimer},
    {"tick-count", &Parser::setTickCount},
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
    {"move", &Parser::move},
    {"complete", &Parser::complete},
    {"mission", &Parser::spell},
    {"mission-end", &Parser::missionEnd},
    {"die", &Parser::spell},
    {"cutscene", &Parser::spell},
    {"keyboard", &Parser::player},
    {"controller", &Parser::player},
    {"mount", &Parser::player},
    {"dismount", &Parser::player},
    {"aim", &Parser::player},
    {"stop-aiming", &Parser::player},
    {"out-of-play", &Parser::spell},
    {"back-in-play", &Parser::missionEnd},
    {"enter", &Parser::enter},
    {"leave", &Parser::leave},
    {"target", &Parser::target},
    {"cash", &Parser::cash},
    {"model", &Parser::model},
    {"clock-rate", &Parser::clockRate},
    {"clock", &Parser::clock},
    {"set", &Parser::knob},
    {"position", &Parser::position},
    {"frames", &Parser::frameTimes},
    {"answer", &Parser::answer},
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

} // namespace

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
        if (action(t, at + 1, &e, true) && inOrder(e)) {
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
    clockChange(e);
    out->setup.push_back(std::move(e));
}

// A timed line in the order of those before it: the missions it starts and ends, and
// the game clock it sets, within their bounds. False, said, otherwise.
bool Parser::inOrder(const Event& e) {
    using K = Event::Kind;
    if (e.kind == K::Mission || e.kind == K::MissionEnd || e.kind == K::Restart) return missionInOrder(e);
    if (e.kind != K::Clock && e.kind != K::ClockRate) return true;
    if (!clockRunsTo(e.at)) return false;
    clockChange(e);
    return true;
}

// One story mission at a time: a mission starts when none is under way, and
// mission-end ends one that is. A mission lasts from its time up to, not including,
// its end; a quit of the game ends it too.
bool Parser::missionInOrder(const Event& e) {
    using K = Event::Kind;
    const bool underWay = missionLine && (missionUntil < 0 || e.at < missionUntil);
    const std::string until =
        missionUntil < 0 ? "until its mission-end" : "until " + formatTime(missionUntil);
    if (e.kind == K::Restart) {
        if (underWay) missionUntil = e.at;
        return true;
    }
    if (e.kind == K::Mission) {
        if (underWay)
            return error("a mission at " + formatTime(e.at) + " while the mission of line " +
                         std::to_string(missionLine) + " is under way (" + until +
                         "): end that one first (mission-end), or start this one after it"),
                   false;
        missionLine = e.line;
        missionUntil = e.duration ? e.at + e.duration : -1;
        return true;
    }
    if (!underWay)
        return error(e.written + " at " + formatTime(e.at) + " with no mission under way" +
                     (missionLine ? " (the mission of line " + std::to_string(missionLine) + " ended at " +
                                        formatTime(missionUntil) + ")"
                                  : std::string())),
               false;
    missionUntil = e.at;
    return true;
}

// The game clock from the last line that set it up to `at`: false, said on that
// line, when it would run past its last second there.
bool Parser::clockRunsTo(Millis at) {
    const double reached = clockValue + clockPace * (double)(at - clockFrom) / 1000.0;
    if (reached <= (double)INT32_MAX) return true;
    const Millis past = clockFrom + (Millis)std::ceil(((double)INT32_MAX - clockValue) / clockPace * 1000.0);
    const int here = line;
    if (clockLine) line = clockLine;
    error("the game clock would run past its last second (" + formatGameClock(INT32_MAX) + ") at " +
          formatTime(past) + ", where it would wrap and sobering stop: start it earlier or run it slower");
    line = here;
    clockValue = -1e18; // told once
    return false;
}

// A clock or clock-rate line (at 0 in the setup) sets where the clock runs from.
void Parser::clockChange(const Event& e) {
    using K = Event::Kind;
    if (e.kind == K::Clock) {
        clockValue = (double)e.number + e.value;
    } else if (e.kind == K::ClockRate) {
        clockValue += clockPace * (double)(e.at - clockFrom) / 1000.0;
        clockPace = e.value;
    } else {
        return;
    }
    clockFrom = e.at;
    clockLine = e.line;
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
    std::vector<std::string> known;
    for (const SettingKey& k : SettingKeys) known.push_back(k.key);
    if (std::find(known.begin(), known.end(), key) == known.end()) {
        std::string hint = suggestion(key, known);
        return error("unknown setting " + quote(kv.substr(0, eq)) +
                     (hint.empty() ? " (known: " + joined(known) + ")" : hint));
    }
    // A number goes into the file as its decimal; a key's name or a switch's word as
    // written, for the plug-in to read as it reads a player's.
    const SettingKind kind =
        std::find_if(std::begin(SettingKeys), std::end(SettingKeys), [&](const SettingKey& k) {
            return k.key == key;
        })->kind;
    int64_t v = 0;
    std::string written;
    if (parseInteger(value, &v) && v >= (kind == SettingKeyCode ? 0 : INT32_MIN) && v <= UINT32_MAX)
        written = std::to_string(v);
    else if ((kind == SettingKeyCode && keyCodeOfName(value.c_str()) >= 0) ||
             (kind == SettingSwitch && switchOfWord(value.c_str()) >= 0))
        written = value;
    else
        return error("bad number " + quote(value) + " for " + key + " (a whole number" +
                     (kind == SettingKeyCode  ? std::string(", or a key's name such as P or F5")
                      : kind == SettingSwitch ? std::string(", or on/off, yes/no, true/false")
                                              : std::string()) +
                     ")");
    bool twice = false;
    for (size_t k = 0; k < keys.size(); ++k)
        if (keys[k].first == key) {
            error(key + " is set twice (also on line " + std::to_string(keyLines[k]) + ")");
            twice = true;
        }
    if (twice) return;
    keys.push_back({key, written});
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
    out->settingsSource = sim::printable(file);
    settingsFileLine = line;
}

void Parser::setFps(const std::vector<Token>& t) {
    if (!needArgs(t, 0, 1, 1, "fps 30")) return;
    int64_t v = 0;
    if (!parseInteger(t[1].text, &v)) return error("bad number " + quote(t[1].text) + " for fps");
    if (v < 1 || v > 1000) return error("fps " + sim::printable(t[1].text) + " is out of range (1 to 1000)");
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

// game-timer N and tick-count N: a count of milliseconds, 32 bits unsigned, once.
bool Parser::setupCount(const std::vector<Token>& t, const char* word, int* seenOn, uint32_t* out) {
    if (!needArgs(t, 0, 1, 1, (std::string(word) + " 100000").c_str())) return false;
    int64_t v = 0;
    if (!parseInteger(t[1].text, &v) || v < 0 || v > 0xFFFFFFFFll)
        return error("bad number " + quote(t[1].text) + " for " + word +
                     " (milliseconds, a whole number from 0 to 4294967295)"),
               false;
    if (!once(word, seenOn)) return false;
    *out = (uint32_t)v;
    return true;
}

void Parser::setGameTimer(const std::vector<Token>& t) {
    if (setupCount(t, "game-timer", &gameTimerLine, &out->gameTimer)) out->hasGameTimer = true;
}

void Parser::setTickCount(const std::vector<Token>& t) {
    if (setupCount(t, "tick-count", &tickCountLine, &out->tickCount)) out->hasTickCount = true;
}

// "for N frames" at the end of a press, a release, a completion or an answer: how
// many frames it lasts. Taken off the words; false, said, when N is not a count.
bool Parser::takeSpan(std::vector<Token>* t, size_t at, Event* e) {
    const size_t n = t->size();
    if (n < at + 4 || (*t)[n - 3].text != "for" ||
        ((*t)[n - 1].text != "frames" && (*t)[n - 1].text != "frame"))
        return true;
    int64_t frames = 0;
    if (!parseInteger((*t)[n - 2].text, &frames) || frames < 1 || frames > MostFrames)
        return error("bad count " + quote((*t)[n - 2].text) + " of frames (a whole number from 1 to " +
                     std::to_string(MostFrames) + ")"),
               false;
    e->span = (int)frames;
    t->resize(n - 3);
    return true;
}

bool Parser::action(const std::vector<Token>& line, size_t at, Event* e, bool timed) {
    std::vector<Token> t = line;
    for (size_t i = at; i < t.size(); ++i) e->written += (i > at ? " " : "") + sim::printable(t[i].text);
    if (!takeSpan(&t, at, e)) return false;
    const Words w{t, at, timed};
    if (const EventWord* event = findEventWord(w.word())) {
        if (!(this->*event->read)(w, e)) return false;
        using K = Event::Kind;
        const bool spans = e->kind == K::PressControl || e->kind == K::Complete || e->kind == K::Answer ||
                           (e->kind == K::Satchel && e->number == 0);
        if (e->span != 1 && !spans)
            return error("\"for N frames\" goes with a press of a control, move, release satchel, complete "
                         "and answer, not with " +
                         quote(w.word())),
                   false;
        return true;
    }
    if (findSetupWord(w.word()))
        return error(quote(w.word()) +
                     " belongs to the setup, before the first timed line, and takes no time"),
               false;
    error("unknown event " + quote(w.word()) + suggestion(w.word(), allWords()));
    return false;
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
            out->settings += key + "=" + value + "\n";
            out->settingsSource += (out->settingsSource.empty() ? "" : " ") + key + "=" + value;
        }
    } else if (settingsFileLine) {
        out->withSettings = true;
    }
    if (!out->events.empty()) out->end = out->events.back().at;
    // Every frame up to the first at or after the end is played; the frames a frames
    // line gives count on top (at most: they stand for some of those).
    int64_t given = 0;
    for (const std::vector<Event>* events : {&out->setup, &out->events})
        for (const Event& e : *events) given += (int64_t)e.lengths.size();
    const int64_t frames = out->end / frameLength(out->fps) + 1 + given;
    if (!out->events.empty()) {
        line = out->events.back().line;
        clockRunsTo(out->end + frameLength(out->fps));
    }
    if (frames > MostFrames && !failed) {
        line = out->events.back().line;
        error("the session of " + formatDuration(out->end) + " at " + std::to_string(out->fps) + " fps is " +
              std::to_string(frames) + " frames" + (given ? " (with those its frames lines give)" : "") +
              ", more than the " + std::to_string(MostFrames) +
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
    // A byte-order mark, as Notepad saves UTF-8, is no part of the first line.
    const std::string_view bom = "\xEF\xBB\xBF";
    const size_t from = errors->size();
    p.run(text.compare(0, bom.size(), bom) == 0 ? text.substr(bom.size()) : text);
    // In line order, those of the whole file last: a line told from a later one (the
    // one that set a clock the session runs past its end) takes its place.
    std::stable_sort(errors->begin() + (std::ptrdiff_t)from, errors->end(),
                     [](const ParseError& a, const ParseError& b) {
                         return (a.line == 0 ? INT32_MAX : a.line) < (b.line == 0 ? INT32_MAX : b.line);
                     });
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
