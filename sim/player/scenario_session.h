// The session that plays a scenario, shared by the two files that play it:
// play_session.cpp (the loads, the frames, the expectations, the restarts, the end)
// and scenario_actions.cpp (each kind of scenario line done to the world). Nothing
// else includes it: play_session.h is its door.
#pragma once

#include "player/frame.h"
#include "player/game_folder.h"
#include "player/narration.h"
#include "player/scenario.h"
#include "player/session_result.h"
#include "sim.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <deque>
#include <functional>
#include <queue>
#include <string>
#include <vector>

namespace player {

// A scenario line due at a time, or the end of a mission or of a death; lines of
// one time keep their order.
struct Queued {
    Millis at;
    int seq;
    const Event* event; // null: the end of a mission, or of a death with `death`
    bool death = false;
    bool operator>(const Queued& o) const { return at != o.at ? at > o.at : seq > o.seq; }
};

// Plays the scenario: loads the plug-in, applies the scenario's lines when they are
// due, plays the frames, checks the expectations, quits and starts the game again.
// After every frame it fills the frame's snapshot for the narrator, which tells.
struct ScenarioSession {
    ScenarioSession(const Scenario& s, const PlayOptions& o, SessionResult* r);

    const Scenario& sc;
    const PlayOptions& opt;
    SessionResult* res;
    Narrator narrator;

    GameFolder folder;
    bool broken = false;      // the plug-in could not be loaded again: the session ends
    bool interrupted = false; // PlayOptions::interrupted said so
    uint32_t startTimer = 0;
    int frameMs = 33;
    FrameSnapshot frame; // the last frame's, refilled after every frame
    bool live = false;

    std::priority_queue<Queued, std::vector<Queued>, std::greater<Queued>> queue;
    int seq = 0;
    // What a line undoes after its frames: the frames left, and what to do then.
    std::vector<std::pair<int, std::function<void()>>> afterFrames;
    void after(int frames, std::function<void()> undo) { afterFrames.emplace_back(frames, std::move(undo)); }
    // The frames' lengths: the frames lines in time order, the next to install, and the
    // lengths they give still to come (the frame rate's once they run out).
    std::vector<const Event*> frameLines;
    size_t nextFrameLine = 0;
    std::deque<uint32_t> lengths;
    uint32_t upcoming = 33; // the next frame's length
    uint32_t nextLength();
    // Raw answers in force: the native, the arguments, the answer's bits; the newest
    // last. Each is taken back after its frames.
    struct RawAnswer {
        uint64_t hash;
        std::string args;
        uint64_t bits;
        int id;
    };
    std::vector<RawAnswer> rawAnswers;
    int rawAnswerIds = 0;
    bool rawAnswer(const sim::Call& c, uint64_t* result);
    Millis missionEnd = -1; // the mission's end; -1 none, -2 at mission-end
    Millis deathEnd = -1;   // the end of the player's death; -1 none
    bool diedOnFoot = true; // the player was on foot when he died

    sim::World& w() { return sim::world(); }
    // A build that exports no state is told by its calls alone; its settings are
    // read from the settings file as it read them.
    ScriptState unknownState = {};
    Settings fileSettings = {};
    const ScriptState& st() { return sim::pluginState() ? *sim::pluginState() : unknownState; }
    const Settings& settings() { return sim::pluginSettings() ? *sim::pluginSettings() : fileSettings; }
    Millis elapsed() { return (Millis)(uint32_t)(w().timer - startTimer); }
    Millis sinceStart(int32_t gameTime) { return (Millis)(int32_t)((uint32_t)gameTime - startTimer); }
    std::string saveFile() { return sim::workDir() + "/Tolvenmire.dat"; }
    // A scenario's line is told with the frame that takes it in.
    void say(Millis at, Topic t, const std::string& text, int line = 0, bool failed = false) {
        tell(opt, at, t, text, line, failed, res->frames + 1);
    }

    bool run();
    bool start();
    void tellSetup();
    void playEvents();
    void finish();

    bool load(bool first, std::string* error);
    void unload();
    void keepRecording();
    void onCall(const sim::Call& c);
    void playFrame();
    FrameState readState();
    void fillFrame();
    // Checks an expectation against the state as it is: after the frame that took it
    // in, or before what comes later in that frame (`before` says what).
    void expect(const Event& e, Millis at, const std::string& before = std::string());
    void endMission(Millis at);
    void endDeath(Millis at);
    std::string playerLine();

    // The scenario's lines, one function for each kind (scenario_actions.cpp; the
    // expectations and the restart, the loop's own, in play_session.cpp).
    void apply(const Event& e, Millis at);
    void pressKey(const Event& e, Millis at);
    void pressControl(const Event& e, Millis at);
    void satchel(const Event& e, Millis at);
    void complete(const Event& e, Millis at);
    void mission(const Event& e, Millis at);
    void missionEnded(const Event& e, Millis at);
    void die(const Event& e, Millis at);
    void cutscene(const Event& e, Millis at);
    void input(const Event& e, Millis at);
    void onFoot(const Event& e, Millis at);
    void aiming(const Event& e, Millis at);
    void enter(const Event& e, Millis at);
    void leave(const Event& e, Millis at);
    void target(const Event& e, Millis at);
    void cash(const Event& e, Millis at);
    void model(const Event& e, Millis at);
    void clockRate(const Event& e, Millis at);
    void clock(const Event& e, Millis at);
    void knob(const Event& e, Millis at);
    void position(const Event& e, Millis at);
    void frameTimes(const Event& e, Millis at);
    void answer(const Event& e, Millis at);
    void expectLine(const Event& e, Millis at) { expect(e, at); }
    void restart(const Event& e, Millis at);
    void end(const Event&, Millis) {}
};

} // namespace player
