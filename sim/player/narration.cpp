#include "player/narration.h"

#include "standin/native_table.h"
#include "standin/printable_text.h"
#include "player/time_money_text.h"
#include "player/world_tables.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace player {

namespace {

const char* const DrinkLabel = "Drink From Flask";

std::string sips(int n) { return std::to_string(n) + (n == 1 ? " sip" : " sips"); }

} // namespace

void tell(const PlayOptions& options, Millis at, Topic topic, const std::string& text, int line, bool failed,
          int frame) {
    Entry e;
    e.at = at;
    e.topic = topic;
    e.text = text;
    e.line = line;
    e.failed = failed;
    e.frame = frame;
    if (options.onEntry) options.onEntry(e);
}

std::string quoted(const std::string& s) { return "\"" + sim::printable(s, true) + "\""; }

std::string fixed(double v, int places) {
    char b[64];
    snprintf(b, sizeof b, "%.*f", places, v);
    return b;
}

std::string readSave(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    *exists = (bool)in;
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Narrator::say(Millis at, Topic t, const std::string& text, Fact fact, int64_t value,
                   const std::string& detail, int line) {
    if (!opt.onEntry) return;
    Entry e;
    e.at = at;
    e.topic = t;
    e.text = text;
    e.line = line;
    e.frame = telling >= 0 ? telling : res->frames + 1;
    e.fact = fact;
    e.value = value;
    e.detail = detail;
    opt.onEntry(e);
}

void Narrator::begin(const FrameState& state) {
    last = state;
    told = state;
}

void Narrator::frame(const FrameSnapshot& f) {
    const FrameState before = last;
    const FrameState& now = f.state;
    last = now;
    telling = f.played;
    const bool startedNow = !scriptStarted && (f.calls.tick || f.calls.heldQuery);
    const bool resetNow = (f.calls.heldQuery && !held) || (!now.passedOut && before.passedOut);
    if (startedNow) tellStart(f);
    tellHold(f, before);
    tellNewPrompts(f);
    tellWithdrawn(f, before);
    tellFlickerEnded(f);
    tellDrinks(f, before);
    if (now.deadeye != before.deadeye && scriptStarted) tellDeadeye(f, before, startedNow, resetNow);
    tellPassOut(f, before);
    if (refilling && (f.calls.tick || f.calls.heldQuery) && !f.calls.controlTaken) {
        // A new pass of the script: the service ended with the frame before, unseen.
        telling = lastPlayed;
        tellServed(lastAt, f.stateKnown);
        telling = f.played;
    }
    tellServiceStart(f, before);
    tellService(f, before);
    // The service's last frame ends in its last look at the game timer: the frames
    // before it end in the meters drawn while it waits.
    if (refilling && refillChargeSeen && f.calls.lastNative == natives::GetGameTimer)
        tellServed(f.at, f.stateKnown);

    // The levels: a line when they are worth telling, a sample when they change.
    if (f.calls.healing >= 0) healingNormal = f.calls.healing == 1;
    if (f.calls.clockRead) clockKnown = true, clock = f.calls.clock;
    const int64_t sec = f.at / 1000;
    busy = busy || now.drinking || refilling;
    tellLevels(f.at, sec != second);
    second = sec;
    if (startedNow || now.global != before.global || now.intake != before.intake ||
        now.drunk != before.drunk || now.flask != before.flask)
        sample(f.at);
    takeHud(f);
    lastAt = f.at;
    lastPlayed = f.played;
    telling = -1;
}

void Narrator::tellStart(const FrameSnapshot& f) {
    scriptStarted = true;
    bool exists = false;
    const std::string save = readSave(f.saveFile, &exists);
    if (!f.stateKnown) {
        say(f.at, Topic::Start,
            std::string("script started") +
                (exists ? " (save file " + quoted(save) + ")" : " (no save file)") +
                "; this build of the plug-in does not export its state: its flask, levels, drinks and "
                "prompts "
                "are not known, only its calls");
        told = f.state;
        return;
    }
    say(f.at, Topic::Start,
        "script started: flask " + std::to_string(f.state.flask) +
            (exists ? " (save file " + quoted(save) + ")" : " (no save file: a full flask)"));
    told = f.state;
}

// The script's hold for a mission, as its calls show it: from the first look that
// finds the mission flag up to the look that finds it down again.
void Narrator::tellHold(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    if (f.calls.heldQuery && !held) {
        held = true;
        heldSince = f.at;
        ++res->counts.holds;
        if (missionOpen) missionSeen = true;
        if (before.intake || before.drunk)
            say(f.at, Topic::Mission,
                "mission flag up: script held; intoxication reset (intake " + std::to_string(before.intake) +
                    " → 0, drunk " + std::to_string(before.drunk) + " → 0)",
                Fact::HoldStarted);
        else
            say(f.at, Topic::Mission, "mission flag up: script held; intoxication reset", Fact::HoldStarted);
        told.intake = now.intake;
        told.drunk = now.drunk;
    }
    if (held && f.calls.missionLast == 0) {
        held = false;
        say(f.at, Topic::Mission,
            "the script sees the mission flag down after " + formatDuration(f.at - heldSince) +
                " held; it runs again from the next frame" + (now.drinking ? "; still drinking" : ""),
            Fact::HoldEnded);
    }
}

// Prompts created in the frame.
void Narrator::tellNewPrompts(const FrameSnapshot& f) {
    for (int32_t h : f.newPrompts) {
        const PromptSeen* p = f.prompt(h);
        if (!p) continue;
        PromptNoise& noise = p->label == DrinkLabel ? drinkNoise : refillNoise;
        if (p->alive)
            tellPrompt(f, p->label, noise, "shown", Fact::PromptShown, h);
        else
            tellPrompt(f, p->label, noise,
                       f.calls.completedPrompt(h) ? "shown and completed at once"
                                                  : "shown and withdrawn at once",
                       Fact::PromptShownAndGone, h);
    }
}

// Why the drink prompt went: its control, the mission's hold (nothing could use or
// hide it while the script holds), a drink's start, or a trigger that started none
// (the drink key while drinking or on horseback).
std::string Narrator::withdrawnWhy(const FrameSnapshot& f, const FrameState& before) {
    if (f.calls.heldQuery && !f.calls.tick) return " by the mission's hold";
    if (f.calls.promptToggled) return " by its control";
    if (f.calls.drinkStart || (f.state.drinking && !before.drinking)) return "";
    return " by the drink key";
}

// Prompts shown before the frame and withdrawn in it.
void Narrator::tellWithdrawn(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    auto withdrawn = [&](bool was, bool is, int32_t handle, PromptNoise& noise, const std::string& why) {
        if (!was || is) return;
        if (f.isNewPrompt(handle)) return; // told with the new ones
        const PromptSeen* p = f.prompt(handle);
        const std::string label = p ? p->label : std::string("prompt");
        const bool completed = f.calls.completedPrompt(handle);
        tellPrompt(f, label, noise, completed ? "completed" : "withdrawn" + why,
                   completed ? Fact::PromptCompleted : Fact::PromptWithdrawn, handle);
    };
    withdrawn(before.drinkPrompt, now.drinkPrompt, before.drinkPromptHandle, drinkNoise,
              withdrawnWhy(f, before));
    withdrawn(before.refillPrompt, now.refillPrompt, before.refillPromptHandle, refillNoise,
              f.target == 0 ? " (no target)" : " (the target is not this saloon's bartender)");
}

void Narrator::tellPrompt(const FrameSnapshot& f, const std::string& label, PromptNoise& noise,
                          const std::string& text, Fact fact, int32_t handle) {
    noise.run = f.hostFrame - noise.lastFrame <= 1 ? noise.run + 1 : 1;
    noise.lastFrame = f.hostFrame;
    if (noise.run > 2) {
        ++noise.suppressed;
        return;
    }
    say(f.at, Topic::Prompt, "\"" + label + "\" " + text, fact, handle, label);
}

// Flicker that ended: told once.
void Narrator::tellFlickerEnded(const FrameSnapshot& f) {
    for (auto* n : {&drinkNoise, &refillNoise}) {
        if (n->suppressed > 0 && f.hostFrame - n->lastFrame > 1) {
            const bool drink = n == &drinkNoise;
            tellFlicker(f.at, drink,
                        (drink ? f.state.drinkPrompt : f.state.refillPrompt) ? "now shown" : "now hidden");
        }
    }
}

void Narrator::tellFlicker(Millis at, bool drink, const char* after) {
    PromptNoise& n = drink ? drinkNoise : refillNoise;
    const char* label = drink ? DrinkLabel : "Refill Flask";
    say(at, Topic::Prompt,
        std::string("\"") + label + "\" toggled " + std::to_string(n.suppressed) +
            " more times, once a frame" + (drink ? " (its control was held)" : "") + "; " + after,
        Fact::PromptFlicker, n.suppressed, label);
    n.suppressed = 0;
}

// A drink is told from the start of its scenario, so that one started and stopped
// in the same frame is told too.
void Narrator::tellDrinks(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    const bool started = f.calls.drinkStart || (now.drinking && !before.drinking);
    if (started) tellDrinkStarted(f, before);
    const bool runs = f.calls.scenarioUsing || (now.drinking && now.scenarioRunning);
    if ((started || before.drinking) && runs && !drinkScenarioSeen) {
        drinkScenarioSeen = true;
        say(f.at, Topic::Drink, "the drinking scenario runs; sips count from " + formatTime(f.sipStart));
    }
    if (now.nextSipTime != before.nextSipTime) {
        ++res->counts.sips;
        ++drinkSips;
        ++secondSips;
    }
    if (!now.drinking && (before.drinking || started)) tellDrinkStopped(f);
}

void Narrator::tellDrinkStarted(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    const bool byPrompt =
        f.calls.completedPrompt(before.drinkPromptHandle) || f.calls.completedPrompt(now.drinkPromptHandle);
    ++res->counts.drinks;
    ++(byPrompt ? res->counts.drinksByPrompt : res->counts.drinksByKey);
    drinkStart = f.at;
    drinkLabel = byPrompt ? "drink (prompt)" : "drink (key)";
    drinkSips = 0;
    drinkFlask = before.flask;
    // Running at the first test: the start waited no frame.
    const bool atOnce = f.calls.scenarioUsing || now.scenarioRunning;
    drinkScenarioSeen = atOnce;
    say(f.at, Topic::Drink,
        std::string("drink started by the ") + (byPrompt ? "prompt" : "drink key") +
            (atOnce ? "" : "; waiting for the drinking scenario"),
        Fact::DrinkStarted, byPrompt ? 1 : 0);
}

void Narrator::tellDrinkStopped(const FrameSnapshot& f) {
    const FrameState& now = f.state;
    std::string why;
    if (f.calls.stopRead)
        why = "a stop control";
    else if (now.flask < 1)
        why = "the flask is empty";
    else if (now.intake > 120)
        why = "intake is above 120";
    else if (!drinkScenarioSeen)
        why = "the drinking scenario never started";
    else
        why = "stopped by the plug-in";
    // A start that gave up on the scenario ends the drink without a save.
    const bool saved = drinkScenarioSeen;
    bool exists = false;
    const std::string save = saved ? readSave(f.saveFile, &exists) : std::string();
    say(f.at, Topic::Drink,
        "drink stopped after " + formatDuration(f.at - drinkStart) + " (" + why + "): " + sips(drinkSips) +
            ", flask " + std::to_string(drinkFlask) + " → " + std::to_string(now.flask) +
            (!saved ? ", nothing saved" : ", saved " + (exists ? quoted(save) : "nothing (no save file)")),
        Fact::DrinkStopped, f.calls.stopRead ? 1 : 0, saved && exists ? save : std::string());
    res->recording.drinks.push_back({drinkStart, f.at, drinkLabel});
    busy = true;
}

void Narrator::tellDeadeye(const FrameSnapshot& f, const FrameState& before, bool startedNow, bool resetNow) {
    const FrameState& now = f.state;
    const int32_t threshold = f.deadeyeThreshold;
    std::string why;
    if (startedNow)
        why = "armed at script start, threshold " + std::to_string(threshold);
    else if (resetNow && now.deadeye)
        why = "re-armed by the reset";
    else
        why = "drunk " + std::to_string(before.drunk) + (now.deadeye ? " ≤ " : " > ") + "threshold " +
              std::to_string(threshold);
    say(f.at, Topic::Deadeye, std::string("deadeye lock ") + (now.deadeye ? "on" : "off") + " (" + why + ")",
        now.deadeye ? Fact::DeadeyeOn : Fact::DeadeyeOff);
}

void Narrator::tellPassOut(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    if (now.passOutEffect && !before.passOutEffect) {
        passOutStart = f.at;
        say(f.at, Topic::PassOut,
            f.fromRecording
                ? std::string("the game plays the pass-out effect (as the plug-in's query sees it; "
                              "when the game began it is not in the recording)")
                : "the game plays the pass-out effect (intensity held at 1.0 for " +
                      formatDuration(f.passOutAfterMs) + ")");
    }
    if (!now.passOutEffect && before.passOutEffect) {
        res->recording.passOuts.push_back({passOutStart, f.at, "passed out"});
        say(f.at, Topic::PassOut,
            std::string("the pass-out effect is over") +
                (f.fromRecording ? " as the plug-in's query sees it" : "") + " after " +
                formatDuration(f.at - passOutStart));
    }
    if (now.passedOut && !before.passedOut)
        say(f.at, Topic::PassOut, "the plug-in sees the pass-out (drunk " + std::to_string(now.drunk) + ")");
    if (!now.passedOut && before.passedOut) {
        ++res->counts.passOuts;
        say(f.at, Topic::PassOut,
            std::string("recovered: ") +
                (f.calls.restored ? "the player is restored (health, core values); "
                                  : "no healing (HEAL_WHEN_DRUNK is 0); ") +
                "intoxication reset (intake " + std::to_string(before.intake) + " → 0, drunk " +
                std::to_string(before.drunk) + " → 0)");
        told.intake = now.intake;
        told.drunk = now.drunk;
    }
}

// The bartender's service begins: the player's control is taken.
void Narrator::tellServiceStart(const FrameSnapshot& f, const FrameState& before) {
    if (!f.calls.controlTaken || refilling) return;
    refilling = true;
    busy = true;
    thanked = false;
    refillStart = f.at;
    refillFlask = before.flask;
    refillCharged = 0;
    refillChargeSeen = false;
    const Saloon* s = saloonAt(f.interior);
    refillSaloon = s ? s->name : "?";
    say(f.at, Topic::Refill, "the bartender of " + refillSaloon + " serves; the player's control is taken",
        Fact::ServiceStarted);
}

// What is said, shown and charged during the service.
void Narrator::tellService(const FrameSnapshot& f, const FrameState& before) {
    const FrameState& now = f.state;
    for (const sim::Speech& s : f.spoken) {
        const bool player = s.speaker == f.playerPed;
        if (player) thanked = true;
        say(f.at, Topic::Refill,
            std::string(player ? "the player says " : "the bartender says ") + s.line + " (voice " +
                (s.voice.empty() ? "none" : s.voice) + ")");
    }
    if (f.calls.fadeOut) say(f.at, Topic::Refill, "the screen fades out");
    // The flask is filled and saved, a full one too.
    if (refilling && (now.flask != before.flask || f.calls.refillSave)) {
        bool exists = false;
        const std::string save = readSave(f.saveFile, &exists);
        say(f.at, Topic::Refill,
            "flask " + std::to_string(before.flask) + " → " + std::to_string(now.flask) + ", saved " +
                (exists ? quoted(save) : "nothing"),
            Fact::RefillSaved, 0, exists ? save : std::string());
    }
    if (f.calls.fadeIn) say(f.at, Topic::Refill, "the screen fades in");
    if (f.calls.controlBack)
        say(f.at, Topic::Refill, "the player's control is given back", Fact::ControlBack);
    // A refill counts once it is charged.
    for (int32_t amount : f.calls.charges) {
        res->counts.charged += amount;
        ++res->counts.refills;
        refillCharged += amount;
        refillChargeSeen = true;
        say(f.at, Topic::Refill,
            "charged " + formatMoney(amount) +
                (f.fromRecording ? std::string(" (the player's cash is not in the recording)")
                                 : ": cash " + formatMoney(f.cash + amount) + " → " + formatMoney(f.cash)),
            Fact::Charged, amount);
    }
}

// The service's end, at its last frame.
void Narrator::tellServed(Millis at, bool stateKnown) {
    const FrameState& now = last;
    refilling = false;
    res->recording.refills.push_back({refillStart, at, "refill " + formatMoney(refillCharged)});
    if (!stateKnown) {
        say(at, Topic::Refill,
            "served in " + formatDuration(at - refillStart) + (thanked ? "" : "; no thanks from the player"),
            Fact::Served);
        return;
    }
    say(at, Topic::Refill,
        "served in " + formatDuration(at - refillStart) + ": flask " + std::to_string(refillFlask) + " → " +
            std::to_string(now.flask) +
            (thanked ? ""
                     : "; no thanks from the player (drunk " + std::to_string(now.drunk) + ", 25 or more)"),
        Fact::Served);
}

std::string Narrator::levelsText(const FrameState& now, const FrameState& before, bool withSips) {
    auto arrow = [](int32_t a, int32_t b) { return a > b ? " ↑" : a < b ? " ↓" : "  "; };
    char b[200];
    snprintf(b, sizeof b, "intake %3d%s  drunk %3d%s  flask %2d%s  intensity %s", now.intake,
             arrow(now.intake, before.intake), now.drunk, arrow(now.drunk, before.drunk), now.flask,
             arrow(now.flask, before.flask),
             now.global == 0 ? "0 (cleared)" : fixed(sim::floatOf(now.global), 4).c_str());
    std::string out = b;
    if (withSips && secondSips > 0) out += "  · " + sips(secondSips);
    return out;
}

void Narrator::tellLevels(Millis at, bool boundary) {
    const FrameState& now = last;
    if (!boundary) return;
    const bool changed = now.intake != told.intake || now.drunk != told.drunk || now.flask != told.flask;
    bool tell = false;
    if (busy) {
        tell = changed; // a line a second while drinking or served
    } else if (changed) {
        // Otherwise the tens, and the way down to zero.
        tell = now.intake / 10 != told.intake / 10 || now.drunk / 10 != told.drunk / 10 ||
               (now.intake == 0) != (told.intake == 0) || (now.drunk == 0) != (told.drunk == 0) ||
               now.flask != told.flask;
    }
    if (tell) {
        say(at, Topic::Levels, levelsText(now, told, busy));
        if (now.intake == 0 && now.drunk == 0 && (told.intake != 0 || told.drunk != 0))
            say(at, Topic::Levels,
                std::string("sober again") +
                    (clockKnown ? " (game clock " + formatGameClock(clock) + " when the plug-in last read it)"
                                : "") +
                    (healingNormal ? "; healing back to normal" : ""));
        told = now;
    }
    secondSips = 0;
    busy = now.drinking || refilling;
}

void Narrator::sample(Millis at) {
    Sample s;
    // The first sample stands for the start: the save file is read in the first frame.
    s.at = res->recording.samples.empty() ? 0 : at;
    s.intake = last.intake;
    s.drunk = last.drunk;
    s.flask = last.flask;
    s.intensity = last.global == 0 ? 0.0f : sim::floatOf(last.global);
    std::vector<Sample>& v = res->recording.samples;
    if (!v.empty() && v.back().intake == s.intake && v.back().drunk == s.drunk && v.back().flask == s.flask &&
        v.back().intensity == s.intensity)
        return;
    v.push_back(s);
}

// The HUD picture: the frame at its moment, or the last frame with sprites.
void Narrator::takeHud(const FrameSnapshot& f) {
    const bool wanted = hudFrom >= 0 ? f.at >= hudFrom && !res->recording.hud.taken : !f.sprites.empty();
    if (!wanted) return;
    HudShot& h = res->recording.hud;
    h.taken = true;
    h.at = f.at;
    h.frame = f.played;
    h.flask = f.state.flask;
    h.intake = f.state.intake;
    h.sprites = f.sprites;
}

void Narrator::missionBegins(Millis at) {
    missionOpen = true;
    missionSeen = held;
    missionStart = at;
    missionFrame = res->frames + 1;
    ++res->counts.missions;
}

// The script asks at the start of every pass of its loop, but not while it waits
// for the drinking scenario or serves a refill, which yield frames of their own: a
// mission over before the next pass was never seen.
void Narrator::missionEnds(Millis at, bool told) {
    const bool seen = missionSeen || held;
    missionOpen = false;
    res->recording.missions.push_back({missionStart, at, seen || !told ? "mission" : "mission (not seen)"});
    if (!told) return;
    if (seen) {
        say(at, Topic::Mission,
            "the mission ends in the game; the script sees it at its next look (every 3 s while held)",
            Fact::MissionEndedHeld, missionFrame);
        return;
    }
    ++res->counts.missionsUnseen;
    say(at, Topic::Mission, "the mission ended before the script asked: no hold, nothing reset",
        Fact::MissionUnseen, missionFrame);
}

void Narrator::quit(Millis at, int line, bool inMission, const std::string& saveFile) {
    const FrameState& was = last;
    say(at, Topic::Restart, "the game quits (nothing is saved on the way out) and starts again", Fact::None,
        0, std::string(), line);
    if (drinkNoise.suppressed > 0) tellFlicker(at, true, "until the game quit");
    if (refillNoise.suppressed > 0) tellFlicker(at, false, "until the game quit");
    if (was.drinking) {
        res->recording.drinks.push_back({drinkStart, at, drinkLabel});
        say(at, Topic::Drink,
            "drink cut off by the quit after " + formatDuration(at - drinkStart) + ": " + sips(drinkSips) +
                ", flask " + std::to_string(drinkFlask) + " → " + std::to_string(was.flask) + ", not saved");
    }
    if (refilling) {
        res->recording.refills.push_back({refillStart, at, "refill (cut off)"});
        say(at, Topic::Refill, "the service is cut off by the quit");
    }
    if (was.passOutEffect) res->recording.passOuts.push_back({passOutStart, at, "passed out"});
    if (inMission) {
        const bool seen = missionSeen || held;
        res->recording.missions.push_back({missionStart, at, seen ? "mission" : "mission (not seen)"});
        if (!seen) ++res->counts.missionsUnseen;
        say(at, Topic::Mission,
            std::string("the game starts again outside the mission") +
                (seen ? "" : ", which the script never saw"));
        missionOpen = false;
    }
    bool exists = false;
    const std::string save = readSave(saveFile, &exists);
    say(at, Topic::Restart,
        "unloaded with flask " + std::to_string(was.flask) + ", intake " + std::to_string(was.intake) +
            ", drunk " + std::to_string(was.drunk) + " in memory; " +
            (exists ? "the save file holds " + quoted(save) : std::string("there is no save file")));
}

void Narrator::startedAgain(Millis at, const FrameState& state) {
    ++res->counts.restarts;
    res->recording.restarts.push_back({at, "restart", false});
    // The new load's script starts at the next frame.
    scriptStarted = false;
    held = false;
    missionOpen = false;
    drinkSips = 0;
    drinkScenarioSeen = false;
    refilling = false;
    thanked = false;
    drinkNoise = PromptNoise();
    refillNoise = PromptNoise();
    busy = false;
    secondSips = 0;
    begin(state);
}

void Narrator::finish(Millis at, bool inMission) {
    if (drinkNoise.suppressed > 0) tellFlicker(at, true, "until the end");
    if (refillNoise.suppressed > 0) tellFlicker(at, false, "until the end");
    if (last.drinking) res->recording.drinks.push_back({drinkStart, at, drinkLabel});
    if (last.passOutEffect) res->recording.passOuts.push_back({passOutStart, at, "passed out"});
    if (refilling) res->recording.refills.push_back({refillStart, at, "refill"});
    if (inMission) res->recording.missions.push_back({missionStart, at, "mission"});
    sample(at);
    res->flask = last.flask;
    res->intake = last.intake;
    res->drunk = last.drunk;
    res->intensity = last.global == 0 ? 0.0f : sim::floatOf(last.global);
}

} // namespace player
