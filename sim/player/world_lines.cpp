// The world and the player's lines of a written scenario (scenario_writing.h): frame
// after frame, what the game answered is held against what the stand-in world will
// answer, as the lines written so far leave it, and where they differ a line makes
// them agree: in the game's terms where there is one, a raw answer as the last
// resort. What no line can make the world answer is left as it is: the check that
// plays the scenario finds it, and lists it.
#include "player/scenario_writing.h"

#include "player/world_tables.h"

#include "standin/game_hashes.h"
#include "standin/native_table.h"
#include "sim.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace player {

namespace {

const uint32_t Stranger = 0x5A5A5A5A; // the model of `target stranger`

uint32_t bitsOf(float f) {
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return b;
}

float floatOf(uint32_t b) {
    float f;
    memcpy(&f, &b, sizeof f);
    return f;
}

std::string hex32(uint32_t v) {
    char b[16];
    snprintf(b, sizeof b, "0x%08" PRIX32, v);
    return b;
}

// A 32-bit hash argument as --trace writes it: by the game's name, or in hex.
std::string hashArg(uint32_t h) {
    const hashes::Constant* c = hashes::find(h);
    return c ? c->name : hex32(h);
}

// A clock's value as a line writes it: whole seconds, or with the part of a second
// to six places.
std::string decimalText(double v) {
    char b[48];
    snprintf(b, sizeof b, "%.6f", v);
    std::string s = b;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string nativeName(uint64_t hash) {
    const sim::NativeInfo* n = sim::findNative(hash);
    return n ? natives::fullName(*n) : "?";
}

} // namespace

struct WorldLines::Tracker {
    Tracker(const WorldStart& s, LineBook& b, std::vector<LeftOut>& l) : start(s), book(b), leftOut(l) {}

    const WorldStart& start;
    LineBook& book;
    std::vector<LeftOut>& leftOut;

    // The stand-in world as the lines so far leave it (sim::World's defaults first).
    bool mission = false;
    int32_t keyboard = 0, onFoot = 1, aiming = 1, interior = 0, player = 1001, maxHealth = 250;
    uint32_t model = 0x0D7114C9;
    int32_t wheel = 0, passOut = 0;
    int startFrames = 3;
    bool neverStarts = false;
    std::map<uint32_t, bool> loaded;
    std::map<uint32_t, int> loading;
    const int textureLoadFrames = 2;
    // The game clock, advanced as the model advances it, frame by frame.
    int32_t clock = 0;
    double rate = 30.0, carry = 0.0;
    int32_t clockBefore = 0; // before the frame's own advance, and that frame's length
    double carryBefore = 0.0;
    uint32_t lastLength = 0;
    size_t clockReads = 0;
    bool clockFixed = false; // the first reading is through: it decided the clock at the start
    double setupClock = 0;   // the clock at the start
    double parserValue = 0;  // the clock as the reader reckons it, to keep it in its range
    Millis parserFrom = 0;
    double parserPace = 30.0;
    // The target, as the last target line set it up; the player's position.
    bool targeting = false;
    bool bartender = false;
    int32_t saloonOf = 0; // the bartender's saloon
    uint32_t pedModel = 0;
    float tx = 0, ty = 0, tz = 0;
    float px = 0, py = 0, pz = 0;
    bool distanceNaN = false;
    // Lines that last frames (a release, a move, a completion): the line, and the
    // frames it covers, by what they hold.
    struct Span {
        size_t line = 0;
        int64_t from = 0, to = 0;
        uint32_t bits = 0;
        std::string text; // the line without its "for N frames"
    };
    std::map<std::string, Span> spans;
    // A drink's start: the frame it began, and the frames the scenario test said no.
    bool starting = false;
    Millis startAt = 0;
    int zeros = 0;
    // The key test before the frame's, in scenario time (-1: none since the load).
    Millis lastTest = -1;

    // The frame being read.
    const RecordedFrame* f = nullptr;
    const RecordedFrame* before = nullptr;
    Millis at = 0;
    int64_t hostFrame = 0;

    void say(const std::string& text, const std::string& note = std::string()) {
        book.add(at, 1, text, note);
    }
    void leave(const std::string& what) { leftOut.push_back({f->run, f->frame, at, what}); }

    void advance(uint32_t length);
    void advanceClock(uint32_t length);
    void frame(const RecordedFrame& rf, const FrameTime& t, const RecordedFrame* prior);
    void answer(const std::vector<Answered>& all, size_t i);
    void rawAnswer(const Answered& a, const std::string& args, uint64_t value);
    void flag(const Answered& a, int32_t* tracked, const char* on, const char* off, const char* knob);
    void knob(int32_t v, int32_t* tracked, const char* name, const char* note) {
        if (v == *tracked) return;
        say(std::string("set ") + name + " " + std::to_string(v), note);
        *tracked = v;
    }
    void missionFlag(const Answered& a);
    void satchel(const Answered& a);
    void effect(const Answered& a);
    void completion(const Answered& a);
    void scenarioTest(const Answered& a);
    void control(const Answered& a);
    void texture(const std::vector<Answered>& all, size_t i);
    void clockRead(const Answered& a);
    bool clockLine(const char* word, double value, double pace, const std::string& note);
    void interiorAnswer(const Answered& a);
    void target(const std::vector<Answered>& all, size_t i);
    void entityModel(const Answered& a);
    void keyPress();
    void span(const std::string& key, uint32_t bits, const std::string& text);
    bool covered(const std::string& key, uint32_t* bits) const;
};

// One frame of the stand-in world, as game_model.cpp advances it: the clock (whole
// in-game seconds, the rest carried) and the texture dictionaries on their way.
void WorldLines::Tracker::advance(uint32_t length) {
    advanceClock(length);
    for (auto it = loading.begin(); it != loading.end();) {
        if (--it->second > 0) {
            ++it;
            continue;
        }
        loaded[it->first] = true;
        it = loading.erase(it);
    }
    ++hostFrame;
}

void WorldLines::Tracker::advanceClock(uint32_t length) {
    clockBefore = clock;
    carryBefore = carry;
    lastLength = length;
    carry += rate * length / 1000.0;
    const double whole = std::floor(carry);
    if (whole != 0.0) {
        clock = (int32_t)((uint32_t)clock + (uint32_t)(int64_t)whole);
        carry -= whole;
    }
}

void WorldLines::Tracker::frame(const RecordedFrame& rf, const FrameTime& t, const RecordedFrame* prior) {
    f = &rf;
    before = prior;
    at = t.at;
    hostFrame = t.firstHostFrame - 1;
    for (uint32_t length : t.lengths) advance(length);
    if (rf.tested && rf.keyRead) keyPress();
    for (size_t i = 0; i < rf.answers.size(); ++i) answer(rf.answers, i);
    // Effects of the frame's own calls on what the model answers next.
    for (const Answered& a : rf.answers) {
        if (a.hash == natives::SetEntityHealth) maxHealth = (int32_t)a.arg[1];
        if (a.hash == natives::RequestStreamedTextureDict) {
            const uint32_t h = sim::nameHash(a.text.c_str());
            if (!loaded[h] && !loading.count(h)) loading[h] = textureLoadFrames;
        }
    }
    if (rf.tested) lastTest = at;
}

void WorldLines::Tracker::answer(const std::vector<Answered>& all, size_t i) {
    const Answered& a = all[i];
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    switch (a.hash) {
    case natives::GetMissionFlag:
        return missionFlag(a);
    case natives::PlayerPedId:
        return knob(v, &player, "player-handle", "PLAYER_PED_ID's answer");
    case natives::IsUsingKeyboardAndMouse:
        return flag(a, &keyboard, "keyboard", "controller", "keyboard-and-mouse");
    case natives::IsControlJustReleased:
        return satchel(a);
    case natives::AnimpostfxIsRunning:
        return effect(a);
    case natives::IsPedOnFoot:
        if (v == 0 && onFoot != 0)
            say("mount", "IS_PED_ON_FOOT answers 0: on horseback, or dead (the recording says only that)");
        else
            flag(a, &onFoot, "dismount", "mount", "on-foot");
        onFoot = v;
        return;
    case natives::UiPromptHasHoldModeCompleted:
        return completion(a);
    case natives::IsPedUsingScenarioHash:
        return scenarioTest(a);
    case natives::GetHashKey:
        if ((uint32_t)a.result[0] != sim::nameHash(a.text.c_str()))
            rawAnswer(a, "\"" + a.text + "\"", (uint32_t)a.result[0]);
        return;
    case natives::GetControlNormal:
        return control(a);
    case natives::HasStreamedTxdLoaded:
        return texture(all, i);
    case natives::GetSecondsSinceBaseYear:
        return clockRead(a);
    case natives::GetEntityMaxHealth:
        return knob(v, &maxHealth, "max-health", "GET_ENTITY_MAX_HEALTH's answer");
    case natives::IsPlayerFreeAiming:
        return flag(a, &aiming, "aim", "stop-aiming", "free-aiming");
    case natives::GetInteriorFromEntity:
        return interiorAnswer(a);
    case natives::GetPlayerInteractionTargetEntity:
        return target(all, i);
    case natives::GetEntityModel:
        return entityModel(a);
    default:
        return; // a handle, a place or a distance (target()), or no answer
    }
}

// A raw answer, the last resort: for as many frames in a row as the game gave it.
void WorldLines::Tracker::rawAnswer(const Answered& a, const std::string& args, uint64_t value) {
    const sim::NativeInfo* n = sim::findNative(a.hash);
    std::string text = "answer " + nativeName(a.hash) + (args.empty() ? "" : "(" + args + ")") + " ";
    if (n && n->result == 'f')
        text += floatText(floatOf((uint32_t)value));
    else if (n && n->result == 'u')
        text += hex32((uint32_t)value);
    else
        text += std::to_string((int32_t)(uint32_t)value);
    span(text, (uint32_t)value, text);
    book.setNote(spans[text].line, "the last resort: no line in the game's terms gives this answer");
}

// An answer the model gives from a number a line sets: 1 and 0 by their words,
// anything else by the knob.
void WorldLines::Tracker::flag(const Answered& a, int32_t* tracked, const char* on, const char* off,
                               const char* knob) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    if (v == *tracked) return;
    if (v == 1)
        say(on);
    else if (v == 0)
        say(off);
    else
        say(std::string("set ") + knob + " " + std::to_string(v));
    *tracked = v;
}

// The mission flag: the model holds it up from a mission line to its end.
void WorldLines::Tracker::missionFlag(const Answered& a) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    if (&a != &f->answers.front() && a.hash == f->answers.front().hash) return; // the hold's second look
    if (v != 0 && !mission) {
        say("mission");
        mission = true;
    } else if (v == 0 && mission) {
        say("mission-end");
        mission = false;
    }
    if (v != 0 && v != 1) rawAnswer(a, "", (uint32_t)v);
}

// A line that lasts frames: written once, and made to last longer while the
// recording asks for it in the frames that follow.
void WorldLines::Tracker::span(const std::string& key, uint32_t bits, const std::string& text) {
    auto it = spans.find(key);
    if (it != spans.end() && it->second.bits == bits && it->second.text == text &&
        it->second.to + 1 >= hostFrame && it->second.to < hostFrame) {
        it->second.to = hostFrame;
        const int64_t n = it->second.to - it->second.from + 1;
        book.change(it->second.line, text + " for " + std::to_string(n) + " frames");
        return;
    }
    Span s;
    s.line = book.add(at, 1, text);
    s.from = s.to = hostFrame;
    s.bits = bits;
    s.text = text;
    spans[key] = s;
}

bool WorldLines::Tracker::covered(const std::string& key, uint32_t* bits) const {
    auto it = spans.find(key);
    if (it == spans.end() || it->second.to < hostFrame) return false;
    *bits = it->second.bits;
    return true;
}

void WorldLines::Tracker::satchel(const Answered& a) {
    const uint32_t v = (uint32_t)a.result[0];
    if (a.arg[1] != hashes::InputOpenSatchelMenu) {
        if (v != 0) rawAnswer(a, std::to_string((int32_t)a.arg[0]) + ", " + hashArg(a.arg[1]), v);
        return;
    }
    uint32_t held = 0;
    const bool released = covered("satchel", &held);
    if (v == (released ? 1u : 0u)) return;
    if (v == 1) return span("satchel", 1, "release satchel");
    if (v != 0) rawAnswer(a, std::to_string((int32_t)a.arg[0]) + ", " + hashArg(a.arg[1]), v);
}

void WorldLines::Tracker::effect(const Answered& a) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    int32_t* tracked = a.text == sim::WheelEffect     ? &wheel
                       : a.text == sim::PassOutEffect ? &passOut
                                                      : nullptr;
    if (!tracked) {
        if (v != 0) rawAnswer(a, "\"" + a.text + "\"", (uint32_t)v);
        return;
    }
    if (v == *tracked) return;
    const char* knob = tracked == &wheel ? "hud-wheel" : "pass-out-effect";
    if (v == 0 || v == 1)
        say(std::string("set ") + knob + (v ? " on" : " off"));
    else
        rawAnswer(a, "\"" + a.text + "\"", (uint32_t)v);
    *tracked = v == 0 ? 0 : 1;
}

// A prompt completed: the player completes a prompt shown, and the game says so for
// as many frames as the recording does, also once the prompt is gone.
void WorldLines::Tracker::completion(const Answered& a) {
    const int32_t handle = (int32_t)a.arg[0];
    const uint32_t v = (uint32_t)a.result[0];
    const std::string key = "complete " + std::to_string(handle);
    uint32_t bits = 0;
    const bool completed = covered(key, &bits);
    if (v == (completed ? 1u : 0u)) return;
    if (v != 1) return; // the model answers 1 or 0: the check tells the rest
    const ScriptState* s = before && before->stateKnown ? &before->state : nullptr;
    const bool drink = s && s->drinkPromptActive && s->drinkPrompt == handle;
    const bool refill = s && s->refillPromptActive && s->refillPrompt == handle;
    auto it = spans.find(key);
    if (!drink && !refill && (it == spans.end() || it->second.to + 1 != hostFrame)) return; // not shown
    const std::string text = it != spans.end() && !drink && !refill
                                 ? it->second.text
                                 : std::string(drink ? "complete drink-prompt" : "complete refill-prompt");
    span(key, 1, text);
}

// The drinking scenario's test while a drink starts: the frames it answers no are
// the frames the model's scenario takes to start.
void WorldLines::Tracker::scenarioTest(const Answered& a) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    if (!starting) {
        starting = true;
        startAt = at;
        zeros = 0;
    }
    if (v == 0) {
        ++zeros;
        // The plug-in gives up after 5 s: a scenario that never starts.
        if (f->stateKnown && !f->state.drinking) {
            if (!neverStarts) book.add(startAt, 1, "set scenario-never-starts on");
            neverStarts = true;
            starting = false;
        }
        return;
    }
    starting = false;
    if (neverStarts) {
        book.add(startAt, 1, "set scenario-never-starts off");
        neverStarts = false;
    }
    if (zeros != startFrames) {
        book.add(startAt, 1, "set scenario-start-frames " + std::to_string(zeros),
                 "the game ran the drinking scenario " + std::to_string(zeros) + " frames after the start");
        startFrames = zeros;
    }
    if (v != 1) rawAnswer(a, std::to_string(a.arg[0]) + ", " + hashArg(a.arg[1]), (uint32_t)v);
}

// The stop controls: a move, read as the recording has it, for as long as it does.
void WorldLines::Tracker::control(const Answered& a) {
    const uint32_t v = (uint32_t)a.result[0];
    const uint32_t which = a.arg[1];
    const std::string key = "control " + std::to_string(which);
    uint32_t bits = 0;
    if (!covered(key, &bits)) bits = 0;
    if (sim::sameFloat(v, bits)) return;
    const float value = floatOf(v);
    const std::string shown = value == 1.0f ? std::string() : " " + floatText(value);
    if (which == hashes::InputMoveUd)
        span(key, v, "move" + shown);
    else if (which == hashes::InputMoveLr)
        span(key, v, "press stop-alt" + shown);
    else
        span(key, v, "press control " + hex32(which) + shown);
}

// The meters' texture dictionaries: loaded at a drink's start, or not. All four as
// the game has them by a line; one alone by a raw answer.
void WorldLines::Tracker::texture(const std::vector<Answered>& all, size_t i) {
    // The four tests of a start are read together, at the first.
    if (i > 0 && all[i - 1].hash == natives::HasStreamedTxdLoaded) return;
    size_t n = 0, yes = 0, agree = 0;
    for (size_t k = i; k < all.size() && all[k].hash == natives::HasStreamedTxdLoaded; ++k) {
        ++n;
        const bool game = (uint32_t)all[k].result[0] != 0;
        yes += game ? 1 : 0;
        agree += game == loaded[all[k].arg[0]] ? 1 : 0;
    }
    if (agree == n) return;
    if (yes == n || yes == 0) {
        say(std::string("set textures-loaded ") + (yes ? "on" : "off"));
        loaded.clear();
        loading.clear();
        if (yes)
            for (uint32_t h : {hashes::RpgMeter, hashes::Blips, hashes::RpgTextures, hashes::InventoryItems})
                loaded[h] = true;
    }
    for (size_t k = i; k < i + n; ++k) {
        const uint32_t game = (uint32_t)all[k].result[0];
        if ((game != 0) != loaded[all[k].arg[0]] || game > 1) rawAnswer(all[k], hashArg(all[k].arg[0]), game);
    }
}

// The game clock: its pace as the recording's readings show it, and its value
// where the model's would differ. The first value sets the clock at the start.
void WorldLines::Tracker::clockRead(const Answered& a) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    const size_t k = clockReads++;
    const bool known = k < start.clockReads.size();
    const double pace = known ? start.clockPaces[k] : NAN;
    // A line before the frame changes its own advance.
    auto redo = [this] {
        clock = clockBefore;
        carry = carryBefore;
        advanceClock(lastLength);
    };
    // The first reading sets the clock at the start (its pace is the setup's too).
    const bool first = !clockFixed;
    clockFixed = true;
    if (!first && !std::isnan(pace) && pace != rate) {
        if (!clockLine("clock-rate", pace, pace, "")) clockLine("clock-rate", 0, 0, "");
        redo();
    }
    // The readings of the stretch this one begins, as the model would give them from
    // here: the part of a second the clock stands at decides where each whole second
    // falls, and so whether each agrees.
    const size_t end = known ? start.clockStretchEnd[k] : k;
    auto agrees = [&](double part) {
        for (size_t j = k + 1; j <= end && j < start.clockReads.size(); ++j) {
            const double later =
                rate * (double)(start.clockReads[j].first - start.clockReads[k].first) / 1000.0;
            if ((int64_t)v + (int64_t)std::floor(part + later) != start.clockReads[j].second) return false;
        }
        return true;
    };
    if (v == clock && agrees(carry)) return;
    double lo = 0.0, hi = 1.0;
    for (size_t j = k + 1; j <= end && j < start.clockReads.size(); ++j) {
        const double later = rate * (double)(start.clockReads[j].first - start.clockReads[k].first) / 1000.0;
        const double ahead = (double)start.clockReads[j].second - v;
        lo = std::max(lo, ahead - later);
        hi = std::min(hi, ahead + 1.0 - later);
    }
    // The part of a second the model's clock stands at, if it fits; else the middle of
    // those that do.
    const double part = lo <= carry && carry < hi ? carry : lo < hi ? (lo + hi) / 2 : 0.5;
    // What the line writes: the clock before this frame's advance.
    const double advanceOfFrame = rate * lastLength / 1000.0;
    if (first) {
        // The clock at the start, run to here at its pace, stands at v and the part.
        const double setupValue = std::round(((double)v + part - ((double)clock + carry)) * 1e6) / 1e6;
        if (setupValue >= 0 &&
            setupValue + rate * (double)(start.end + start.defaultLength) / 1000.0 <= INT32_MAX) {
            setupClock = setupValue;
            parserValue = setupValue;
            clock = v;
            carry = part;
            return;
        }
    }
    const double wanted = (double)v + part - advanceOfFrame;
    if (wanted < 0 || wanted >= (double)INT32_MAX) return; // outside the clock's range: the check tells it
    char text[48];
    snprintf(text, sizeof text, "%.6f", wanted);
    const std::string note =
        "the game clock reads " + std::to_string(v) + " here; the model's " + std::to_string(clock);
    if (!clockLine("clock", strtod(text, nullptr), parserPace, note)) {
        if (parserPace == 0 || !clockLine("clock-rate", 0, 0, "")) return;
        redo();
        snprintf(text, sizeof text, "%.6f", (double)v + part);
        if (!clockLine("clock", strtod(text, nullptr), 0, note)) return;
    }
    // As the model takes the line: the whole seconds, and the part carried.
    const double set = strtod(text, nullptr);
    clock = (int32_t)std::floor(set);
    carry = set - std::floor(set);
    advanceClock(lastLength);
}

// A clock or clock-rate line, if the reader takes it: the clock it leaves must not
// run past its last second before the session's end.
bool WorldLines::Tracker::clockLine(const char* word, double value, double pace, const std::string& note) {
    const bool isRate = strcmp(word, "clock-rate") == 0;
    const double now = parserValue + parserPace * (double)(at - parserFrom) / 1000.0;
    const double from = isRate ? now : value;
    if (from + pace * (double)(start.end + start.defaultLength - at) / 1000.0 > (double)INT32_MAX)
        return false;
    char b[64];
    if (isRate)
        snprintf(b, sizeof b, "clock-rate %.10g", value);
    else
        snprintf(b, sizeof b, "clock %s", decimalText(value).c_str());
    say(b, note);
    parserValue = from;
    parserFrom = at;
    parserPace = pace;
    if (isRate) rate = value;
    return true;
}

void WorldLines::Tracker::interiorAnswer(const Answered& a) {
    const int32_t v = (int32_t)(uint32_t)a.result[0];
    if ((int32_t)a.arg[0] != player) return; // the model knows only the player's
    if (v == interior) return;
    if (v == 0)
        say("leave");
    else if (const Saloon* s = saloonAt(v))
        say(std::string("enter saloon ") + s->name);
    else
        say("enter interior " + std::to_string(v));
    interior = v;
}

// The targeting query, with what follows it in the frame: the target's model, the
// two places and their distance. A target line when the model's target would be
// another, a position line when the player stands elsewhere.
void WorldLines::Tracker::target(const std::vector<Answered>& all, size_t i) {
    const Answered& q = all[i];
    const int32_t result = (int32_t)(uint32_t)q.result[0];
    if (result == 0 && q.out == 0) {
        if (targeting) say("target none");
        targeting = false;
        return;
    }
    if (result != 1 || q.out == 0) return; // no target line gives it: the check tells
    const int32_t handle = q.out;
    bool haveModel = false, haveTarget = false, havePlayer = false;
    uint32_t m = pedModel;
    float p[3] = {px, py, pz}, b[3] = {tx, ty, tz};
    const Answered* distance = nullptr;
    for (size_t k = i + 1; k < all.size(); ++k) {
        const Answered& a = all[k];
        if (a.hash == natives::GetPlayerInteractionTargetEntity) break;
        if (a.hash == natives::GetEntityModel && (int32_t)a.arg[0] == handle && !haveModel)
            m = (uint32_t)a.result[0], haveModel = true;
        if (a.hash == natives::GetEntityCoords) {
            float* into = (int32_t)a.arg[0] == handle ? b : (int32_t)a.arg[0] == player ? p : nullptr;
            if (into) {
                for (int c = 0; c < 3; ++c) into[c] = floatOf((uint32_t)a.result[c]);
                (into == b ? haveTarget : havePlayer) = true;
            }
        }
        if (a.hash == natives::Vdist && !distance) distance = &a;
    }
    if (!haveModel && !targeting) m = Stranger;
    if (havePlayer &&
        (bitsOf(p[0]) != bitsOf(px) || bitsOf(p[1]) != bitsOf(py) || bitsOf(p[2]) != bitsOf(pz))) {
        say("position " + floatText(p[0]) + " " + floatText(p[1]) + " " + floatText(p[2]));
        px = p[0], py = p[1], pz = p[2];
    }
    if (!haveTarget) {
        // Where the model puts a new target: its distance from the player, along x.
        if (!targeting) b[0] = px + 2.0f, b[1] = py, b[2] = pz;
    }
    const bool same = targeting && m == pedModel && bitsOf(b[0]) == bitsOf(tx) &&
                      bitsOf(b[1]) == bitsOf(ty) && bitsOf(b[2]) == bitsOf(tz);
    if (!same) {
        std::string who;
        const Saloon* here = saloonAt(interior);
        const Saloon* his = nullptr;
        for (const Saloon& s : saloons())
            if (s.bartender == m) his = here && here->bartender == m ? here : &s;
        if (his && his == here)
            who = "target bartender";
        else if (his)
            who = std::string("target bartender of ") + his->name;
        else
            who = m == Stranger ? "target stranger" : "target stranger model " + hex32(m);
        const float d = b[0] - px;
        if (b[1] == py && b[2] == pz && d >= 0 && bitsOf(px + d) == bitsOf(b[0]) &&
            bitsOf(b[1]) == bitsOf(py) && bitsOf(b[2]) == bitsOf(pz))
            who += " at " + floatText(d);
        else
            who += " at " + floatText(b[0]) + " " + floatText(b[1]) + " " + floatText(b[2]);
        say(who);
        targeting = true;
        pedModel = m;
        tx = b[0], ty = b[1], tz = b[2];
    }
    if (!distance) return;
    // The distance as the model works it out from the two places the plug-in passes.
    const uint32_t game = (uint32_t)distance->result[0];
    const double dx = (double)distance->at[3] - distance->at[0],
                 dy = (double)distance->at[4] - distance->at[1],
                 dz = (double)distance->at[5] - distance->at[2];
    const uint32_t model = bitsOf((float)std::sqrt(dx * dx + dy * dy + dz * dz));
    const bool nan = std::isnan(floatOf(game)) && !std::isnan(floatOf(model));
    if (nan != distanceNaN) {
        say(std::string("set distance-nan ") + (nan ? "on" : "off"));
        distanceNaN = nan;
    }
    if (!nan && !sim::sameFloat(game, model)) rawAnswer(*distance, "", game);
}

// The player's model, read for the thanks after a refill.
void WorldLines::Tracker::entityModel(const Answered& a) {
    if ((int32_t)a.arg[0] != player) return; // a target's: target()
    const uint32_t m = (uint32_t)a.result[0];
    if (m == model) return;
    say(m == hashes::PlayerZero    ? std::string("model arthur")
        : m == hashes::PlayerThree ? std::string("model john")
                                   : "model " + hex32(m));
    model = m;
}

// The drink key's entry as the key test read it: a press at its own time, so that
// the test finds it as old as it was, within the frames the press can fall in.
void WorldLines::Tracker::keyPress() {
    const uint32_t age = f->tick - f->keyTick;
    Millis when = at - (Millis)age;
    if (age > 0x7FFFFFFFu) when = at; // read before it was made: as fresh as can be
    if (when <= lastTest) when = lastTest + 1;
    if (when > at) when = at;
    if (when < 0) when = 0;
    // The decision the test makes of it, with the tick counts as they were and as the
    // stand-in world's will be.
    auto taken = [](uint32_t now, uint32_t tick, int32_t seventh) {
        return now < tick + 100u && seventh != 0;
    };
    const uint32_t nowModel = start.tickBase + (uint32_t)at;
    const uint32_t tickModel = start.tickBase + (uint32_t)when;
    if (taken(f->tick, f->keyTick, f->keyFlags[2]) != taken(nowModel, tickModel, f->keyFlags[2]))
        leave("the drink key's entry read by the key test (made " + std::to_string((int32_t)age) +
              " ms before it, seventh value " + std::to_string(f->keyFlags[2]) +
              ") cannot be made by a press that the test takes as it did");
    std::string text = f->key == start.drinkKey ? "press drink-key" : "press key " + std::to_string(f->key);
    if (f->keyFlags[0] != 0 || f->keyFlags[1] != 0 || f->keyFlags[2] != 1)
        text += " with " + std::to_string(f->keyFlags[0]) + " " + std::to_string(f->keyFlags[1]) + " " +
                std::to_string(f->keyFlags[2]);
    book.add(when, 1, text,
             when == at - (Millis)age ? ""
                                      : "read " + std::to_string((int32_t)age) + " ms after it was made");
}

WorldLines::WorldLines(const WorldStart& start, LineBook& book, std::vector<LeftOut>& leftOut)
    : t_(new Tracker(start, book, leftOut)) {
    if (!start.clockPaces.empty() && !std::isnan(start.clockPaces[0])) {
        t_->rate = start.clockPaces[0];
        t_->parserPace = t_->rate;
    }
}

WorldLines::~WorldLines() { delete t_; }

void WorldLines::frame(const RecordedFrame& f, const FrameTime& t, const RecordedFrame* before) {
    t_->frame(f, t, before);
}

void WorldLines::restart(Millis at) {
    Tracker& t = *t_;
    t.book.add(at, 0, "restart");
    // The game starts again outside any mission, with no screen effect, no texture
    // dictionary, no prompt and no scenario of the old run's; the rest stays.
    t.mission = false;
    t.wheel = t.passOut = 0;
    t.loaded.clear();
    t.loading.clear();
    t.starting = false;
    for (auto it = t.spans.begin(); it != t.spans.end();)
        it = it->first.rfind("complete ", 0) == 0 ? t.spans.erase(it) : std::next(it);
    t.lastTest = at - 1;
}

void WorldLines::finish(std::vector<std::string>* setup) {
    const Tracker& t = *t_;
    if (!t.start.clockPaces.empty() && !std::isnan(t.start.clockPaces[0]) && t.start.clockPaces[0] != 30.0) {
        char b[64];
        snprintf(b, sizeof b, "clock-rate %.10g", t.start.clockPaces[0]);
        setup->push_back(b);
    }
    if (t.setupClock != 0) setup->push_back("clock " + decimalText(t.setupClock));
    if (t.start.passOutAsked) setup->push_back("set auto-pass-out off");
}

} // namespace player
