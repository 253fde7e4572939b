// The hostile side of a randomized session (random_session.h, SessionOptions::
// hostileRate): the game answers anything (sim::World::hostileRate), and over the
// session it also lets the timer stand still, jump hours ahead or back and cross
// 2^31, runs the game clock backwards, wraps GetTickCount, flaps the mission
// flag, never starts or never ends the drinking scenario, completes the prompts in
// every frame or never, and runs the pass-out effect for ever. What must hold
// whatever the answers is checked here, for the Linux suite, the Windows suite and
// the soak alike.
#pragma once

#include "sim.h"

#include <cstdint>
#include <functional>
#include <string>

struct ScriptState;

namespace stress {

// The longest pass of the script's loop between two scriptWait calls that the
// frame's algorithms allow, in calls into the host (natives and getGlobalPtr):
// the mission flag 1, the frame values 2, the drink prompt made 13, a trigger
// that starts a drink whose scenario already runs 14, drinking with both stops 10,
// an intoxication step with the pass-out recovery and the deadeye lock 17, the
// refill prompt made and completed 20, and a refill whose waits all end at their
// first reading but the last 28. A loop that does not yield passes it at once.
const int MaxCallsBetweenWaits = 105;

// From the refill taking the player's control to its giving it back (the screen
// faded in just before), counted in frames in which the game timer moved forward:
// its waits of 1000, 1500, 1000 and 1000 ms each end at the first reading strictly
// past the deadline, so after at most 1001 + 1501 + 1001 + 1001 such frames, and
// one more for the frame that takes it. Counted in milliseconds of the timer's
// forward movement, each frame's step counted up to the longest hitch a session
// plays (4000 ms; a jump ends a wait at once): the 4500 ms of waits, a step past
// each deadline, and the frame that takes control.
const int MaxControlOffFrames = 4505;
const uint32_t LongestStepMs = 4000;
const uint64_t MaxControlOffMs = 4500 + 5 * LongestStepMs;

// The same for one pass of the script's loop, from its mission-flag query to the
// next: a start wait of 5000 ms and a whole refill (7500 ms of waits in six) can
// both come in the one pass.
const int MaxFramesPerPass = 5001 + 7506 + 2;
const uint64_t MaxPassMs = 5000 + 7500 + 8 * LongestStepMs;

struct HostileFigures {
    uint64_t answersReplaced = 0; // answers the game replaced
    uint64_t checks = 0;          // invariants checked (each check in each frame or call)
    uint64_t spells = 0;          // whole-session faults played
    int maxCallsBetweenWaits = 0; // the most calls seen between two waits
};

class HostileGame {
  public:
    HostileGame(uint64_t seed, double rate) : rng_(seed ^ 0x6E656D79ull), seed_(seed), rate_(rate) {}

    // Before the load: the game's answers turn hostile.
    void setUp();
    // One frame's whole-session faults, after the generator's own changes.
    void act(const std::function<void(const std::string&)>& log);
    // A key event the session sent (the drink key, with its seventh flag, may start a drink).
    void keySent(uint32_t key, int32_t seventh, uint32_t drinkKey);
    // Every call, as it happens; the first broken invariant is kept.
    void observe(const sim::Call& c);
    // After each frame: "" or the invariant broken.
    std::string checkFrame();
    // The end of the session: the model's answers, and time as the model keeps it.
    void calm();
    const HostileFigures& figures() const { return figures_; }

  private:
    struct Rng {
        uint64_t s;
        explicit Rng(uint64_t seed) : s(seed) {}
        uint64_t next() {
            uint64_t z = (s += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            return z ^ (z >> 31);
        }
        uint32_t below(uint32_t n) { return (uint32_t)(next() % n); }
        int64_t range(int64_t lo, int64_t hi) { return lo + (int64_t)(next() % (uint64_t)(hi - lo + 1)); }
    };
    void fail(const std::string& what);
    std::string changedBeyond(const ScriptState& state, uintptr_t variable) const;
    void startSpell(const std::function<void(const std::string&)>& log);
    // What observe follows, call by call.
    bool countCall(const sim::Call& c);
    void checkOutVariables(const ScriptState& state, const sim::Call& c);
    void followPass(const sim::Call& c);
    void followDrinkPrompt(const sim::Call& c);
    void followDrinkStart(const sim::Call& c);
    void followRefill(const sim::Call& c, bool chargeDue);

    Rng rng_;
    uint64_t seed_;
    double rate_;
    HostileFigures figures_;
    std::string broken_;

    // The whole-session fault being played, and the frames it has left.
    int spell_ = -1;
    int spellFrames_ = 0;

    // What the calls showed.
    int callsSinceWait_ = 0;
    int pass_ = 0;             // passes of TickUpdate begun
    bool inDrinkPart_ = false; // from the frame values to the interior query
    bool keyPending_ = false;  // a drink key event sent since the last pass began
    bool keyFresh_ = false;    // ... before this pass began
    bool completionTested_ = false, completionCounts_ = false;
    int32_t pendingPrompt_ = 0; // the handle of the prompt being made
    int32_t drinkPrompt_ = 0;   // the plug-in's drink prompt, as its calls made it
    int drinkPromptDeletedPass_ = -1;
    bool chargeDue_ = false; // control given back: the refill's one charge comes next
    bool controlOff_ = false;
    bool startWait_ = false; // a drink's start waits for the scenario
    int controlOffFrames_ = 0, framesThisPass_ = 0;
    uint64_t controlOffMs_ = 0, passMs_ = 0;
    uint32_t lastTimer_ = 0;
    uint32_t lastTick_ = 0;
    bool tickWrapped_ = false; // GetTickCount has wrapped (or is about to) in this session
    uint8_t stateBefore_[128] = {};
};

} // namespace stress
