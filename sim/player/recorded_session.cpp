#include "player/recorded_session.h"

#include "player/frame.h"
#include "player/game_folder.h"
#include "player/narration.h"
#include "player/settings_file.h"
#include "player/time_money_text.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "replay/recording_reader.h"
#include "standin/native_table.h"
#include "standin/printable_text.h"
#include "standin/progress.h"

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <map>

namespace player {

namespace {

// The world as the plug-in's calls and the game's answers show it.
struct SeenWorld {
    std::map<int32_t, PromptSeen> prompts;
    std::map<uint64_t, std::string> texts; // label text handles -> text
    std::vector<sim::Speech> speech;       // the whole session's
    std::vector<sim::Sprite> sprites;      // the frame's
    std::vector<int32_t> newPrompts;       // the frame's
    int32_t playerPed = 0, interior = 0, target = 0;
    bool scenarioRunning = false, passOutEffect = false;

    // A game started again: what the old run had put into the game is gone.
    void restart() {
        prompts.clear();
        texts.clear();
        sprites.clear();
        newPrompts.clear();
        scenarioRunning = passOutEffect = false;
    }
    void see(const sim::Call& c, int frame);
};

void SeenWorld::see(const sim::Call& c, int frame) {
    switch (c.hash) {
    case natives::PlayerPedId:
        playerPed = c.resultInt();
        break;
    case natives::UiPromptRegisterBegin: {
        const int32_t h = c.resultInt();
        prompts[h] = {h, std::string(), true};
        newPrompts.push_back(h);
        break;
    }
    case natives::VarString:
        texts[c.result[0]] = c.text[2];
        break;
    case natives::UiPromptSetText:
        if (auto p = prompts.find(c.i32(0)); p != prompts.end()) {
            auto t = texts.find(c.args[1]);
            p->second.label = t == texts.end() ? std::string() : t->second;
        }
        break;
    case natives::UiPromptDelete:
        if (auto p = prompts.find(c.i32(0)); p != prompts.end()) p->second.alive = false;
        break;
    case natives::PlayPedAmbientSpeechNative:
        speech.push_back(sim::speechOf(c, frame));
        break;
    case natives::DrawSprite:
        sprites.push_back(sim::spriteOf(c));
        break;
    case natives::IsPedUsingScenarioHash:
        scenarioRunning = c.resultInt() != 0;
        break;
    case natives::ClearPedTasks:
        if (c.i32(0) == playerPed) scenarioRunning = false;
        break;
    case natives::AnimpostfxIsRunning:
        if (c.text[0] == sim::PassOutEffect) passOutEffect = c.resultInt() != 0;
        break;
    case natives::GetInteriorFromEntity:
        if (c.i32(0) == playerPed) interior = c.resultInt();
        break;
    case natives::GetPlayerInteractionTargetEntity: {
        int32_t handle = 0;
        if (c.resultInt() != 0 && c.args[1])
            memcpy(&handle, (const void*)(uintptr_t)c.args[1], sizeof handle);
        target = handle;
        break;
    }
    default:
        break;
    }
}

struct ReplaySession {
    ReplaySession(const std::vector<ReplayRun>& r, const PlayOptions& o, ReplayOutcome* out, uint64_t most,
                  sim::Progress* p)
        : runs(r), opt(o), outcome(out), res(&out->session),
          narrator(o, &out->session, o.hasHudAt ? o.hudAt : -1), maxFrames(most), progress(p) {}

    const std::vector<ReplayRun>& runs;
    const PlayOptions& opt;
    ReplayOutcome* outcome;
    SessionResult* res;
    Narrator narrator;
    uint64_t maxFrames;
    sim::Progress* progress;

    GameFolder folder;
    SeenWorld seen;
    FrameSnapshot frame;
    uint32_t startTimer = 0;
    bool live = false;
    bool callsInFrame = false;
    bool held = false;       // the script holds: a mission is under way, as far as it knows
    bool clockKnown = false; // startTimer is set

    // A build that exports no state is told by its calls alone; its settings are
    // the recording's.
    ScriptState unknownState = {};
    Settings recordedSettings = {};
    const ScriptState& st() { return sim::pluginState() ? *sim::pluginState() : unknownState; }
    const Settings& settings() { return sim::pluginSettings() ? *sim::pluginSettings() : recordedSettings; }
    Millis elapsed() { return (Millis)(uint32_t)(sim::world().timer - startTimer); }
    std::string saveFile() { return sim::workDir() + "/Tolvenmire.dat"; }

    bool run();
    bool load(const ReplayRun& r, std::string* error);
    void onCall(const sim::Call& c);
    void tellSetup();
    FrameState readState();
    void fillFrame();
    void playFrame();
    void finish();
};

FrameState ReplaySession::readState() {
    FrameState s = pluginFrameState(st());
    s.global = sim::world().intensityGlobal;
    s.passOutEffect = seen.passOutEffect;
    s.scenarioRunning = seen.scenarioRunning;
    s.speech = seen.speech.size();
    return s;
}

void ReplaySession::fillFrame() {
    const FrameState before = frame.state;
    frame.at = elapsed();
    frame.hostFrame = sim::frame();
    frame.played = res->frames;
    frame.state = readState();
    frame.prompts.clear();
    frame.newPrompts = seen.newPrompts;
    auto addPrompt = [&](int32_t handle) {
        auto it = seen.prompts.find(handle);
        if (it != seen.prompts.end()) frame.prompts.push_back(it->second);
    };
    for (int32_t h : frame.newPrompts) addPrompt(h);
    addPrompt(before.drinkPromptHandle);
    addPrompt(before.refillPromptHandle);
    frame.spoken.clear();
    for (size_t i = before.speech; i < frame.state.speech && i < seen.speech.size(); ++i)
        frame.spoken.push_back(seen.speech[i]);
    frame.sprites = seen.sprites;
    frame.playerPed = seen.playerPed;
    frame.interior = seen.interior;
    frame.target = seen.target;
    frame.cash = 0;
    frame.passOutAfterMs = 0;
    frame.sipStart = (Millis)(int32_t)((uint32_t)st().sipStartTime - startTimer);
    frame.deadeyeThreshold = settings().deadeyeLockThreshold;
    frame.stateKnown = sim::pluginState() != nullptr;
    frame.saveFile = saveFile();
    frame.fromRecording = true;
}

void ReplaySession::onCall(const sim::Call& c) {
    if (!live) return;
    // The first load's registrations come before the recording's clock is known: at 0.
    if (opt.onTrace)
        opt.onTrace(formatTime(clockKnown ? (Millis)(uint32_t)(c.timer - startTimer) : 0) + "  " +
                    sim::describe(c));
    callsInFrame = true;
    if (opt.onCall) opt.onCall(c, res->frames + 1);
    noteCall(c, frame.calls);
    if (c.kind == sim::CallKind::Native) seen.see(c, sim::frame());
}

bool ReplaySession::load(const ReplayRun& r, std::string* error) {
    sim::StartOptions o;
    o.pluginPath = opt.pluginPath;
    o.workDir = folder.path();
    o.record = false;
    o.replay = r.recording;
    o.replayEvents = r.events;
    o.observer = [this](const sim::Call& c) { onCall(c); };
    return sim::start(o, error);
}

// The settings as the plug-in read them from the recording's, and what the
// recording cannot say.
void ReplaySession::tellSetup() {
    recordedSettings = settingsFromAnswers(runs[0].recording->settings);
    res->stateKnown = sim::pluginState() != nullptr;
    res->settings = settingsLine(settings());
    char b[400];
    tell(opt, 0, Topic::Start, res->settings);
    snprintf(b, sizeof b,
             "frames of %u ms, as the game timer reads · the player's cash and the game clock's rate are not "
             "in the recording",
             (unsigned)sim::world().frameMs);
    tell(opt, 0, Topic::Start, b);
}

void ReplaySession::playFrame() {
    frame.calls.clear();
    seen.sprites.clear();
    seen.newPrompts.clear();
    callsInFrame = false;
    sim::playFrames(1);
    // A frame in which the script did not run (the recording ended at its resume)
    // shows nothing.
    if (!callsInFrame) return;
    ++res->frames;
    fillFrame();
    // The missions, as the script's hold shows them: the game's own moments are
    // not in the recording.
    if (frame.calls.heldQuery && !held) narrator.missionBegins(frame.at);
    narrator.frame(frame);
    if (opt.onFrame) opt.onFrame(frame);
    if (held && frame.calls.tick) narrator.missionEnds(frame.at, false);
    if (frame.calls.heldQuery) held = true;
    if (frame.calls.tick) held = false;
}

void ReplaySession::finish() {
    const Millis t = elapsed();
    narrator.finish(t, held);
    res->recording.end = t;
    res->cashKnown = false;
    res->save = readSave(saveFile(), &res->saveExists);
    sim::stop();
    for (const std::string& v : sim::violations()) res->violations.push_back(v);
    live = false;
    for (const std::string& v : res->violations)
        tell(opt, t, Topic::Warning, "host: protocol fault: " + v, 0, true);
}

bool ReplaySession::run() {
    const auto wallStart = std::chrono::steady_clock::now();
    std::string error;
    if (!folder.make(&error)) {
        res->error = error;
        return false;
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const bool first = i == 0;
        live = true;
        if (!load(runs[i], &error)) {
            live = false;
            res->error = error.empty() ? "the plug-in could not be started" : error;
            return false;
        }
        outcome->run = (int)i;
        if (first) {
            startTimer = sim::world().timer;
            clockKnown = true;
            tellSetup();
            frame.state = readState();
            narrator.begin(frame.state);
        } else {
            // The game quit between the two runs, at a moment the recordings do not
            // hold: told at the new run's first frame, as the game started again there.
            const Millis quitAt = elapsed() + (Millis)sim::world().frameMs;
            narrator.quit(quitAt, 0, held, saveFile());
            if (held) narrator.missionEnds(quitAt, false);
            seen.restart();
            frame.calls.clear();
            frame.state = readState();
            held = false;
            narrator.startedAgain(quitAt, frame.state);
        }
        bool stopped = false; // Ctrl-C
        // Every frame resumes the script or ends the replay (at a difference or at the
        // recording's end); a recording longer than the limit is stopped one frame
        // past it, with no verdict.
        while (!sim::replayOver() && !stopped) {
            playFrame();
            sim::progressAt(progress, (uint64_t)res->frames);
            if ((uint64_t)res->frames > maxFrames) {
                outcome->cutOff = true;
                break;
            }
            stopped = opt.interrupted && opt.interrupted();
        }
        if (stopped) {
            sim::stop();
            live = false;
            res->error = "interrupted";
            return false;
        }
        outcome->status = sim::replayStatus();
        outcome->events += outcome->status.next;
        outcome->at = (Millis)(uint32_t)(outcome->status.gameTime - startTimer);
        if (outcome->status.diverged || outcome->cutOff || i + 1 == runs.size()) break;
        sim::stop();
        for (const std::string& v : sim::violations()) res->violations.push_back(v);
    }
    finish();
    res->wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return true;
}

} // namespace

bool replay(const std::vector<ReplayRun>& runs, const PlayOptions& options, ReplayOutcome* outcome,
            uint64_t maxFrames) {
    *outcome = ReplayOutcome();
    SessionResult& r = outcome->session;
    if (runs.empty()) {
        r.error = "no recording to replay";
        return false;
    }
    r.recording.title = runs[0].path;
    const rec::Recording& first = *runs[0].recording;
    r.recording.subtitle =
        "a recording of Tolvenmire " + sim::printable(first.pluginVersion) + " · " +
        (first.saveFound ? "save file " + quoted(first.saveBytes) : std::string("no save file")) +
        (runs.size() > 1 ? " · " + std::to_string(runs.size()) + " runs" : std::string());
    // The progress line on standard error goes before each line of the timeline.
    sim::Progress progress;
    uint64_t frames = 0;
    for (const ReplayRun& run : runs) frames += run.frames;
    sim::progressBegin(&progress, "replaying " + sim::printable(runs[0].path), frames);
    PlayOptions shown = options;
    if (options.onEntry)
        shown.onEntry = [&](const Entry& e) {
            sim::progressClear(&progress);
            options.onEntry(e);
        };
    if (options.onTrace)
        shown.onTrace = [&](const std::string& line) {
            sim::progressClear(&progress);
            options.onTrace(line);
        };
    ReplaySession s(runs, shown, outcome, maxFrames, &progress);
    const bool ran = s.run();
    sim::progressEnd(&progress);
    return ran;
}

namespace {

// The native of a call as describe() tells it ("frame 12  0x<16 digits> ..."), or
// nullptr for a line that is no known native's.
const sim::NativeInfo* nativeOfLine(const std::string& line) {
    const size_t at = line.find("  0x");
    if (at == std::string::npos || line.size() < at + 20) return nullptr;
    return sim::findNative(std::strtoull(line.c_str() + at + 2, nullptr, 16));
}

} // namespace

std::vector<std::string> differenceLines(const ReplayOutcome& outcome, const ReplayRun& run) {
    const sim::ReplayStatus& s = outcome.status;
    std::vector<std::string> out;
    char b[300];
    // Without a game-timer reading before it, the time is reckoned from the frames.
    char timer[64];
    if (s.timerRead)
        snprintf(timer, sizeof timer, "game timer %" PRIu32, s.gameTime);
    else
        snprintf(timer, sizeof timer, "reckoned from its frames: no game timer read");
    snprintf(b, sizeof b,
             "The plug-in departs from the recording at frame %d, %s into the session (%s), in block %d of ",
             s.frame, formatTime(outcome.at).c_str(), timer, s.block);
    out.push_back(b + sim::printable(run.path) + ":");
    out.push_back("  recorded: " + s.recorded);
    out.push_back("  made:     " + s.made);
    // What the plug-in asks the game there, in a few words.
    const sim::NativeInfo* recorded = nativeOfLine(s.recorded);
    const sim::NativeInfo* made = nativeOfLine(s.made);
    for (const sim::NativeInfo* n : {recorded, made == recorded ? nullptr : made})
        if (n) out.push_back("  " + natives::fullName(*n) + ": " + n->role);
    if (!s.before.empty()) {
        out.push_back("  the calls before it, as recorded and made alike:");
        for (const std::string& line : s.before) out.push_back("    " + line);
    }
    return out;
}

} // namespace player
