#include "player/play_session.h"

#include "player/expectations.h"
#include "player/frame.h"
#include "player/narration.h"
#include "standin/native_table.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "platform/profile_reader.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <queue>
#include <random>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace player {

const char* topicName(Topic topic) {
    switch (topic) {
    case Topic::Start:
        return "start";
    case Topic::Action:
        return "scenario";
    case Topic::Prompt:
        return "prompt";
    case Topic::Drink:
        return "drink";
    case Topic::Levels:
        return "levels";
    case Topic::Deadeye:
        return "deadeye";
    case Topic::PassOut:
        return "pass-out";
    case Topic::Refill:
        return "refill";
    case Topic::Hold:
        return "hold";
    case Topic::Restart:
        return "restart";
    case Topic::Expect:
        return "expect";
    case Topic::Warning:
        return "warning";
    }
    return "?";
}

int SessionResult::failures() const {
    int n = (int)violations.size();
    for (const ExpectResult& e : expectations) n += e.passed ? 0 : 1;
    return n;
}

std::string keyName(int64_t code) {
    if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9'))
        return std::string(1, (char)code) + " (" + std::to_string(code) + ")";
    return std::to_string(code);
}

Settings settingsFromAnswers(const uint32_t a[6]) {
    Settings s = {};
    s.drinkKey = (int32_t)a[0];
    s.deadeyeLockThreshold = (int32_t)a[1];
    s.healWhenDrunk = a[2] != 0;
    s.refillPrice = (int32_t)a[3];
    // SOBER_UP_TIME x 1.1 in single precision, truncated; 2^31 or more has the default's.
    float factor;
    const uint32_t factorBits = 0x3F8CCCCD;
    memcpy(&factor, &factorBits, sizeof factor);
    const float product = (float)a[4] * factor;
    s.soberUpInterval = product < 2147483648.0f ? (int32_t)product : 110;
    s.recordSession = a[5] != 0;
    memcpy(s.answers, a, sizeof s.answers);
    return s;
}

Settings settingsFromFile(const std::string& path) {
    static const struct {
        const char* key;
        int32_t fallback;
    } Keys[6] = {{"TOLVENMIRE_KEY", 79}, {"DEADEYE_LOCK_THRESHOLD", 60}, {"HEAL_WHEN_DRUNK", 1},
                 {"REFILL_PRICE", 10},   {"SOBER_UP_TIME", 100},         {"RECORD_SESSION", 0}};
    std::string text;
    std::error_code ec;
    // The tool wrote the file itself; a settings file too large to be one is read as none.
    if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) <= (64u << 20)) {
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    uint32_t answers[6];
    for (int i = 0; i < 6; ++i)
        answers[i] = profileReadInt(text.data(), text.size(), "SETTINGS", Keys[i].key, Keys[i].fallback);
    return settingsFromAnswers(answers);
}

std::string settingsLine(const Settings& s) {
    char b[400];
    snprintf(b, sizeof b,
             "drink key %s · deadeye lock up to drunk %d · %s · refill %s · sobering 1 intake per %d clock "
             "units",
             keyName(s.drinkKey).c_str(), s.deadeyeLockThreshold,
             s.healWhenDrunk ? "heals when drunk" : "no healing when drunk",
             formatMoney((int64_t)s.refillPrice * 100).c_str(), s.soberUpInterval);
    return b;
}

namespace {

// The natives the player watches, by role.
const uint64_t OutOfPlayQuery = natives::OutOfPlay;
const uint64_t PlayerPedQuery = natives::PlayerPed; // the first native of every TickUpdate
const uint64_t PromptCompleted = natives::PromptCompleted;
const uint64_t ControlValue = natives::ControlValue;
const uint64_t PlayerControl = natives::PlayerControl;
const uint64_t FadeOut = natives::FadeOut;
const uint64_t FadeIn = natives::FadeIn;
const uint64_t TakeCash = natives::TakeCash;
const uint64_t RestorePed = natives::RestorePed;
const uint64_t FirstHealingRate = natives::HealingRate1;

const char* const PassOutEffect = "PlayerDrunk01_PassOut";

// The world of a game started again: time runs on, and the player, where he is,
// his money and health and the game's own settings are as they were; what the old
// plug-in's run had put into the game (prompts, the drinking scenario, screen
// effects, the intensity global, the loaded texture dictionaries) is not there.
sim::World carriedOver(const sim::World& old) {
    sim::World w;
    w.timer = old.timer;
    w.frameMs = old.frameMs;
    w.clock = old.clock;
    w.clockPerSecond = old.clockPerSecond;
    w.clockCarry = old.clockCarry;
    w.playerPed = old.playerPed;
    w.playerModel = old.playerModel;
    w.playerCondition = old.playerCondition;
    w.playerX = old.playerX;
    w.playerY = old.playerY;
    w.playerZ = old.playerZ;
    w.firstGuard = old.firstGuard;
    // The player's hands stay on the controls.
    w.promptControl = old.promptControl;
    w.analog = old.analog;
    w.scenarioStartFrames = old.scenarioStartFrames;
    w.scenarioNeverStarts = old.scenarioNeverStarts;
    w.textureLoadFrames = old.textureLoadFrames;
    w.interior = old.interior;
    w.peds = old.peds;
    w.target = old.target;
    w.distanceIsNaN = old.distanceIsNaN;
    w.cash = old.cash;
    w.charges = old.charges;
    w.speech = old.speech; // what has been said in the session, for `expect spoken`
    w.healingRate[0] = old.healingRate[0];
    w.healingRate[1] = old.healingRate[1];
    w.restoreCalls = old.restoreCalls;
    w.playerValue = old.playerValue;
    for (int i = 0; i < 3; ++i) w.coreValues[i] = old.coreValues[i];
    w.deadeyeCondition = old.deadeyeCondition;
    w.autoPassOut = old.autoPassOut;
    w.passOutAfterMs = old.passOutAfterMs;
    w.passOutDurationMs = old.passOutDurationMs;
    w.passOuts = old.passOuts;
    w.overrides = old.overrides;
    return w;
}

// The HUD picture's moment: the option's, else the scenario's, else -1 (the last
// frame that drew sprites).
Millis hudMoment(const Scenario& sc, const PlayOptions& opt) {
    return opt.hasHudAt ? opt.hudAt : sc.hasHudAt ? sc.hudAt : -1;
}

struct Queued {
    Millis at;
    int seq;
    const Event* event; // null: the end of an out-of-play spell
    bool operator>(const Queued& o) const { return at != o.at ? at > o.at : seq > o.seq; }
};

// Plays the scenario: loads the plug-in, applies the scenario's lines when they are
// due, plays the frames, checks the expectations, quits and starts the game again.
// After every frame it fills the frame's snapshot for the narrator, which tells.
struct Session {
    Session(const Scenario& s, const PlayOptions& o, SessionResult* r)
        : sc(s), opt(o), res(r), narrator(o, r, hudMoment(s, o)) {}

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
    std::vector<std::function<void()>> afterFrame;
    Millis spellEnd = -1; // the open out-of-play spell's end; -1 none

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
    void say(Millis at, Topic t, const std::string& text, int line = 0, bool failed = false) {
        tell(opt, at, t, text, line, failed);
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
    void expect(const Event& e, Millis at);
    void endSpell(Millis at);

    // The scenario's lines, one function for each kind.
    void apply(const Event& e, Millis at);
    void pressKey(const Event& e, Millis at);
    void pressControl(const Event& e, Millis at);
    void promptControl(const Event& e, Millis at);
    void complete(const Event& e, Millis at);
    void outOfPlay(const Event& e, Millis at);
    void backInPlay(const Event& e, Millis at);
    void enter(const Event& e, Millis at);
    void leave(const Event& e, Millis at);
    void target(const Event& e, Millis at);
    void cash(const Event& e, Millis at);
    void model(const Event& e, Millis at);
    void clockRate(const Event& e, Millis at);
    void clock(const Event& e, Millis at);
    void knob(const Event& e, Millis at);
    void expectLine(const Event& e, Millis at) { expect(e, at); }
    void restart(const Event& e, Millis at);
    void end(const Event&, Millis) {}
};

FrameState Session::readState() {
    FrameState s = pluginFrameState(st());
    const sim::World& world = w();
    s.global = world.intensityGlobal;
    auto effect = world.effects.find(PassOutEffect);
    s.passOutEffect = world.passOutLeftMs > 0 || (effect != world.effects.end() && effect->second != 0);
    s.scenarioRunning = world.scenarioRunning;
    s.speech = world.speech.size();
    s.nextPromptHandle = world.nextPromptHandle;
    return s;
}

// The snapshot of the frame just played; the calls were gathered as they came.
void Session::fillFrame() {
    const FrameState before = frame.state;
    const sim::World& world = w();
    frame.at = elapsed();
    frame.hostFrame = sim::frame();
    frame.played = res->frames;
    frame.state = readState();
    frame.prompts.clear();
    auto addPrompt = [&](int32_t handle) {
        auto it = world.prompts.find(handle);
        if (it != world.prompts.end()) frame.prompts.push_back({handle, it->second.label, it->second.alive});
    };
    frame.newPrompts.clear();
    for (int32_t h = before.nextPromptHandle; h < frame.state.nextPromptHandle; ++h) {
        frame.newPrompts.push_back(h);
        addPrompt(h);
    }
    addPrompt(before.drinkPromptHandle);
    addPrompt(before.refillPromptHandle);
    frame.spoken.clear();
    for (size_t i = before.speech; i < frame.state.speech && i < world.speech.size(); ++i)
        frame.spoken.push_back(world.speech[i]);
    frame.sprites = world.sprites;
    frame.playerPed = world.playerPed;
    frame.interior = world.interior;
    frame.target = world.target;
    frame.cash = world.cash;
    frame.passOutAfterMs = world.passOutAfterMs;
    frame.sipStart = sinceStart(st().sipStartTime);
    frame.deadeyeThreshold = settings().deadeyeLockThreshold;
    frame.stateKnown = sim::pluginState() != nullptr;
    frame.saveFile = saveFile();
}

void Session::onCall(const sim::Call& c) {
    if (!live) return;
    if (opt.onTrace)
        opt.onTrace(formatTime((Millis)(uint32_t)(c.timer - startTimer)) + "  " + sim::describe(c));
    noteCall(c, frame.calls);
}

void Session::apply(const Event& e, Millis at) {
    using K = Event::Kind;
    static const struct {
        K kind;
        void (Session::*apply)(const Event& e, Millis at);
    } Appliers[] = {
        {K::PressKey, &Session::pressKey},
        {K::PressControl, &Session::pressControl},
        {K::PromptControl, &Session::promptControl},
        {K::Complete, &Session::complete},
        {K::OutOfPlay, &Session::outOfPlay},
        {K::BackInPlay, &Session::backInPlay},
        {K::Enter, &Session::enter},
        {K::Leave, &Session::leave},
        {K::Target, &Session::target},
        {K::Cash, &Session::cash},
        {K::Model, &Session::model},
        {K::ClockRate, &Session::clockRate},
        {K::Clock, &Session::clock},
        {K::Knob, &Session::knob},
        {K::Expect, &Session::expectLine},
        {K::Restart, &Session::restart},
        {K::End, &Session::end},
    };
    for (const auto& a : Appliers)
        if (a.kind == e.kind) return (this->*a.apply)(e, at);
}

void Session::pressKey(const Event& e, Millis at) {
    const int64_t key = e.number >= 0 ? e.number : (int64_t)(uint32_t)settings().drinkKey;
    say(at, Topic::Action, e.written + (e.number < 0 ? " — " + keyName(key) : ""), e.line);
    sim::keyEvent((uint32_t)key, 0, 0, 1);
}

// An analogue control reads 1.0 for one frame.
void Session::pressControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    const uint32_t control = (uint32_t)e.number;
    w().analog[control] = 1.0f;
    afterFrame.push_back([this, control] { w().analog[control] = 0.0f; });
}

void Session::promptControl(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().promptControl = e.number == 2 ? 0 : 1;
    if (e.number == 0) afterFrame.push_back([this] { w().promptControl = 0; });
}

void Session::complete(const Event& e, Millis at) {
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

void Session::outOfPlay(const Event& e, Millis at) {
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

void Session::backInPlay(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    endSpell(at);
}

void Session::enter(const Event& e, Millis at) {
    const Saloon* s = saloonAt((int32_t)e.number);
    say(at, Topic::Action,
        e.written + (s ? " — interior " + std::to_string(s->interior) + ", bartender " + s->voice
                       : std::string(" — not a saloon")),
        e.line);
    w().interior = (int32_t)e.number;
}

void Session::leave(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().interior = 0;
}

// The player targets a bartender or a stranger, who stands e.value away.
void Session::target(const Event& e, Millis at) {
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

void Session::cash(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().cash = e.number;
}

void Session::model(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().playerModel = (uint32_t)e.number;
}

void Session::clockRate(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().clockPerSecond = e.value;
}

void Session::clock(const Event& e, Millis at) {
    say(at, Topic::Action, e.written, e.line);
    w().clock = (int32_t)e.number;
}

// set KNOB VALUE: the knobs of scenario.h, each a part of the game model.
void Session::knob(const Event& e, Millis at) {
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

bool Session::load(bool first, std::string* error) {
    sim::StartOptions o;
    o.pluginPath = opt.pluginPath;
    o.workDir = folder.path();
    // The scenario's files go into the folder once; a game started again finds
    // them as the last load left them.
    const bool recording = !opt.recordTo.empty();
    o.withSettings = first && (sc.withSettings || recording);
    o.settings = recording ? withRecordingOn(sc.settings, sc.withSettings) : sc.settings;
    o.withSave = first && sc.withSave;
    o.save = sc.save;
    o.record = false;
    o.observer = [this](const sim::Call& c) { onCall(c); };
    return sim::start(o, error);
}

// DllMain(DETACH) and the unload; the faults the host saw in this load are kept.
void Session::unload() {
    sim::stop();
    for (const std::string& v : sim::violations()) res->violations.push_back(v);
    if (!opt.recordTo.empty()) keepRecording();
}

// The run's recording, as the plug-in left it in the game's folder.
void Session::keepRecording() {
    const size_t run = res->recordings.size() + 1;
    const std::string to = run == 1 ? opt.recordTo : opt.recordTo + "." + std::to_string(run);
    std::error_code ec;
    std::filesystem::copy_file(folder.path() + "/Tolvenmire.rec", to,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        if (res->recordError.empty())
            res->recordError = "cannot keep the plug-in's recording as " + to + ": " + ec.message();
        return;
    }
    res->recordings.push_back(to);
}

void Session::restart(const Event& e, Millis at) {
    narrator.quit(at, e.line, w().outOfPlay, saveFile());
    const sim::World old = w();
    const uint32_t ticks = sim::tickCount();
    unload();
    sim::world() = carriedOver(old);
    sim::setTickCount(ticks); // the machine's clock does not stop for a game
    std::string error;
    if (!load(false, &error)) {
        broken = true;
        res->error = "the plug-in could not be started again after the restart at " + formatTime(at) +
                     (error.empty() ? std::string() : ": " + error);
        return;
    }
    // The new load's script starts at the next frame, from the plug-in's state at load.
    spellEnd = -1;
    frame.calls.clear();
    frame.state = readState();
    narrator.startedAgain(at, frame.state);
}

void Session::endSpell(Millis at) {
    if (!w().outOfPlay) return;
    w().outOfPlay = false;
    spellEnd = -1;
    narrator.spellEnds(at);
}

void Session::expect(const Event& e, Millis at) {
    const Expectation& x = e.expect;
    std::string got;
    const bool passed = holds(x, Looked{sim::pluginState(), w(), res->counts, saveFile()}, &got);
    ExpectResult r;
    r.at = at;
    r.line = e.line;
    r.written = x.written;
    r.passed = passed;
    r.got = got;
    res->expectations.push_back(r);
    res->recording.expectations.push_back({at, x.written, !passed});
    say(at, Topic::Expect, (passed ? "ok    " : "FAILED ") + x.written + (passed ? "" : " — got " + got),
        e.line, !passed);
}

void Session::playFrame() {
    frame.calls.clear();
    sim::playFrames(1);
    ++res->frames;
    fillFrame();
    narrator.frame(frame);
    for (auto& f : afterFrame) f();
    afterFrame.clear();
}

// The folder, the world as the scenario sets it up, and the first load.
bool Session::start() {
    std::string error;
    if (!folder.make(&error)) {
        res->error = error;
        return false;
    }
    frameMs = frameLength(sc.fps);
    sim::world().frameMs = (uint32_t)frameMs;
    // The load's registrations are traced too; the world keeps its timer across it.
    startTimer = w().timer;
    live = true;
    if (!load(true, &error)) {
        live = false;
        res->error = error.empty() ? "the plug-in could not be started" : error;
        return false;
    }
    return true;
}

// The settings as the plug-in read them, and the world at the start.
void Session::tellSetup() {
    if (!sim::pluginSettings()) fileSettings = settingsFromFile(sim::workDir() + "/Tolvenmire.ini");
    res->stateKnown = sim::pluginState() != nullptr;
    const Settings& s = settings();
    res->settings = settingsLine(s);
    const sim::World& world = w();
    char line[300];
    snprintf(
        line, sizeof line, "%d fps (%d ms frames) · cash %s · game clock %g units/s%s", sc.fps, frameMs,
        formatMoney(world.cash).c_str(), world.clockPerSecond,
        s.soberUpInterval > 0 && world.clockPerSecond > 0
            ? (" (sobering: 1 intake every " + fixed(s.soberUpInterval / world.clockPerSecond, 1) + " s)")
                  .c_str()
            : "");
    say(0, Topic::Start, res->settings);
    say(0, Topic::Start, line);
}

// The timed lines and the frames. Lines due by the next frame take effect before
// it; expectations look at the state after it, so that an expectation beside an
// action sees its effect. The last frame is the first at or after the session's
// end: the lines of the end's time are played and checked like any others.
void Session::playEvents() {
    for (const Event& e : sc.events) queue.push({e.at, seq++, &e});
    std::vector<Queued> expects;
    do {
        const Millis next = elapsed() + frameMs;
        while (!queue.empty() && queue.top().at <= next) {
            const Queued q = queue.top();
            queue.pop();
            if (q.event && q.event->kind == Event::Kind::Expect)
                expects.push_back(q);
            else if (q.event)
                apply(*q.event, q.at);
            else if (w().outOfPlay && spellEnd >= 0 && q.at >= spellEnd)
                endSpell(q.at);
            if (broken) return;
        }
        playFrame();
        for (const Queued& q : expects) expect(*q.event, q.at);
        expects.clear();
        if (opt.interrupted && opt.interrupted()) {
            interrupted = true;
            return;
        }
    } while (elapsed() < sc.end);
}

// What is still open at the end, the levels at the end, and the unload.
void Session::finish() {
    const Millis t = elapsed();
    narrator.finish(t, w().outOfPlay);
    res->recording.end = std::max<Millis>(sc.end, t);
    res->cash = w().cash;
    res->save = readSave(saveFile(), &res->saveExists);
    unload();
    live = false;
    for (const std::string& v : res->violations)
        say(t, Topic::Warning, "host: protocol fault: " + v, 0, true);
}

bool Session::run() {
    const auto wallStart = std::chrono::steady_clock::now();
    if (!start()) return false;
    tellSetup();
    for (const Event& e : sc.setup) apply(e, 0);
    frame.state = readState();
    narrator.begin(frame.state);
    playEvents();
    if (broken) {
        live = false;
        return false;
    }
    if (interrupted) {
        unload();
        live = false;
        res->error = "interrupted";
        return false;
    }
    finish();
    res->wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return true;
}

} // namespace

GameFolder::~GameFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

bool GameFolder::make(std::string* error) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        *error = "cannot find the folder for temporary files: " + ec.message();
        return false;
    }
    // A new name until one is free; making the folder is what claims it.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        snprintf(name, sizeof name, "tolvenmire-sim-%08x", (unsigned)random());
        const std::filesystem::path folder = base / name;
#ifdef _WIN32
        // The temporary folder is the user's own, and a folder made in it too.
        const bool made = std::filesystem::create_directory(folder, ec);
#else
        // Private from the start: the settings file copied in may be.
        const bool made = mkdir(folder.c_str(), 0700) == 0;
        if (!made && errno != EEXIST) ec = std::error_code(errno, std::generic_category());
#endif
        if (made) {
            path_ = folder.string();
            return true;
        }
        if (ec) {
            *error = "cannot make a folder " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    *error = "cannot make a folder under " + base.string() + ": every name tried is taken";
    return false;
}

std::string withRecordingOn(const std::string& settings, bool withSettings) {
    if (!withSettings) return "[SETTINGS]\nRECORD_SESSION=1\n";
    // The text as the plug-in's reader sees it: bytes after an optional UTF-8
    // byte-order mark, or UTF-16 code units after a UTF-16 one.
    const unsigned char* b = (const unsigned char*)settings.data();
    const size_t size = settings.size();
    size_t start = 0;
    int unit = 1;
    bool bigEndian = false;
    if (size >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        start = 2, unit = 2, bigEndian = b[0] == 0xFE;
    } else if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        start = 3;
    }
    const size_t count = (size - start) / unit;
    auto at = [&](size_t i) -> unsigned {
        if (unit == 1) return b[start + i];
        const size_t k = start + 2 * i;
        const unsigned u = bigEndian ? (unsigned)b[k] << 8 | b[k + 1] : (unsigned)b[k + 1] << 8 | b[k];
        return u < 0x80 ? u : 0x80;
    };
    auto blank = [](unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; };
    // Text in the file's own encoding.
    auto encoded = [&](const std::string& ascii) {
        if (unit == 1) return ascii;
        std::string out;
        for (char c : ascii) {
            out += bigEndian ? '\0' : c;
            out += bigEndian ? c : '\0';
        }
        return out;
    };
    const std::string line = "RECORD_SESSION=1\n";
    // The first header naming SETTINGS: its name runs to the line's last ']', up to
    // a NUL, blanks around it and the case of its letters not counting.
    for (size_t p = 0; p < count;) {
        size_t e = p;
        while (e < count && at(e) != '\n' && at(e) != '\r') ++e;
        const size_t next = e < count ? e + 1 : count;
        size_t lb = p, le = e;
        while (lb < le && blank(at(lb))) ++lb;
        while (le > lb && blank(at(le - 1))) --le;
        if (lb < le && at(lb) == '[') {
            size_t close = le - 1;
            while (close > lb && at(close) != ']') --close;
            size_t nb = lb + 1, ne = close;
            for (size_t k = nb; k < ne; ++k)
                if (at(k) == 0) ne = k;
            while (nb < ne && blank(at(nb))) ++nb;
            while (ne > nb && blank(at(ne - 1))) --ne;
            std::string name;
            for (size_t k = nb; k < ne; ++k) name += (char)toupper((int)at(k));
            if (close > lb && name == "SETTINGS") {
                // After the header's line end (a CR LF whole), so that the key is
                // the first of the section.
                size_t after = next;
                if (e < count && at(e) == '\r' && next < count && at(next) == '\n') ++after;
                const size_t offset = start + after * unit;
                return settings.substr(0, offset) + encoded(e < count ? line : "\n" + line) +
                       settings.substr(offset);
            }
        }
        p = next;
    }
    // No such section: one at the end, after the last whole line.
    const size_t offset = start + count * unit;
    const bool lineEnded = count == 0 || at(count - 1) == '\n' || at(count - 1) == '\r';
    return settings.substr(0, offset) +
           encoded((lineEnded ? "" : "\n") + std::string("[SETTINGS]\n") + line) + settings.substr(offset);
}

void noteCall(const sim::Call& c, FrameCalls& seen) {
    if (c.kind != sim::CallKind::Native) return;
    switch (c.hash) {
    case OutOfPlayQuery:
        if (c.resultInt() != 0) seen.heldQuery = true;
        break;
    case PlayerPedQuery:
        seen.tick = true;
        break;
    case PromptCompleted:
        if (c.resultInt() != 0) seen.completed.push_back(c.i32(0));
        break;
    case ControlValue: {
        const float v = c.resultFloat();
        if (v < 0.0f || v > 0.0f) seen.stopRead = true;
        break;
    }
    case PlayerControl:
        (c.i32(1) == 0 ? seen.controlTaken : seen.controlBack) = true;
        break;
    case FadeOut:
        seen.fadeOut = true;
        break;
    case FadeIn:
        seen.fadeIn = true;
        break;
    case TakeCash:
        seen.charges.push_back(c.i32(0));
        break;
    case RestorePed:
        seen.restored = true;
        break;
    case FirstHealingRate:
        seen.healing = c.f32(1) == 1.0f ? 1 : 0;
        break;
    default:
        break;
    }
}

bool play(const Scenario& scenario, const PlayOptions& options, SessionResult* result) {
    *result = SessionResult();
    result->recording.title = scenario.path;
    result->recording.subtitle =
        (scenario.withSettings ? "settings: " + scenario.settingsSource : std::string("default settings")) +
        " · " + (scenario.withSave ? "save file \"" + scenario.save + "\"" : std::string("no save file")) +
        " · " + std::to_string(scenario.fps) + " fps";
    Session s(scenario, options, result);
    return s.run();
}

} // namespace player
