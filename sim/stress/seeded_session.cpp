// One seed's session from its start to its end (seeded_session.h): the world set up
// and the plug-in loaded, the game time played frame by frame with every frame
// checked, a quiet end, the unload, and the result.
#include "stress/seeded_session.h"

#include "base/settings.h"

#include <cstdio>

namespace stress {

std::string shown(const std::optional<std::string>& s) {
    if (!s) return "(no file)";
    std::string out = "\"";
    for (char c : *s) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\')
            out += c;
        else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", (unsigned char)c);
            out += b;
        }
    }
    return out + "\"";
}

void Session::log(const std::string& what) {
    const std::string line = "frame " + std::to_string(sim::frame()) + ": " + what;
    if (options_.onAction) options_.onAction(line);
    recent_.push_back(line);
    if (recent_.size() > 25) recent_.pop_front();
}

bool Session::fail(const std::string& what) {
    if (!result_.failure.empty()) return false;
    result_.passed = false;
    result_.failure = what;
    result_.frame = sim::frame();
    for (const std::string& l : recent_) result_.recent += "    " + l + "\n";
    return false;
}

void Session::wound() {
    if (folderReadOnly_) setFolderReadOnly(false);
    if (fileReadOnly_) setFileReadOnly(false);
}

SessionResult Session::run() {
    result_.passed = false;
    if (sim::running()) {
        result_.failure = "a session is already running";
        return result_;
    }
    if (!startPlugin()) return result_;
    bool ok = playGameTime();
    if (ok) ok = playToTheEnd();
    return finish(ok);
}

// The world, the files and the plug-in loaded; false, with the failure, when it
// cannot be.
bool Session::startPlugin() {
    setUpWorld();
    const sim::StartOptions o = startOptions();
    log("settings " + (o.withSettings ? shown(o.settings) : std::string("(no file)")) + ", save " +
        (o.withSave ? shown(o.save) : std::string("(no file)")));
    std::string error;
    if (!sim::start(o, &error)) {
        result_.failure = "cannot start the plug-in: " + error;
        return false;
    }
    drinkKey_ = (uint32_t)sim::pluginSettings()->drinkKey;
    watchSaveFolder();
    startInputs();
    return true;
}

// The settings file and the save file the session starts with, the hostile game
// and the recording when asked for, and the observer of every call.
sim::StartOptions Session::startOptions() {
    sim::StartOptions o;
    o.pluginPath = options_.pluginPath;
    o.record = false;
    o.withSettings = !rng_.oneIn(5);
    if (o.withSettings) o.settings = makeSettings();
    o.withSave = !rng_.oneIn(4);
    if (o.withSave) o.save = makeSave();
    if (options_.hostileRate > 0.0) {
        hostile_.emplace(result_.seed, options_.hostileRate);
        hostile_->setUp();
        result_.hostileRate = options_.hostileRate;
    }
    o.observer = [this](const sim::Call& c) {
        if (c.kind == sim::CallKind::Native && options_.keys == KeyDelivery::InsideFrames) deliverHeldKeys();
        observe(c);
        if (hostile_) hostile_->observe(c);
    };
    if (o.withSave) saveContent_ = o.save;
    if (!options_.recordTo.empty()) recordInto(&o);
    return o;
}

// Once the plug-in is loaded: the tick count, the keyboard's threads, and the burst
// of keys before the first frame when the session delivers them so.
void Session::startInputs() {
    if (rng_.oneIn(4)) {
        // The tick count close to its wrap.
        const uint32_t tick = 0xFFFFFFFFu - (uint32_t)rng_.range(0, 60000);
        sim::setTickCount(tick);
        log("tick count " + std::to_string(tick));
    }
    result_.keyboardThread = rng_.oneIn(4);
    if (result_.keyboardThread) keyboard_.emplace();
    if (rng_.oneIn(4)) noise_.emplace(rng_.next(), drinkKey_);
    lastLoopQuery_ = sim::world().timer;
    if (options_.keys == KeyDelivery::BeforeStart) sendBurst(1);
}

// The game time played, frame by frame: a hostile game's timer jumps do not count.
bool Session::playGameTime() {
    uint64_t played = 0;
    bool ok = true;
    while (ok && played < options_.gameMs) {
        act();
        if (hostile_) hostile_->act([this](const std::string& line) { log(line); });
        played += sim::world().frameMs;
        controlValueSeen_ = stopSeen_ = refillSaveSeen_ = false;
        sim::playFrames(1);
        ok = checkFrame();
        if (options_.onFrame) options_.onFrame(played);
    }
    return ok;
}

// The end: back in play and left alone until every sequence has run out.
bool Session::playToTheEnd() {
    sim::World& w = sim::world();
    if (hostile_) hostile_->calm();
    w.missionFlag = false;
    missionByTime_ = false;
    missionFrames_ = 0;
    w.frameMs = 33;
    // (a minute under a hostile game: a pass of the loop may take 44.5 s of it)
    const uint32_t until = w.timer + (hostile_ ? 60000 : 20000);
    bool ok = true;
    while (ok && w.timer - until > 0x80000000u) {
        controlValueSeen_ = stopSeen_ = refillSaveSeen_ = false;
        sim::playFrames(1);
        ok = checkFrame();
    }
    if (ok && !w.playerControl) ok = fail("player control not given back at the end of the session");
    return ok;
}

// The threads stopped, the plug-in unloaded, the recording kept, and the result.
SessionResult Session::finish(bool ok) {
    noise_.reset();
    keyboard_.reset();
    wound();
    const int frames = sim::frame();
    stopWatchingSaveFolder();
    sim::stop();
    if (ok && !sim::violations().empty()) ok = fail("protocol, at unload: " + sim::violations().front());
    ok = keepRecording(ok);
    result_.digest = digest_;
    if (hostile_) {
        const HostileFigures& f = hostile_->figures();
        result_.hostileAnswers = f.answersReplaced;
        result_.hostileChecks = f.checks;
        result_.hostileSpells = f.spells;
        result_.maxCallsBetweenWaits = f.maxCallsBetweenWaits;
    }
    if (ok) {
        result_.passed = true;
        result_.frame = frames;
    }
    return result_;
}

SessionResult playRandomSession(uint64_t seed, const SessionOptions& options) {
    Session session(seed, options);
    return session.run();
}

} // namespace stress
