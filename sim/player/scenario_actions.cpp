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
        {K::PromptControl, &ScenarioSession::promptControl},
        {K::Complete, &ScenarioSession::complete},
        {K::OutOfPlay, &ScenarioSession::outOfPlay},
        {K::BackInPlay, &ScenarioSession::backInPlay},
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

void ScenarioSession::pressKey(const Event& e, Millis at) {
    const int64_t key = e.number >= 0 ? e.number : (int64_t)(uint32_t)settings().drinkKey;
    say(at, Topic::Action, e.written + (e.number < 0 ? " — " + keyName(key) : ""), e.line);
    sim::keyEvent((uint32_t)key, 0, 0, 1);
}

// An analogue control reads 1.0 for one frame.
void ScenarioSession::pressControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written + gameName(e.number), e.line);
    const uint32_t control = (uint32_t)e.number;
    w().analog[control] = 1.0f;
    afterFrame.push_back([this, control] { w().analog[control] = 0.0f; });
}

void ScenarioSession::promptControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().promptControl = e.number == 2 ? 0 : 1;
    if (e.number == 0) afterFrame.push_back([this] { w().promptControl = 0; });
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

void ScenarioSession::outOfPlay(const Event& e, Millis at) {
    sim::World& world = w();
    const std::string what = e.name == "death"      ? "the player dies"
                             : e.name == "cutscene" ? "a cutscene plays"
                                                    : "out of play";
    say(at, Topic::Action,
        e.written + " — " + what +
            (e.duration ? " for " + formatDuration(e.duration) : " until back-in-play"),
        e.line);
    if (!world.outOfPlay) narrator.spellBegins(at, e.name);
    world.outOfPlay = true;
    spellEnd = e.duration ? std::max(spellEnd, at + e.duration) : -2;
    if (e.duration) queue.push({at + e.duration, seq++, nullptr});
}

void ScenarioSession::backInPlay(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    endSpell(at);
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
    if (k == "player-condition")
        world.playerCondition = v;
    else if (k == "first-guard")
        world.firstGuard = v;
    else if (k == "hud-wheel")
        world.effects["WheelHUDIn"] = v;
    else if (k == "deadeye-condition")
        world.deadeyeCondition = v;
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
