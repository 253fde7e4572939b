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

namespace player {

namespace {

// The game's name of a control or a model the line names, as the timeline adds it
// (" — INPUT_MOVE_UD"); nothing for a hash the game's list does not have.
std::string gameName(int64_t hash) {
    const hashes::Constant* c = hashes::find((uint32_t)hash);
    return c ? std::string(" — ") + c->name : "";
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
    const Millis ahead = std::clamp<Millis>(at - elapsed(), 0, frameMs);
    sim::setTickCount(ticks + (uint32_t)ahead);
    sim::keyEvent((uint32_t)key, 0, 0, 1);
    sim::setTickCount(ticks);
}

// An analogue control reads 1.0 for one frame.
void ScenarioSession::pressControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + gameName(e.number), e.line);
    const uint32_t control = (uint32_t)e.number;
    w().analog[control] = 1.0f;
    afterFrame.push_back([this, control] { w().analog[control] = 0.0f; });
}

// The satchel control reported released: for one frame (a release), or every
// frame until told otherwise (the older hold prompt-control).
void ScenarioSession::satchel(const Event& e, Millis at) {
    const bool keyboard = w().keyboardAndMouse != 0 && e.number != 2;
    say(at, Topic::Action,
        e.written + (keyboard ? " — with keyboard and mouse the drink prompt is left as it is" : ""), e.line);
    w().satchelReleased = e.number == 2 ? 0 : 1;
    if (e.number == 0) afterFrame.push_back([this] { w().satchelReleased = 0; });
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
    // frame only.
    it->second.completed = true;
    afterFrame.push_back([this, handle] {
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
        ped.model = 0x5A5A5A5A;
        ped.promptGroup = 799;
        who = "a stranger";
    }
    ped.x = world.playerX + (float)e.value;
    ped.y = world.playerY;
    ped.z = world.playerZ;
    world.peds[ped.handle] = ped;
    world.target = ped.handle;
    say(at, Topic::Action, e.written + " — " + who + ", " + fixed(e.value, 1) + " away", e.line);
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

void ScenarioSession::clock(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().clock = (int32_t)e.number;
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
        world.effects["WheelHUDIn"] = v;
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
        world.effects[PassOutEffect] = v;
    else if (k == "distance-nan")
        world.distanceIsNaN = v != 0;
}

} // namespace player
