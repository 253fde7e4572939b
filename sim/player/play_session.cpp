#include "player/play_session.h"

#include "player/expectations.h"
#include "player/scenario_session.h"
#include "player/settings_file.h"
#include "player/time_money_text.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <chrono>
#include <filesystem>

namespace player {

namespace {

// The world of a game started again: time runs on, and the player, where he is,
// his money and health and the game's own settings are as they were; what the old
// plug-in's run had put into the game (prompts, the drinking scenario, screen
// effects, the intensity global, the loaded texture dictionaries) is not there, and
// neither is a mission or a death under way: the player starts alive, in free roam.
sim::World carriedOver(const sim::World& old) {
    sim::World w;
    w.timer = old.timer;
    w.frameMs = old.frameMs;
    w.clock = old.clock;
    w.clockPerSecond = old.clockPerSecond;
    w.clockCarry = old.clockCarry;
    w.playerPed = old.playerPed;
    w.playerModel = old.playerModel;
    w.onFoot = old.onFoot;
    w.playerX = old.playerX;
    w.playerY = old.playerY;
    w.playerZ = old.playerZ;
    w.keyboardAndMouse = old.keyboardAndMouse;
    // The player's hands stay on the controls.
    w.satchelReleased = old.satchelReleased;
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
    w.freeAiming = old.freeAiming;
    w.autoPassOut = old.autoPassOut;
    w.passOutAfterMs = old.passOutAfterMs;
    w.passOutDurationMs = old.passOutDurationMs;
    w.passOuts = old.passOuts;
    w.overrides = old.overrides;
    return w;
}

// How fast the player sobers: a unit of intake every soberUpInterval in-game seconds
// of the clock, looked at once a second, so at most a unit a second.
std::string sobering(int32_t interval, double clockPerSecond) {
    if (interval <= 0 || clockPerSecond <= 0) return "";
    const double every = interval / clockPerSecond;
    const std::string asked = fixed(every, every < 0.1 ? 3 : 1);
    if (every >= 1.0) return " (sobering: 1 intake every " + asked + " s)";
    return " (sobering: 1 intake a second, the most the plug-in does, though the settings ask for 1 every " +
           asked + " s)";
}

// The HUD picture's moment: the option's, else the scenario's, else -1 (the last
// frame that drew sprites).
Millis hudMoment(const Scenario& sc, const PlayOptions& opt) {
    return opt.hasHudAt ? opt.hudAt : sc.hasHudAt ? sc.hudAt : -1;
}

} // namespace

ScenarioSession::ScenarioSession(const Scenario& s, const PlayOptions& o, SessionResult* r)
    : sc(s), opt(o), res(r), narrator(o, r, hudMoment(s, o)) {}

FrameState ScenarioSession::readState() {
    FrameState s = pluginFrameState(st());
    const sim::World& world = w();
    s.global = world.intensityGlobal;
    auto effect = world.effects.find(sim::PassOutEffect);
    s.passOutEffect = world.passOutLeftMs > 0 || (effect != world.effects.end() && effect->second != 0);
    s.scenarioRunning = world.scenarioRunning;
    s.speech = world.speech.size();
    s.nextPromptHandle = world.nextPromptHandle;
    return s;
}

// The snapshot of the frame just played; the calls were gathered as they came.
void ScenarioSession::fillFrame() {
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

void ScenarioSession::onCall(const sim::Call& c) {
    if (!live) return;
    if (opt.onTrace)
        opt.onTrace(formatTime((Millis)(uint32_t)(c.timer - startTimer)) + "  " + sim::describe(c));
    if (opt.onCall) opt.onCall(c, res->frames + 1);
    noteCall(c, frame.calls);
}

bool ScenarioSession::load(bool first, std::string* error) {
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
void ScenarioSession::unload() {
    sim::stop();
    for (const std::string& v : sim::violations()) res->violations.push_back(v);
    if (!opt.recordTo.empty()) keepRecording();
}

// The run's recording, as the plug-in left it in the game's folder.
void ScenarioSession::keepRecording() {
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

void ScenarioSession::restart(const Event& e, Millis at) {
    narrator.quit(at, e.line, w().missionFlag, saveFile());
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
    missionEnd = -1;
    deathEnd = -1;
    frame.calls.clear();
    frame.state = readState();
    narrator.startedAgain(at, frame.state);
}

void ScenarioSession::endMission(Millis at) {
    if (!w().missionFlag) return;
    w().missionFlag = false;
    missionEnd = -1;
    narrator.missionEnds(at);
}

void ScenarioSession::endDeath(Millis at) {
    w().dead = false;
    deathEnd = -1;
    say(at, Topic::Player,
        std::string("the player is alive again") +
            (w().onFoot   ? ", on foot"
             : diedOnFoot ? "; not on foot (mounted by a line while he was dead)"
                          : "; still not on foot (mounted when he died: the model keeps him so)"));
}

void ScenarioSession::expect(const Event& e, Millis at, const std::string& before) {
    const Expectation& x = e.expect;
    std::string got;
    const bool passed =
        holds(x, Looked{sim::pluginState(), w(), res->counts, saveFile(), narrator.holding()}, &got);
    ExpectResult r;
    r.at = at;
    r.line = e.line;
    r.written = x.written;
    r.passed = passed;
    r.got = got;
    res->expectations.push_back(r);
    res->recording.expectations.push_back({at, x.written, !passed});
    // Told in the timeline's order: after the frame it looked at (at that frame's
    // time, when its own comes earlier), or before what it came before. Either way
    // it saw the state after the frames played so far.
    const Millis told = before.empty() ? std::max(at, elapsed()) : at;
    std::string note;
    if (!before.empty())
        note = " (seen before " + before + ", in the same frame)";
    else if (formatTime(told) != formatTime(at))
        note = " (written for " + formatTime(at) + ")";
    tell(opt, told, Topic::Expect,
         (passed ? "ok    " : "FAILED ") + x.written + (passed ? "" : " — got " + got) + note, e.line,
         !passed, res->frames);
}

void ScenarioSession::playFrame() {
    frame.calls.clear();
    w().frameMs = upcoming;
    if (!lengths.empty()) lengths.pop_front();
    sim::playFrames(1);
    ++res->frames;
    if (opt.onFramePlayed) opt.onFramePlayed(res->frames);
    fillFrame();
    narrator.frame(frame);
    if (opt.onFrame) opt.onFrame(frame);
    // What lasts its frames ends after the last of them, in the order it was written.
    std::vector<std::function<void()>> due;
    size_t kept = 0;
    for (auto& [left, undo] : afterFrames) {
        if (--left <= 0)
            due.push_back(std::move(undo));
        else
            afterFrames[kept++] = {left, std::move(undo)};
    }
    afterFrames.resize(kept);
    for (auto& undo : due) undo();
}

// The folder, the world as the scenario sets it up, and the first load.
bool ScenarioSession::start() {
    std::string error;
    if (!folder.make(&error)) {
        res->error = error;
        return false;
    }
    frameMs = frameLength(sc.fps);
    upcoming = (uint32_t)frameMs;
    sim::world().frameMs = (uint32_t)frameMs;
    if (sc.hasGameTimer) w().timer = sc.gameTimer;
    // The load's registrations are traced too; the world keeps its timer across it.
    startTimer = w().timer;
    live = true;
    if (!load(true, &error)) {
        live = false;
        res->error = error.empty() ? "the plug-in could not be started" : error;
        return false;
    }
    if (sc.hasTickCount) sim::setTickCount(sc.tickCount);
    return true;
}

// The next frame's length: the frames lines due by now installed, then the first
// length they give, else the frame rate's.
uint32_t ScenarioSession::nextLength() {
    while (nextFrameLine < frameLines.size() && frameLines[nextFrameLine]->at <= elapsed())
        frameTimes(*frameLines[nextFrameLine++], elapsed());
    return lengths.empty() ? (uint32_t)frameMs : lengths.front();
}

// The settings as the plug-in read them, the setup's world lines, and the world
// they make at the start.
void ScenarioSession::tellSetup() {
    if (!sim::pluginSettings()) fileSettings = settingsFromFile(sim::workDir() + "/Tolvenmire.ini");
    res->stateKnown = sim::pluginState() != nullptr;
    const Settings& s = settings();
    res->settings = settingsLine(s);
    say(0, Topic::Start, res->settings);
    for (const Event& e : sc.setup) apply(e, 0);
    const sim::World& world = w();
    char line[400];
    snprintf(line, sizeof line,
             "%d fps (%d ms frames) · cash %s · %s · game clock %s, %g in-game s a second%s", sc.fps, frameMs,
             formatMoney(world.cash).c_str(), playerLine().c_str(), formatGameClock(world.clock).c_str(),
             world.clockPerSecond, sobering(s.soberUpInterval, world.clockPerSecond).c_str());
    say(0, Topic::Start, line);
}

// The player as the game answers for him: his input, on foot or not, aiming or not.
std::string ScenarioSession::playerLine() {
    const sim::World& world = w();
    return std::string("the player ") + (world.onFoot ? "on foot" : "mounted") + " with " +
           (world.keyboardAndMouse ? "keyboard and mouse" : "a controller") +
           (world.freeAiming ? ", aiming" : ", not aiming");
}

// The timed lines and the frames. Lines due by the next frame take effect before
// it, in time and file order; an expectation looks at the state after it, so that
// it sees what the lines before it did, unless a later line takes effect in the
// same frame: it is then checked before that line, and never sees it. The last
// frame is the first at or after the session's end: the lines of the end's time are
// played and checked like any others.
void ScenarioSession::playEvents() {
    for (const Event& e : sc.events) {
        if (e.kind == Event::Kind::FrameTimes)
            frameLines.push_back(&e);
        else
            queue.push({e.at, seq++, &e});
    }
    std::vector<Queued> expects;
    // The expectations waiting for the frame whose time comes before `until`, checked
    // now, before `what` happens.
    auto checkNow = [&](const std::string& what, Millis until) {
        size_t kept = 0;
        for (const Queued& q : expects) {
            if (q.at < until)
                expect(*q.event, q.at, what);
            else
                expects[kept++] = q;
        }
        expects.resize(kept);
    };
    do {
        upcoming = nextLength();
        const Millis next = elapsed() + upcoming;
        while (!queue.empty() && queue.top().at <= next) {
            const Queued q = queue.top();
            queue.pop();
            if (q.event && q.event->kind == Event::Kind::Expect) {
                expects.push_back(q);
                continue;
            }
            // A line comes after every expectation waiting (an earlier time, or the
            // same time earlier in the file); the end of a mission or of a death at
            // its time comes before an expectation of that time.
            if (q.event) {
                if (q.event->kind != Event::Kind::End)
                    checkNow("line " + std::to_string(q.event->line), INT64_MAX);
                apply(*q.event, q.at);
            } else if (q.death && w().dead && deathEnd >= 0 && q.at >= deathEnd) {
                checkNow("the death's end at " + formatTime(q.at), q.at);
                endDeath(q.at);
            } else if (!q.death && w().missionFlag && missionEnd >= 0 && q.at >= missionEnd) {
                checkNow("the mission's end at " + formatTime(q.at), q.at);
                endMission(q.at);
            }
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
void ScenarioSession::finish() {
    const Millis t = elapsed();
    narrator.finish(t, w().missionFlag);
    res->recording.end = std::max<Millis>(sc.end, t);
    res->cash = w().cash;
    res->save = readSave(saveFile(), &res->saveExists);
    unload();
    live = false;
    for (const std::string& v : res->violations)
        say(t, Topic::Warning, "host: protocol fault: " + v, 0, true);
}

bool ScenarioSession::run() {
    const auto wallStart = std::chrono::steady_clock::now();
    if (!start()) return false;
    tellSetup();
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

bool play(const Scenario& scenario, const PlayOptions& options, SessionResult* result) {
    *result = SessionResult();
    result->recording.title = scenario.path;
    result->recording.subtitle =
        (scenario.withSettings ? "settings: " + scenario.settingsSource : std::string("default settings")) +
        " · " + (scenario.withSave ? "save file \"" + scenario.save + "\"" : std::string("no save file")) +
        " · " + std::to_string(scenario.fps) + " fps";
    ScenarioSession s(scenario, options, result);
    return s.run();
}

} // namespace player
