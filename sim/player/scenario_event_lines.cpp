// The events' lines of a scenario: what each event's words say, into an Event
// (the reader's other parts are in scenario_parser.cpp).
#include "player/scenario_parser.h"

#include "standin/printable_text.h"
#include "player/world_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace player {

namespace {

// The farthest a target may stand, and the fastest game clock: far past any the
// game has, and small enough for the model's float and integer arithmetic.
const double MostDistance = 1e6;
const double MostClockRate = 1e6;

std::string fixedNumber(double v) {
    char b[32];
    snprintf(b, sizeof b, "%.0f", v);
    return b;
}

} // namespace

bool Parser::needsTime(const Words& w, const Event& e) {
    if (!w.timed) error(quote(w.word()) + " needs a time, as in \"0:05 " + e.written + "\"");
    return w.timed;
}

// press, hold and release: keys, the stop controls and the satchel control.
bool Parser::press(const Words& w, Event* e) {
    const std::string& word = w.word();
    const std::string usage = word == "press" ? "press drink-key | key CODE | stop | stop-alt | control HASH"
                              : word == "release" ? "release satchel"
                                                  : word + " prompt-control";
    if (w.count() < 1) return error("missing what to " + word + ": " + quote(usage)), false;
    if (!needsTime(w, *e)) return false;
    if (word == "press") return pressWhat(w, usage, e);
    e->kind = Event::Kind::Satchel;
    if (word == "release" && w.arg(0) == "satchel" && w.count() == 1) return e->number = 0, true;
    // The older spellings: the satchel control's release reported every frame, and
    // no longer.
    if (w.arg(0) != "prompt-control" || w.count() != 1) return error("write " + quote(usage)), false;
    e->number = word == "hold" ? 1 : 2;
    return true;
}

bool Parser::pressWhat(const Words& w, const std::string& usage, Event* e) {
    using K = Event::Kind;
    const std::string& what = w.arg(0);
    const size_t n = w.count();
    if (what == "drink-key" && (n == 1 || n == 5)) {
        e->kind = K::PressKey;
        e->number = -1;
        return n == 1 || keyFlags(w, 1, e);
    }
    if (what == "key" && (n == 2 || n == 6)) {
        e->kind = K::PressKey;
        if (!parseKey(w.arg(1), &e->number))
            return error("bad key " + quote(w.arg(1)) + " (a key code such as 79, or a letter such as O)"),
                   false;
        return n == 2 || keyFlags(w, 2, e);
    }
    if (const NamedHash* stop = findStopControl(what); stop && (n == 1 || n == 2)) {
        e->kind = K::PressControl;
        e->number = stop->hash;
        return controlValue(w, 1, what.c_str(), e);
    }
    if (what == "control" && (n == 2 || n == 3)) {
        e->kind = K::PressControl;
        if (!parseInteger(w.arg(1), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
            return error("bad control hash " + quote(w.arg(1)) + " (as in 0xFDA83190)"), false;
        return controlValue(w, 2, "the control", e);
    }
    if (what == "prompt-control" && n == 1) { // the older spelling of "release satchel"
        e->kind = K::Satchel;
        e->number = 0;
        return true;
    }
    return error("cannot press " + quote(what) + ": write " + quote(usage) + " (or \"release satchel\")"),
           false;
}

// "with F S T": the keyboard event's fifth, sixth and seventh values, as the keyboard
// hands them over (the key test takes a press only when the seventh is not 0).
bool Parser::keyFlags(const Words& w, size_t from, Event* e) {
    if (w.arg(from) != "with")
        return error("write \"with F S T\" after the key: the keyboard event's fifth, sixth and seventh "
                     "values, as in \"press drink-key with 0 1 1\""),
               false;
    for (int k = 0; k < 3; ++k) {
        int64_t v = 0;
        if (!parseInteger(w.arg(from + 1 + k), &v) || v < INT32_MIN || v > INT32_MAX)
            return error("bad value " + quote(w.arg(from + 1 + k)) +
                         " for the keyboard event (a whole number)"),
                   false;
        e->keyFlags[k] = (int32_t)v;
    }
    return true;
}

// What a pressed control reads: 1.0, or the value written after it (a stick read
// between two values, -1.0 the other way; "nan" for a reading that is not a number).
bool Parser::controlValue(const Words& w, size_t k, const char* what, Event* e) {
    e->value = 1.0;
    if (k >= w.count()) return true;
    const std::string& text = w.arg(k);
    if (text == "nan") {
        e->value = std::nan("");
        return true;
    }
    if (!parseReal(text, &e->value) || std::fabs(e->value) > 3.4e38)
        return error("bad value " + quote(text) + " for " + what +
                     " (what the control reads, as in 0.5 or -1; nan for no number)"),
               false;
    return true;
}

// move [VALUE]: the player moves (forward) for a frame, INPUT_MOVE_UD at 1.0 or VALUE.
bool Parser::move(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 1, "move [VALUE]") || !needsTime(w, *e)) return false;
    e->kind = Event::Kind::PressControl;
    e->number = findStopControl("stop")->hash;
    return controlValue(w, 0, "move", e);
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

// mission (out-of-play, its older spelling), die and cutscene: each for a while.
bool Parser::spell(const Words& w, Event* e) {
    using K = Event::Kind;
    const std::string& word = w.word();
    const bool optional = word != "cutscene";
    if (!needArgs(w.t, w.at, optional ? 0 : 1, 1,
                  (word + (optional ? " [DURATION]" : " DURATION")).c_str()) ||
        !needsTime(w, *e))
        return false;
    e->kind = word == "die" ? K::Die : word == "cutscene" ? K::Cutscene : K::Mission;
    e->name = word == "die" ? "death" : word == "cutscene" ? "cutscene" : "mission";
    e->duration = word == "die" ? 10000 : 0;
    const TimeText read = w.count() == 1 ? readTime(w.arg(0), &e->duration) : TimeText::Ok;
    if (read == TimeText::TooLong) return withinSession(word + " " + quote(w.arg(0)), LongestSession + 1);
    if (read == TimeText::Bad)
        return error("bad duration " + quote(w.arg(0)) + " (as in 10s or 0:30)"), false;
    // Nothing of no length can be seen: a mission's flag would never be up at a frame.
    if (w.count() == 1 && e->duration == 0)
        return error(word + " " + sim::printable(w.arg(0)) + " lasts no time: give it a length, as in " +
                     word + " 5s" +
                     (e->kind == K::Mission ? ", or none for a mission until mission-end"
                      : e->kind == K::Die   ? ", or none for a death of 10 s"
                                            : "")),
               false;
    return withinSession(word + " " + formatDuration(e->duration), e->duration);
}

// mission-end, and back-in-play, its older spelling.
bool Parser::missionEnd(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 0, 0, w.word().c_str()) || !needsTime(w, *e)) return false;
    e->kind = Event::Kind::MissionEnd;
    return true;
}

// The player's input and stance, at the start or at a time: keyboard, controller,
// mount, dismount, aim, stop-aiming.
bool Parser::player(const Words& w, Event* e) {
    using K = Event::Kind;
    static const struct {
        const char* word;
        K kind;
        int number;
    } Stances[] = {
        {"keyboard", K::Input, 1},  {"controller", K::Input, 0}, {"mount", K::OnFoot, 0},
        {"dismount", K::OnFoot, 1}, {"aim", K::Aiming, 1},       {"stop-aiming", K::Aiming, 0},
    };
    if (!needArgs(w.t, w.at, 0, 0, w.word().c_str())) return false;
    for (const auto& s : Stances) {
        if (w.word() != s.word) continue;
        e->kind = s.kind;
        e->number = s.number;
    }
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
        "target bartender [of SALOON] [at DISTANCE | at X Y Z] | target stranger [model HASH] "
        "[at DISTANCE | at X Y Z] | target none";
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

// The optional "of SALOON" (a bartender) or "model HASH" (a stranger), and "at
// DISTANCE" or "at X Y Z" of a target line.
bool Parser::targetPlace(const Words& w, const char* usage, Event* e) {
    const size_t n = w.count();
    size_t k = 1;
    if (k < n && w.arg(k) == "of") {
        if (e->name != "bartender" || k + 1 >= n) return error(std::string("write \"") + usage + "\""), false;
        const Saloon* s = findSaloon(w.arg(k + 1));
        if (!s) return error("unknown saloon " + quote(w.arg(k + 1))), false;
        e->number = s->interior;
        k += 2;
    } else if (k < n && w.arg(k) == "model") {
        if (e->name != "stranger" || k + 1 >= n) return error(std::string("write \"") + usage + "\""), false;
        if (!parseInteger(w.arg(k + 1), &e->number) || e->number < 0 || e->number > 0xFFFFFFFFll)
            return error("bad model " + quote(w.arg(k + 1)) + " (a model hash such as 0x1234ABCD)"), false;
        k += 2;
    }
    if (k < n && w.arg(k) == "at") ++k;
    if (k + 3 == n) return place(w, k, e);
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

// X Y Z from the k-th argument on: a place in the world, each within MostDistance
// of its middle.
bool Parser::place(const Words& w, size_t k, Event* e) {
    double* xyz[3] = {&e->x, &e->y, &e->z};
    for (int i = 0; i < 3; ++i) {
        if (!parseReal(w.arg(k + (size_t)i), xyz[i]) || std::fabs(*xyz[i]) > MostDistance)
            return error("bad coordinate " + quote(w.arg(k + (size_t)i)) + " (world units, at most " +
                         fixedNumber(MostDistance) + " from the middle of the world)"),
                   false;
    }
    e->placed = true;
    return true;
}

// position X Y Z: where the player stands (the start: 0 0 0).
bool Parser::position(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 3, 3, "position X Y Z")) return false;
    e->kind = Event::Kind::Position;
    return place(w, 0, e);
}

// frames LENGTH ...: the frames that begin at the line's time or later last these
// many milliseconds, one after the other (LENGTH*N for N of them); then the frame
// rate's again. A frame of 0 ms is one in which the game timer stands still.
bool Parser::frameTimes(const Words& w, Event* e) {
    if (w.count() < 1)
        return error("write the frames' lengths in milliseconds, as in \"frames 16 17 33*4\""), false;
    e->kind = Event::Kind::FrameTimes;
    for (size_t k = 0; k < w.count(); ++k) {
        const std::string& item = w.arg(k);
        const size_t star = item.find('*');
        int64_t length = 0, count = 1;
        if (!parseInteger(item.substr(0, star), &length) || length < 0 || length > LongestSession ||
            (star != std::string::npos && (!parseInteger(item.substr(star + 1), &count) || count < 1)))
            return error("bad frame length " + quote(item) + " (milliseconds, as in 33, or 33*4 for four)"),
                   false;
        framesGiven += count;
        if (framesGiven > MostFrames)
            return error("the frames lines give more than the " + std::to_string(MostFrames) +
                         " frames a session may play"),
                   false;
        e->lengths.insert(e->lengths.end(), (size_t)count, (uint32_t)length);
    }
    return true;
}

namespace {

// The natives a raw answer may stand for: those the model answers with a number and
// nothing else. Why not, for the others.
const char* unanswerable(const natives::Native& n) {
    switch (n.hash) {
    case natives::GetGameTimer:
        return "the game timer is the session's clock: give the frames' lengths (frames)";
    case natives::PlayerPedId:
        return "the player's handle is set with \"set player-handle N\"";
    case natives::UiPromptRegisterBegin:
    case natives::UiPromptGetGroupIdForTargetEntity:
    case natives::GetPlayerInteractionTargetEntity:
        return "it gives a handle, the game's name for a thing: target and the prompts make them";
    default:
        break;
    }
    if (n.result == 'P') return "it answers a place: use position and \"target ... at X Y Z\"";
    if (n.result != 'i' && n.result != 'u' && n.result != 'f') return "it gives no answer to set";
    return nullptr;
}

} // namespace

// answer NAMESPACE::NAME[(ARGUMENTS)] VALUE [for N frames]: the last resort, a raw
// answer of the game where no line in the game's terms gives it.
bool Parser::answer(const Words& w, Event* e) {
    const char* usage = "answer NAMESPACE::NAME[(ARGUMENTS)] VALUE [for N frames]";
    if (w.count() < 2 || !needsTime(w, *e)) {
        if (w.count() < 2) error(std::string("write \"") + usage + "\"");
        return false;
    }
    // The name, and its arguments as --trace writes them (blanks in them split words).
    std::string called = w.arg(0);
    size_t k = 1;
    if (called.find('(') != std::string::npos)
        while (called.back() != ')' && k < w.count()) called += w.arg(k++);
    if (k + 1 != w.count()) return error(std::string("write \"") + usage + "\""), false;
    const size_t open = called.find('(');
    const std::string name = called.substr(0, open);
    if (open != std::string::npos) {
        if (called.back() != ')') return error("the arguments of " + quote(name) + " end with \")\""), false;
        for (char c : called.substr(open + 1, called.size() - open - 2))
            if (c != ' ') e->args += c;
    }
    const natives::Native* native = nullptr;
    std::vector<std::string> names;
    for (const natives::Native& n : natives::Table) {
        names.push_back(natives::fullName(n));
        if (names.back() == name) native = &n;
    }
    if (!native) return error("no native " + quote(name) + suggestion(name, names)), false;
    if (const char* why = unanswerable(*native))
        return error("no raw answer for " + name + ": " + why), false;
    e->kind = Event::Kind::Answer;
    e->number = (int64_t)native->hash;
    e->name = name;
    return answerValue(*native, w.arg(k), e);
}

// The value of a raw answer, as the native's result is read: a float's bits or a
// 32-bit integer's.
bool Parser::answerValue(const natives::Native& n, const std::string& text, Event* e) {
    if (n.result == 'f') {
        double v = 0;
        if (text == "nan")
            v = std::nan("");
        else if (!parseReal(text, &v) || std::fabs(v) > 3.4e38)
            return error("bad value " + quote(text) + " for " + e->name + " (a number, as in 2.5)"), false;
        const float f = (float)v;
        uint32_t bits = 0;
        memcpy(&bits, &f, sizeof bits);
        e->bits = bits;
        e->value = v;
        return true;
    }
    int64_t v = 0;
    if (!parseInteger(text, &v) || v < INT32_MIN || v > 0xFFFFFFFFll)
        return error("bad value " + quote(text) + " for " + e->name +
                     " (a whole number, or 0x.. for a hash)"),
               false;
    e->bits = (uint32_t)v;
    e->value = (double)v;
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
        return error("bad number " + quote(w.arg(0)) + " for clock-rate (in-game seconds a second, at most " +
                     fixedNumber(MostClockRate) + ")"),
               false;
    return true;
}

// clock N (in-game seconds since 1898), or clock 1898-06-01 [14:30].
bool Parser::clock(const Words& w, Event* e) {
    if (!needArgs(w.t, w.at, 1, 2, "clock 5000 | clock 1898-06-01 14:30")) return false;
    e->kind = Event::Kind::Clock;
    if (w.count() == 2 || w.arg(0).find('-', 1) != std::string::npos) return clockDate(w, e);
    // Whole seconds, or with the part of a second the clock stands at (127.25).
    double seconds = 0;
    if (!parseInteger(w.arg(0), &e->number)) {
        if (!parseReal(w.arg(0), &seconds) || w.arg(0).find_first_of("eE") != std::string::npos)
            return error("bad number " + quote(w.arg(0)) +
                         " for the game clock (in-game seconds since 1898)"),
                   false;
        e->number = (int64_t)std::floor(std::clamp(seconds, -1e10, 1e10));
        e->value = seconds - std::floor(seconds);
    }
    if (e->number < INT32_MIN || e->number > INT32_MAX)
        return error("bad number " + quote(w.arg(0)) + " for the game clock (in-game seconds since 1898)"),
               false;
    return clockInRange(quote(w.arg(0)), e->number);
}

// The game clock counts from the start of 1898 up to the last second its 32 bits
// hold: a value outside would stop sobering for good (the clock wraps, and the
// plug-in's deadline is never reached again).
bool Parser::clockInRange(const std::string& written, int64_t seconds) {
    if (seconds >= 0 && seconds <= INT32_MAX) return true;
    return error("the game clock cannot show " + written + " (it runs from " + formatGameClock(0) + " to " +
                 formatGameClock(INT32_MAX) + ")"),
           false;
}

bool Parser::clockDate(const Words& w, Event* e) {
    const std::string when = w.arg(0) + (w.count() == 2 ? " " + w.arg(1) : std::string());
    if (!parseGameDate(w.arg(0), w.count() == 2 ? w.arg(1) : std::string(), &e->number))
        return error("bad date " + quote(when) + " for the game clock (as in 1898-06-01 14:30)"), false;
    return clockInRange(quote(when), e->number);
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

} // namespace player
