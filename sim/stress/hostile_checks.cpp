// The hostile game's whole-session faults and the invariants that hold whatever the
// game answers (hostile_checks.h).
#include "stress/hostile_checks.h"
#include "standin/native_table.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "flask/intoxication.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

namespace stress {

namespace {
const int32_t IntensityGlobal = 1935445;

static_assert(sizeof(ScriptState) <= 128, "the state record's copy must hold it");

enum Spell {
    TimerStill,
    TimerAhead,
    TimerBack,
    TimerAtSignedTop,
    ClockBackwards,
    TickCountWraps,
    MissionFlaps,
    ScenarioNeverStarts,
    ScenarioNeverEnds,
    PromptsAlwaysCompleted,
    PromptsNeverCompleted,
    PassOutForEver,
    Spells
};

const char* const SpellNames[Spells] = {
    "the game timer stands still",      "the game timer jumps hours ahead",
    "the game timer jumps back",        "the game timer just below 2^31",
    "the game clock runs backwards",    "GetTickCount about to wrap",
    "the mission flag flaps",           "the drinking scenario never starts",
    "the drinking scenario never ends", "every prompt completed in every frame",
    "no prompt ever completed",         "the pass-out effect runs for ever",
};

// A cell the plug-in may have written: 0, or an intensity entry widened with its sign.
bool isIntensity(uint64_t cell) {
    if (cell == 0) return true;
    for (uint32_t entry : IntensityTable)
        if (cell == (uint64_t)(int64_t)(int32_t)entry) return true;
    return false;
}

// The state record's fields: what the plug-in keeps (not the bytes between them).
// targetPedHigh is not among them: it is the upper half of targetPed's slot, which
// the game may write with it. A field added to the record belongs here too.
struct Field {
    const char* name;
    size_t offset, size;
};
#define TOLVENMIRE_FIELD(f)                                                                                  \
    { #f, offsetof(ScriptState, f), sizeof(ScriptState::f) }
const Field Fields[] = {
    TOLVENMIRE_FIELD(flaskLevel),         TOLVENMIRE_FIELD(intakeLevel),
    TOLVENMIRE_FIELD(drinkPromptActive),  TOLVENMIRE_FIELD(refillPromptActive),
    TOLVENMIRE_FIELD(deadeyeLock),        TOLVENMIRE_FIELD(drinking),
    TOLVENMIRE_FIELD(playerPed),          TOLVENMIRE_FIELD(drunkLevel),
    TOLVENMIRE_FIELD(sipStartTime),       TOLVENMIRE_FIELD(drinkPrompt),
    TOLVENMIRE_FIELD(refillPrompt),       TOLVENMIRE_FIELD(now),
    TOLVENMIRE_FIELD(nextSoberUpClock),   TOLVENMIRE_FIELD(nextSipTime),
    TOLVENMIRE_FIELD(sipCounter),         TOLVENMIRE_FIELD(targetPed),
    TOLVENMIRE_FIELD(passedOut),          TOLVENMIRE_FIELD(nextDrunkStepTime),
    TOLVENMIRE_FIELD(drinkPromptDeleted), TOLVENMIRE_FIELD(drinkPromptGone),
};
#undef TOLVENMIRE_FIELD

void setCompleted(bool completed) {
    for (auto& [handle, prompt] : sim::world().prompts)
        if (prompt.alive) prompt.completed = completed;
}

} // namespace

// The first field other than the one at `variable` that differs from the copy.
std::string HostileGame::changedBeyond(const ScriptState& s, uintptr_t variable) const {
    const uintptr_t base = (uintptr_t)&s;
    for (const Field& f : Fields) {
        if (base + f.offset == variable) continue;
        if (memcmp((const uint8_t*)&s + f.offset, stateBefore_ + f.offset, f.size) != 0)
            return std::string(f.name) + " beside it";
    }
    return std::string();
}

void HostileGame::setUp() {
    sim::World& w = sim::world();
    w.hostileRate = rate_;
    w.hostileSeed = seed_;
}

void HostileGame::fail(const std::string& what) {
    if (broken_.empty()) broken_ = what;
}

void HostileGame::startSpell(const std::function<void(const std::string&)>& log) {
    sim::World& w = sim::world();
    spell_ = (int)rng_.below(Spells);
    spellFrames_ = (int)rng_.range(10, 600);
    ++figures_.spells;
    switch (spell_) {
    case TimerAhead:
        if (!w.missionFlag) w.timer += (uint32_t)rng_.range(3600000, 36000000);
        spellFrames_ = 1;
        break;
    case TimerBack:
        if (!w.missionFlag) w.timer -= (uint32_t)rng_.range(1, 7200000);
        spellFrames_ = 1;
        break;
    case TimerAtSignedTop:
        if (!w.missionFlag)
            w.timer = (uint32_t)std::numeric_limits<int32_t>::max() - (uint32_t)rng_.range(0, 3000);
        spellFrames_ = 1;
        break;
    case ClockBackwards:
        w.clock = (int32_t)((uint32_t)w.clock - (uint32_t)rng_.range(1, 1000000));
        w.clockPerSecond = -30.0;
        break;
    case TickCountWraps:
        // Only ahead of every key event so far, as the tick count runs: once it has
        // wrapped, going near the wrap again would take it back to earlier events.
        if (!tickWrapped_ && sim::tickCount() < 0x80000000u) {
            sim::setTickCount(0xFFFFFFFFu - (uint32_t)rng_.range(0, 300));
            tickWrapped_ = true;
        }
        spellFrames_ = 1;
        break;
    case ScenarioNeverStarts:
        w.scenarioNeverStarts = true;
        break;
    case ScenarioNeverEnds:
        w.scenarioNeverEnds = true;
        break;
    case PassOutForEver:
        w.autoPassOut = false;
        break;
    default:
        break;
    }
    log(std::string("hostile: ") + SpellNames[spell_] + " (" + std::to_string(spellFrames_) + " frames)");
}

void HostileGame::act(const std::function<void(const std::string&)>& log) {
    sim::World& w = sim::world();
    if (spell_ < 0) {
        // The timer jumps at the worst moments too: while the plug-in waits on it.
        if ((controlOff_ || startWait_) && rng_.below(40) == 0) {
            const uint32_t jump = (uint32_t)rng_.range(2000, 0x7FFFFFFF);
            const uint32_t by = rng_.below(2) ? jump : 0u - jump;
            w.timer += by;
            ++figures_.spells;
            log("hostile: the game timer jumps by " + std::to_string((int32_t)by) +
                " ms while the plug-in waits on it");
        } else if (rng_.below(250) == 0) {
            startSpell(log);
        }
        if (spell_ < 0) return;
    }
    // The spell's part of this frame.
    switch (spell_) {
    case TimerStill:
        w.frameMs = 0;
        break;
    case MissionFlaps:
        w.missionFlag = !w.missionFlag;
        break;
    case PromptsAlwaysCompleted:
        setCompleted(true);
        break;
    case PromptsNeverCompleted:
        setCompleted(false);
        break;
    case PassOutForEver:
        w.effects[sim::PassOutEffect] = 1;
        break;
    default:
        break;
    }
    if (--spellFrames_ > 0) return;
    // The spell ends; the world goes back to what the model keeps.
    switch (spell_) {
    case ClockBackwards:
        w.clockPerSecond = 30.0;
        break;
    case MissionFlaps:
        w.missionFlag = false;
        break;
    case ScenarioNeverStarts:
        w.scenarioNeverStarts = false;
        break;
    case ScenarioNeverEnds:
        w.scenarioNeverEnds = false;
        break;
    case PromptsAlwaysCompleted:
        setCompleted(false);
        break;
    case PassOutForEver:
        w.effects[sim::PassOutEffect] = 0;
        w.autoPassOut = true;
        break;
    default:
        break;
    }
    spell_ = -1;
}

void HostileGame::calm() {
    sim::World& w = sim::world();
    figures_.answersReplaced = w.hostileAnswers;
    if (spell_ >= 0) {
        spellFrames_ = 1;
        act([](const std::string&) {});
    }
    w.hostileRate = 0.0;
}

void HostileGame::keySent(uint32_t key, int32_t seventh, uint32_t drinkKey) {
    if (seventh != 0 && key == drinkKey && key < 255) keyPending_ = true;
}

void HostileGame::observe(const sim::Call& c) {
    if (!countCall(c) || c.kind != sim::CallKind::Native) return;
    const ScriptState* s = sim::pluginState();
    if (s) checkOutVariables(*s, c);
    const bool chargeDue = chargeDue_;
    chargeDue_ = false;
    followPass(c);
    followDrinkPrompt(c);
    followDrinkStart(c);
    followRefill(c, chargeDue);
    if (s) memcpy(stateBefore_, s, sizeof(ScriptState));
}

// A call into the host counted towards the next wait; false for a call that is not
// one (a wait ends the count).
bool HostileGame::countCall(const sim::Call& c) {
    switch (c.kind) {
    case sim::CallKind::Wait:
        figures_.maxCallsBetweenWaits = std::max(figures_.maxCallsBetweenWaits, callsSinceWait_);
        callsSinceWait_ = 0;
        return false;
    case sim::CallKind::GlobalPtr:
        ++callsSinceWait_;
        ++figures_.checks;
        if (c.globalIndex != IntensityGlobal)
            fail("getGlobalPtr(" + std::to_string(c.globalIndex) + "): the plug-in reaches another global");
        break;
    case sim::CallKind::Native:
        ++callsSinceWait_;
        break;
    default:
        return false;
    }
    ++figures_.checks;
    if (callsSinceWait_ > MaxCallsBetweenWaits)
        fail("the script made " + std::to_string(callsSinceWait_) +
             " calls without coming back to scriptWait");
    return true;
}

// A write through an out-variable changes nothing in the plug-in but the variable.
void HostileGame::checkOutVariables(const ScriptState& s, const sim::Call& c) {
    const sim::NativeInfo* info = sim::findNative(c.hash);
    if (!info) return;
    for (int k = 0; k < c.argc && info->args[k]; ++k) {
        if (info->args[k] != 'p') continue;
        ++figures_.checks;
        const std::string changed = changedBeyond(s, (uintptr_t)c.args[k]);
        if (!changed.empty())
            fail(std::string("the game's write through the out-variable of ") + natives::fullName(*info) +
                 " changed " + changed);
    }
}

// The passes of the script's loop and of TickUpdate, and the drink's part of each.
void HostileGame::followPass(const sim::Call& c) {
    switch (c.hash) {
    case natives::GetMissionFlag:
        framesThisPass_ = 0;
        passMs_ = 0;
        startWait_ = false;
        break;
    case natives::PlayerPedId:
        ++pass_;
        keyFresh_ = keyPending_;
        keyPending_ = false;
        inDrinkPart_ = true;
        completionTested_ = completionCounts_ = false;
        break;
    case natives::GetInteriorFromEntity:
        inDrinkPart_ = false;
        break;
    default:
        break;
    }
}

// The plug-in's drink prompt, as its calls make and delete it, and the test of its
// completion.
void HostileGame::followDrinkPrompt(const sim::Call& c) {
    switch (c.hash) {
    case natives::UiPromptRegisterBegin:
        pendingPrompt_ = c.resultInt();
        break;
    case natives::VarString:
        if (c.text[2] == "Drink From Flask") {
            drinkPrompt_ = pendingPrompt_;
            drinkPromptDeletedPass_ = -1;
        }
        break;
    case natives::UiPromptDelete:
        if (inDrinkPart_ && c.i32(0) == drinkPrompt_ && drinkPromptDeletedPass_ < 0)
            drinkPromptDeletedPass_ = pass_;
        break;
    case natives::UiPromptHasHoldModeCompleted:
        // The drink prompt's completion test: the first of the pass, before the saloon.
        if (inDrinkPart_ && !completionTested_) {
            completionTested_ = true;
            completionCounts_ = c.resultInt() != 0 && c.i32(0) == drinkPrompt_ &&
                                (drinkPromptDeletedPass_ < 0 || drinkPromptDeletedPass_ == pass_);
        }
        break;
    default:
        break;
    }
}

// A drink starts only from the drink key or the plug-in's own drink prompt.
void HostileGame::followDrinkStart(const sim::Call& c) {
    switch (c.hash) {
    case natives::IsPedUsingScenarioHash:
        if (c.resultInt() != 0) startWait_ = false;
        break;
    case natives::TaskStartScenarioInPlaceHash:
        if (c.i32(2) == -1) { // the drink's start, not the refill's
            startWait_ = true;
            ++figures_.checks;
            if (completionTested_ ? !completionCounts_ : !keyFresh_)
                fail(completionTested_ ? "a drink started from the completion of a prompt that is not the "
                                         "plug-in's drink prompt (handle " +
                                             std::to_string(drinkPrompt_) + ", deleted before this frame)"
                                       : "a drink started without the drink key or the drink prompt");
        }
        break;
    default:
        break;
    }
}

// The refill's control taken and given back, and its one charge of the price right
// after (`chargeDue`: the call before gave control back).
void HostileGame::followRefill(const sim::Call& c, bool chargeDue) {
    switch (c.hash) {
    case natives::SetPlayerControl:
        controlOff_ = c.i32(1) == 0;
        chargeDue_ = !controlOff_;
        break;
    case natives::MoneyDecrementCashBalance: {
        ++figures_.checks;
        const int64_t price = (int64_t)sim::pluginSettings()->refillPrice * 100;
        const int32_t amount = (int32_t)std::clamp<int64_t>(price, INT32_MIN, INT32_MAX);
        if (!chargeDue)
            fail("money taken (" + std::to_string(c.i32(0)) + ") outside a refill that gave control back");
        else if (c.i32(0) != amount)
            fail("money taken: " + std::to_string(c.i32(0)) + "; the price is " + std::to_string(amount));
        break;
    }
    default:
        break;
    }
}

std::string HostileGame::checkFrame() {
    const sim::World& w = sim::world();
    figures_.answersReplaced = w.hostileAnswers;
    // How far the timer moved forward in this frame: not at all when it stood still
    // or ran back; a jump ahead counted as the longest step a frame takes.
    const uint32_t step = w.timer - lastTimer_;
    const uint32_t forward = step < 0x80000000u ? std::min(step, LongestStepMs) : 0;
    lastTimer_ = w.timer;
    if (sim::tickCount() < lastTick_) tickWrapped_ = true;
    lastTick_ = sim::tickCount();

    // Control and the screen come back within the refill's waits while time moves.
    ++figures_.checks;
    if (controlOff_ || w.screenFadedOut) {
        if (forward > 0) ++controlOffFrames_;
        controlOffMs_ += forward;
        if (controlOffFrames_ > MaxControlOffFrames || controlOffMs_ > MaxControlOffMs)
            fail(std::string("player control still taken") +
                 (w.screenFadedOut ? " and the screen faded out" : "") + " after " +
                 std::to_string(controlOffFrames_) + " frames in which the game timer moved (" +
                 std::to_string(controlOffMs_) + " ms)");
    } else {
        controlOffFrames_ = 0;
        controlOffMs_ = 0;
    }
    // The script comes round its loop.
    ++figures_.checks;
    if (forward > 0) ++framesThisPass_;
    passMs_ += forward;
    if (framesThisPass_ > MaxFramesPerPass || passMs_ > MaxPassMs)
        fail("the script has not come round its loop in " + std::to_string(framesThisPass_) +
             " frames in which the game timer moved (" + std::to_string(passMs_) + " ms)");

    // Whatever cell getGlobalPtr handed out holds 0 or an entry of the intensity table.
    ++figures_.checks;
    auto checkCell = [this](uint64_t cell, const char* which) {
        if (isIntensity(cell)) return;
        char text[128];
        std::snprintf(text, sizeof text, "%s holds 0x%016llX, not an entry of the intensity table", which,
                      (unsigned long long)cell);
        fail(text);
    };
    checkCell(w.intensityGlobal, "the intensity global");
    for (uint64_t cell : w.strayCells) checkCell(cell, "a cell getGlobalPtr handed out for the global");
    return broken_;
}

} // namespace stress
