// A scenario's lines done to the world: what each kind of event changes in the
// game model, and what the timeline says of it (scenario_session.h).
#include "player/scenario_session.h"

#include "player/settings_file.h"
#include "player/time_money_text.h"
#include "player/world_tables.h"

#include "standin/game_hashes.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <algorithm>
#include <cmath>

namespace player {

namespace {

// The game's name of a control or a model the line names, as the timeline adds it
// (" — INPUT_MOVE_UD"); nothing for a hash the game's list does not have.
std::string gameName(int64_t hash) {
    const hashes::Constant* c = hashes::find((uint32_t)hash);
    return c ? std::string(" — ") + c->name : "";
}

// The meters' texture dictionaries all loaded (as the game may hold them for its own
// screens), or none: unloaded, they must be asked for again.
void texturesLoaded(sim::World& world, bool on) {
    world.textureLoading.clear();
    world.textureLoaded.clear();
    if (!on) return;
    for (uint32_t dictionary : {hashes::RpgMeter, hashes::Blips, hashes::RpgTextures, hashes::InventoryItems})
        world.textureLoaded[dictionary] = true;
}

} // namespace

void ScenarioSession::apply(const Event& e, Millis at) {
    using K = Event::Kind;
    static const struct {
        K kind;
        void (ScenarioSession::*apply)(const Event& e, Millis at);
    } Appliers[] = {
        {K::PressKey, &ScenarioSession::pressKey},
        {K::PressControl, &ScenarioSession::pressControl},
        {K::Satchel, &ScenarioSession::satchel},
        {K::Complete, &ScenarioSession::complete},
        {K::Mission, &ScenarioSession::mission},
        {K::MissionEnd, &ScenarioSession::missionEnded},
        {K::Die, &ScenarioSession::die},
        {K::Cutscene, &ScenarioSession::cutscene},
        {K::Input, &ScenarioSession::input},
        {K::OnFoot, &ScenarioSession::onFoot},
        {K::Aiming, &ScenarioSession::aiming},
        {K::Enter, &ScenarioSession::enter},
        {K::Leave, &ScenarioSession::leave},
        {K::Target, &ScenarioSession::target},
        {K::Cash, &ScenarioSession::cash},
        {K::Model, &ScenarioSession::model},
        {K::ClockRate, &ScenarioSession::clockRate},
        {K::Clock, &ScenarioSession::clock},
        {K::Knob, &ScenarioSession::knob},
        {K::Position, &ScenarioSession::position},
        {K::FrameTimes, &ScenarioSession::frameTimes},
        {K::Answer, &ScenarioSession::answer},
        {K::Expect, &ScenarioSession::expectLine},
        {K::Restart, &ScenarioSession::restart},
        {K::End, &ScenarioSession::end},
    };
    for (const auto& a : Appliers)
        if (a.kind == e.kind) return (this->*a.apply)(e, at);
}

// The keyboard delivers a press when it happens, between two frames: the press
// carries the system's tick count of its own time, which the next frame's key test
// holds against the 100 ms a press counts for. (The tick count stands at the last
// frame's time, and moves by a frame as the next one begins.)
void ScenarioSession::pressKey(const Event& e, Millis at) {
    const int64_t key = e.number >= 0 ? e.number : (int64_t)(uint32_t)settings().drinkKey;
    say(at, Topic::Action, e.written + (e.number < 0 ? " — " + keyName(key) : ""), e.line);
    const uint32_t ticks = sim::tickCount();
    const Millis ahead = std::clamp<Millis>(at - elapsed(), 0, upcoming);
    sim::setTickCount(ticks + (uint32_t)ahead);
    sim::keyEvent((uint32_t)key, e.keyFlags[0], e.keyFlags[1], e.keyFlags[2]);
    sim::setTickCount(ticks);
}

// An analogue control reads 1.0, or the value written, for its frames.
void ScenarioSession::pressControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + gameName(e.number), e.line);
    const uint32_t control = (uint32_t)e.number;
    w().analog[control] = (float)e.value;
    after(e.span, [this, control] { w().analog[control] = 0.0f; });
}

// The satchel control reported released: for its frames (a release), or every
// frame until told otherwise (the older hold prompt-control).
void ScenarioSession::satchel(const Event& e, Millis at) {
    const bool keyboard = w().keyboardAndMouse != 0 && e.number != 2;
    say(at, Topic::Action,
        e.written + (keyboard ? " — with keyboard and mouse the drink prompt is left as it is" : ""), e.line);
    w().satchelReleased = e.number == 2 ? 0 : 1;
    if (e.number == 0) after(e.span, [this] { w().satchelReleased = 0; });
}

void ScenarioSession::complete(const Event& e, Millis at) {
    const bool drink = e.name == "drink";
    bool shown = drink ? st().drinkPromptActive : st().refillPromptActive;
    int32_t handle = drink ? st().drinkPrompt : st().refillPrompt;
    if (!sim::pluginState()) {
        // A build that keeps its prompts to itself: the newest of the game's live
        // prompts with the label.
        const char* label = drink ? "Drink From Flask" : "Refill Flask";
        for (const auto& [h, p] : w().prompts)
            if (p.alive && p.label == label) handle = h, shown = true;
    }
    auto it = w().prompts.find(handle);
    if (!shown || it == w().prompts.end() || !it->second.alive) {
        say(at, Topic::Warning,
            e.written + ": no " + (drink ? "drink" : "refill") +
                " prompt is shown, so there is nothing to complete",
            e.line);
        return;
    }
    say(at, Topic::Action, e.written, e.line);
    // The player completes it once: the completion test answers yes in the next
    // frame only, or in its frames (also once it is gone).
    it->second.completed = true;
    after(e.span, [this, handle] {
        auto p = w().prompts.find(handle);
        if (p != w().prompts.end()) p->second.completed = false;
    });
}

// A story mission: the game raises its mission flag, which holds the script.
void ScenarioSession::mission(const Event& e, Millis at) {
    sim::World& world = w();
    // The mission before ended at this very time: its end comes first.
    if (world.missionFlag && missionEnd >= 0 && at >= missionEnd) endMission(at);
    say(at, Topic::Action,
        e.written + " — a story mission" +
            (e.duration ? " for " + formatDuration(e.duration) : " until mission-end"),
        e.line);
    if (!world.missionFlag) narrator.missionBegins(at);
    world.missionFlag = true;
    missionEnd = e.duration ? std::max(missionEnd, at + e.duration) : -2;
    if (e.duration) queue.push({at + e.duration, seq++, nullptr});
}

void ScenarioSession::missionEnded(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    endMission(at);
}

// A death outside a mission: the game raises no mission flag; the player is not on
// foot while dead. What else the game answers then is not known: the rest stays.
void ScenarioSession::die(const Event& e, Millis at) {
    say(at, Topic::Action,
        e.written + " — the player dies for " + formatDuration(e.duration) +
            (w().missionFlag ? "" : " (no mission: the mission flag stays down)") +
            "; not on foot while dead",
        e.line);
    if (!w().dead) diedOnFoot = w().onFoot != 0;
    w().dead = true;
    deathEnd = std::max(deathEnd, at + e.duration);
    queue.push({at + e.duration, seq++, nullptr, true});
}

// A cutscene outside a mission: nothing the plug-in asks the game changes.
void ScenarioSession::cutscene(const Event& e, Millis at) {
    say(at, Topic::Action,
        e.written + " — a cutscene plays for " + formatDuration(e.duration) +
            "; outside a mission nothing the plug-in asks changes",
        e.line);
}

void ScenarioSession::input(const Event& e, Millis at) {
    say(at, Topic::Action,
        e.written + (e.number
                         ? " — the player plays with keyboard and mouse: the drink prompt is left as it is"
                         : " — the player plays with a controller"),
        e.line);
    w().keyboardAndMouse = (int32_t)e.number;
}

void ScenarioSession::onFoot(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + (e.number ? " — on foot" : " — on horseback: not on foot"), e.line);
    w().onFoot = (int32_t)e.number;
}

void ScenarioSession::aiming(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + (e.number ? " — the player aims freely" : " — no longer aiming"),
        e.line);
    w().freeAiming = (int32_t)e.number;
}

void ScenarioSession::enter(const Event& e, Millis at) {
    const Saloon* s = saloonAt((int32_t)e.number);
    say(at, Topic::Action,
        e.written + (s ? " — interior " + std::to_string(s->interior) + ", bartender " + s->voice
                       : std::string(" — not a saloon")),
        e.line);
    w().interior = (int32_t)e.number;
}

void ScenarioSession::leave(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().interior = 0;
}

// The player targets a bartender or a stranger, who stands e.value away.
void ScenarioSession::target(const Event& e, Millis at) {
    sim::World& world = w();
    if (e.name == "none") {
        say(at, Topic::Action, e.written, e.line);
        world.target = 0;
        return;
    }
    sim::Ped ped;
    std::string who;
    if (e.name == "bartender") {
        const Saloon* s = saloonAt(e.number ? (int32_t)e.number : world.interior);
        if (!s) {
            say(at, Topic::Warning,
                e.written + ": the player is in no saloon; say which: target bartender of NAME", e.line);
            return;
        }
        ped.handle = 3000 + (int32_t)(s - saloons().data());
        ped.model = s->bartender;
        ped.promptGroup = 700 + (int32_t)(s - saloons().data());
        who = std::string("the bartender of ") + s->name;
    } else {
        ped.handle = 4000;
        ped.model = e.number ? (uint32_t)e.number : 0x5A5A5A5A;
        ped.promptGroup = 799;
        who = "a stranger";
    }
    if (e.placed) {
        ped.x = (float)e.x, ped.y = (float)e.y, ped.z = (float)e.z;
    } else {
        ped.x = world.playerX + (float)e.value;
        ped.y = world.playerY;
        ped.z = world.playerZ;
    }
    world.peds[ped.handle] = ped;
    world.target = ped.handle;
    const double dx = (double)ped.x - world.playerX, dy = (double)ped.y - world.playerY,
                 dz = (double)ped.z - world.playerZ;
    say(at, Topic::Action,
        e.written + " — " + who + ", " + fixed(std::sqrt(dx * dx + dy * dy + dz * dz), 1) + " away", e.line);
}

void ScenarioSession::position(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().playerX = (float)e.x;
    w().playerY = (float)e.y;
    w().playerZ = (float)e.z;
}

// The frames that begin from now on last the lengths given, then the frame rate's.
// Not told: it is the game's timing, not something that happens.
void ScenarioSession::frameTimes(const Event& e, Millis) {
    lengths.assign(e.lengths.begin(), e.lengths.end());
}

// A raw answer of the game, for its frames: the model is not asked meanwhile.
void ScenarioSession::answer(const Event& e, Millis at) {
    say(at, Topic::Action,
        e.written + " — the game's answer as written, for " + std::to_string(e.span) +
            (e.span == 1 ? " frame" : " frames"),
        e.line);
    const int id = ++rawAnswerIds;
    rawAnswers.push_back({(uint64_t)e.number, e.args, e.bits, id});
    w().overrides[(uint64_t)e.number] = [this](const sim::Call& c, uint64_t* r) { return rawAnswer(c, r); };
    after(e.span, [this, id] {
        rawAnswers.erase(std::remove_if(rawAnswers.begin(), rawAnswers.end(),
                                        [id](const RawAnswer& a) { return a.id == id; }),
                         rawAnswers.end());
    });
}

namespace {

// A call's arguments as --trace writes them, without blanks: "0,INPUT_MOVE_UD".
std::string argumentsOf(const sim::Call& c) {
    const std::string line = sim::describe(c);
    const size_t open = line.find('(');
    const size_t arrow = line.rfind(") -> ");
    const size_t close = arrow != std::string::npos ? arrow : line.rfind(')');
    std::string out;
    if (open == std::string::npos || close == std::string::npos || close < open) return out;
    for (size_t i = open + 1; i < close; ++i)
        if (line[i] != ' ') out += line[i];
    return out;
}

} // namespace

// The newest raw answer in force for the call, if any.
bool ScenarioSession::rawAnswer(const sim::Call& c, uint64_t* result) {
    std::string args;
    bool argsRead = false;
    for (auto it = rawAnswers.rbegin(); it != rawAnswers.rend(); ++it) {
        if (it->hash != c.hash) continue;
        if (!it->args.empty()) {
            if (!argsRead) args = argumentsOf(c), argsRead = true;
            if (args != it->args) continue;
        }
        result[0] = it->bits;
        return true;
    }
    return false;
}

void ScenarioSession::cash(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().cash = e.number;
}

void ScenarioSession::model(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + gameName(e.number), e.line);
    w().playerModel = (uint32_t)e.number;
}

void ScenarioSession::clockRate(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().clockPerSecond = e.value;
}

// The clock set: to a whole second, or to the part of one written.
void ScenarioSession::clock(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().clock = (int32_t)e.number;
    w().clockCarry = e.value;
}

// set KNOB VALUE: the knobs of world_tables.h, each a part of the game model.
void ScenarioSession::knob(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    sim::World& world = w();
    const std::string& k = e.name;
    const int32_t v = (int32_t)e.value;
    if (k == "on-foot")
        world.onFoot = v;
    else if (k == "keyboard-and-mouse")
        world.keyboardAndMouse = v;
    else if (k == "hud-wheel")
        world.effects[sim::WheelEffect] = v;
    else if (k == "free-aiming")
        world.freeAiming = v;
    else if (k == "scenario-start-frames")
        world.scenarioStartFrames = v;
    else if (k == "scenario-never-starts")
        world.scenarioNeverStarts = v != 0;
    else if (k == "texture-load-frames")
        world.textureLoadFrames = v;
    else if (k == "auto-pass-out")
        world.autoPassOut = v != 0;
    else if (k == "pass-out-after")
        world.passOutAfterMs = (uint32_t)e.value;
    else if (k == "pass-out-duration")
        world.passOutDurationMs = (uint32_t)e.value;
    else if (k == "pass-out-effect")
        world.effects[sim::PassOutEffect] = v;
    else if (k == "distance-nan")
        world.distanceIsNaN = v != 0;
    else if (k == "player-handle")
        world.playerPed = v;
    else if (k == "max-health")
        world.playerValue = v;
    else if (k == "textures-loaded")
        texturesLoaded(world, v != 0);
}

} // namespace player
