// One frame as the session player saw it: a plain record the player fills after
// every frame and the narration reads, so that telling what happened takes nothing
// from the session itself.
#pragma once

#include "player/time_money_text.h"
#include "sim.h"

#include "base/script_state.h"

#include <string>
#include <vector>

namespace player {

// The plug-in's and the world's state between two frames, for telling changes.
struct FrameState {
    int32_t flask = 99, intake = 0, drunk = 0;
    bool drinking = false, passedOut = false, deadeye = false;
    bool drinkPrompt = false, refillPrompt = false;
    int32_t drinkPromptHandle = 0, refillPromptHandle = 0;
    int32_t nextSipTime = 0;
    uint64_t global = 0; // the intensity global, as the game holds it
    bool passOutEffect = false;
    bool scenarioRunning = false;
    size_t speech = 0; // lines spoken in the session so far
    int32_t nextPromptHandle = 1;
};

// The plug-in's part of a frame's state, read from its state record; the world's
// part is the session's to fill.
inline FrameState pluginFrameState(const ScriptState& p) {
    FrameState s;
    s.flask = p.flaskLevel;
    s.intake = p.intakeLevel;
    s.drunk = p.drunkLevel;
    s.drinking = p.drinking;
    s.passedOut = p.passedOut;
    s.deadeye = p.deadeyeLock;
    s.drinkPrompt = p.drinkPromptActive;
    s.refillPrompt = p.refillPromptActive;
    s.drinkPromptHandle = p.drinkPrompt;
    s.refillPromptHandle = p.refillPrompt;
    s.nextSipTime = p.nextSipTime;
    return s;
}

// What one frame showed through the calls it made.
struct FrameCalls {
    bool tick = false;          // TickUpdate ran
    bool heldQuery = false;     // the mission flag answered non-zero: the script holds
    int missionLast = -1;       // the mission flag's last answer in the frame (1 up, 0 down; -1 not asked)
    bool drinkStart = false;    // the drinking scenario was started for a drink
    bool scenarioUsing = false; // the game answered that the player runs the drinking scenario
    bool refillSave = false;    // the service started its scenario, the moment it saves the flask
    bool promptToggled = false; // the drink prompt was deleted by its control (after the wheel's test)
    uint64_t lastNative = 0;    // the last native called: the frame's last, once it is over
    bool stopRead = false;      // a stop control read non-zero
    bool controlTaken = false, controlBack = false;
    bool fadeOut = false, fadeIn = false;
    bool restored = false;
    // The first healing rate set in the frame: -1 none, 1 back to normal (1.0), 0 any other.
    int healing = -1;
    bool clockRead = false; // the plug-in read the game clock in the frame: `clock`, the last answer
    int32_t clock = 0;
    std::vector<int32_t> completed; // prompts whose completion test answered yes
    std::vector<int32_t> charges;

    void clear() {
        tick = heldQuery = stopRead = controlTaken = controlBack = fadeOut = fadeIn = restored = false;
        missionLast = -1;
        drinkStart = scenarioUsing = refillSave = promptToggled = false;
        lastNative = 0;
        healing = -1;
        clockRead = false;
        completed.clear();
        charges.clear();
    }
    bool completedPrompt(int32_t handle) const {
        for (int32_t h : completed)
            if (h == handle) return true;
        return false;
    }
};

// What a call shows of its frame, noted as it happens.
void noteCall(const sim::Call& call, FrameCalls& seen);

// A prompt of the game's.
struct PromptSeen {
    int32_t handle = 0;
    std::string label;
    bool alive = false;
};

struct FrameSnapshot {
    Millis at = 0;     // game time since the session started
    int hostFrame = 0; // the host's count of the frames of this load
    int played = 0;    // frames played in the session, across restarts
    FrameState state;  // after the frame
    FrameCalls calls;
    // The prompts created in the frame, and the two the plug-in had before it.
    std::vector<PromptSeen> prompts;
    std::vector<int32_t> newPrompts;  // the handles of those created in the frame, in order
    std::vector<sim::Speech> spoken;  // the lines spoken in the frame
    std::vector<sim::Sprite> sprites; // the sprites drawn in the frame
    int32_t playerPed = 0;
    int32_t interior = 0;
    int32_t target = 0;
    int64_t cash = 0;
    uint32_t passOutAfterMs = 0;  // how long the game holds intensity 1.0 before a pass-out
    Millis sipStart = 0;          // the plug-in's first sip time, in session time
    int32_t deadeyeThreshold = 0; // the plug-in's setting
    std::string saveFile;         // the save file's path, read when a line tells it
    // A replay: the world is known only through the plug-in's calls and the game's
    // recorded answers; the player's cash and the game's own timings are not.
    bool fromRecording = false;
    // False for a build of the plug-in that does not export its state: the flask,
    // the levels and the prompts it holds are then not known.
    bool stateKnown = true;

    bool isNewPrompt(int32_t handle) const {
        for (int32_t h : newPrompts)
            if (h == handle) return true;
        return false;
    }
    const PromptSeen* prompt(int32_t handle) const {
        for (const PromptSeen& p : prompts)
            if (p.handle == handle) return &p;
        return nullptr;
    }
};

} // namespace player
