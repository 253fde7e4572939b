// What a randomized session checks (seeded_session.h): every call as it happens,
// inside the host, and the plug-in's state, the world and the save file after every
// frame; the first thing that does not hold ends the session. Every native call also
// goes into the session's digest, which a seed must give the same every time.
#include "stress/seeded_session.h"
#include "standin/native_table.h"

#include "base/decimal_text.h"
#include "base/script_state.h"
#include "flask/intoxication.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif
#ifdef _WIN32
#include "standin/file_faults.h"
#endif

namespace fs = std::filesystem;

namespace stress {

namespace {

#ifdef _WIN32
// Every file call of the plug-in's the host has passed on so far.
int64_t pluginFileCallCount() {
    int64_t n = 0;
    for (int k = 0; k < sim::FileCallKinds; ++k) n += sim::fileCalls((sim::FileCall)k);
    return n;
}
#endif

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string canonical(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) return "(out of range)";
    char text[12];
    formatFlaskLevel((int32_t)value, text);
    return text;
}

} // namespace

// The digest: what was called with what, and the answer. Addresses vary from load
// to load; the text they point to does not.
void Session::mixIntoDigest(const sim::Call& c) {
    const sim::NativeInfo* info = sim::findNative(c.hash);
    auto mix = [this](uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            digest_ ^= (v >> (8 * i)) & 0xFF;
            digest_ *= 1099511628211ull;
        }
    };
    mix(c.hash);
    for (int k = 0; k < c.argc; ++k) {
        const char kind = info && info->args[k] ? info->args[k] : 'x';
        if (kind == 's' || kind == 'r') {
            for (char ch : c.text[k]) mix((uint8_t)ch);
        } else if (kind != 'p') {
            mix(c.args[k]);
        }
    }
    mix(c.result[0]);
    mix(c.result[1]);
    mix(c.result[2]);
}

// Seen inside the host, on the script fiber, as each call happens.
void Session::observe(const sim::Call& c) {
    if (c.kind != sim::CallKind::Native) return;
    const sim::World& w = sim::world();
    mixIntoDigest(c);

    if (!c.onScriptFiber && observed_.empty())
        observed_ = "a native called off the script fiber: " + sim::describe(c);
    if (c.hash == natives::GetMissionFlag) lastLoopQuery_ = w.timer;
    if (c.hash == natives::AnimpostfxIsRunning && c.text[0] == sim::PassOutEffect && c.resultInt() != 0 &&
        !passOutSeen_) {
        passOutSeen_ = true;
        ++result_.passOuts;
    }
    if (c.hash == natives::AnimpostfxIsRunning && c.text[0] == sim::PassOutEffect && c.resultInt() == 0)
        passOutSeen_ = false;
    if (c.hash == natives::GetControlNormal) controlValueSeen_ = true;
    if (c.hash == natives::ClearPedTasks && controlValueSeen_) stopSeen_ = true;
    if (c.hash == natives::TaskStartScenarioInPlaceHash && c.i32(2) == 10) refillSaveSeen_ = true;
    if (c.hash == natives::SetPlayerControl) {
        const bool give = c.i32(1) != 0;
        if (give == !controlOff_ && observed_.empty())
            observed_ = give ? "player control given back without being taken" : "player control taken twice";
        controlOff_ = !give;
        controlTakenAt_ = w.timer;
    }
}

// Reading the save file after every frame is most of a session's time (under Wine
// nine tenths of it), and nearly every frame leaves the folder alone. What tells:
// on Linux an inotify watch on the folder (the call that changes a file queues its
// event before it returns, so once a frame is over its changes are all there to
// see; the session's own reads are not watched for); on Windows the plug-in's own
// file calls, which the host counts as it passes them on (file_faults.h): the
// plug-in writes, replaces and removes files through them alone. The session's own
// changes to the files force a read (world_changes.cpp).
void Session::watchSaveFolder() {
    saveFileRead_ = false;
#ifdef __linux__
    saveFolderWatch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (saveFolderWatch_ < 0) return;
    const uint32_t changes = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
    if (inotify_add_watch(saveFolderWatch_, sim::workDir().c_str(), changes) < 0) stopWatchingSaveFolder();
#elif defined(_WIN32)
    saveFolderWatch_ = 0;
    pluginFileCalls_ = pluginFileCallCount();
#endif
}

void Session::stopWatchingSaveFolder() {
#ifdef __linux__
    if (saveFolderWatch_ >= 0) close(saveFolderWatch_);
#endif
    saveFolderWatch_ = -1;
}

// Whether anything in the folder may have changed since the last look (every event
// waiting is taken). Without a watch, or once it is lost, always.
bool Session::saveFolderMayHaveChanged() {
    if (saveFolderWatch_ < 0) return true;
#ifdef __linux__
    bool changed = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = read(saveFolderWatch_, events, sizeof events);
        if (n <= 0) break;
        changed = true;
        for (ssize_t at = 0; at < n;) {
            const inotify_event* e = (const inotify_event*)(events + at);
            if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
                stopWatchingSaveFolder();
                return true;
            }
            at += (ssize_t)(sizeof(inotify_event) + e->len);
        }
    }
    return changed;
#elif defined(_WIN32)
    const int64_t calls = pluginFileCallCount();
    const bool changed = calls != pluginFileCalls_;
    pluginFileCalls_ = calls;
    return changed;
#else
    return true;
#endif
}

// The save file: changed only by a save, and then to the level saved, unless it or
// its folder is read-only; never a temporary file left behind.
bool Session::checkSaveFile() {
    const bool saved = stopSeen_ || refillSaveSeen_;
    // Nothing in the folder changed and no save: the file is as the last frame left
    // it, which passed (and no temporary file, which would have failed it).
    if (!saveFolderMayHaveChanged() && saveFileRead_ && !saved) return true;
    saveFileRead_ = true;
    const fs::path folder = sim::workDir();
    std::error_code ec;
    if (fs::exists(folder / "Tolvenmire.dat.tmp", ec)) return fail("Tolvenmire.dat.tmp left in the folder");
    const std::optional<std::string> now = readFile(folder / "Tolvenmire.dat");
    const ScriptState& s = *sim::pluginState();
    const bool writable = !fileReadOnly_ && !folderReadOnly_;
    // What a save of this frame may have written: the flask as the frame left it; one
    // unit more when a sip took one after a stop in the same frame; a full flask for
    // the refill.
    std::vector<std::string> allowed;
    if (refillSaveSeen_) allowed.push_back(canonical(99));
    if (stopSeen_) {
        allowed.push_back(canonical(s.flaskLevel));
        allowed.push_back(canonical((int64_t)s.flaskLevel + 1));
    }
    auto isAllowed = [&](const std::optional<std::string>& c) {
        if (!c) return false;
        for (const std::string& a : allowed)
            if (*c == a) return true;
        return false;
    };
    if (now != saveContent_) {
        if (!saved)
            return fail("the save file changed without a save: " + shown(saveContent_) + " became " +
                        shown(now));
        if (!writable)
            return fail("a save replaced a read-only save file (or wrote into a read-only folder): " +
                        shown(saveContent_) + " became " + shown(now));
        if (!isAllowed(now))
            return fail("the save file holds " + shown(now) + ", not the flask level saved (flask now " +
                        std::to_string(s.flaskLevel) + ")");
    } else if (saved && writable && !isAllowed(now)) {
        return fail("a save left the save file as it was (" + shown(now) + "), flask " +
                    std::to_string(s.flaskLevel));
    }
    if (saved && !writable) ++result_.failedSaves;
    // Whatever it holds once a save has written it reads back as that number.
    if (now && saved && writable) {
        const FlaskParse p = parseFlaskLevelText(now->data(), now->size());
        if (p.kind != FlaskRead::Value || canonical(p.value) != *now)
            return fail("the save file " + shown(now) + " does not read back as the number written");
    }
    saveContent_ = now;
    return true;
}

// After every frame: the plug-in's state within its bounds, the hostile game's
// checks or the world's, the save file, and what the session went through.
bool Session::checkFrame() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    if (!sim::violations().empty()) return fail("protocol: " + sim::violations().front());
    if (!observed_.empty()) return fail(observed_);

    if (s.intakeLevel < 0 || s.intakeLevel > 121) return fail("intakeLevel " + std::to_string(s.intakeLevel));
    if (s.drunkLevel < 0 || s.drunkLevel > 121) return fail("drunkLevel " + std::to_string(s.drunkLevel));
    if (s.sipCounter < 0 || s.sipCounter > 3) return fail("sipCounter " + std::to_string(s.sipCounter));

    // Sober again, by a step or a reset, means healing as usual.
    if (s.drunkLevel == 0 && (w.healingRate[0] != 1.0f || w.healingRate[1] != 1.0f))
        return fail("sober, yet the healing rates are " + std::to_string(w.healingRate[0]) + " and " +
                    std::to_string(w.healingRate[1]));

    // Under a hostile game the prompts, the global's cell and the game timer are the
    // game's to garble: its own invariants take the place of these (hostile_checks.h).
    if (hostile_) {
        const std::string broken = hostile_->checkFrame();
        if (!broken.empty()) return fail("hostile: " + broken);
        return checkSaveFile() && countWhatHappened();
    }

    return checkPrompts() && checkIntensityGlobal() && checkControlAndLoop() && checkSaveFile() &&
           countWhatHappened();
}

// Prompts: at most one of each alive, and its flag says so.
bool Session::checkPrompts() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    int drinkPrompts = 0, refillPrompts = 0;
    for (const auto& [handle, p] : w.prompts) {
        if (!p.alive) continue;
        if (p.label == DrinkLabel)
            ++drinkPrompts;
        else if (p.label == RefillLabel)
            ++refillPrompts;
        else
            return fail("a prompt with the label \"" + p.label + "\"");
    }
    if (drinkPrompts > 1) return fail(std::to_string(drinkPrompts) + " drink prompts alive");
    if (refillPrompts > 1) return fail(std::to_string(refillPrompts) + " refill prompts alive");
    auto aliveWith = [&w](int32_t handle, const char* label) {
        auto it = w.prompts.find(handle);
        return it != w.prompts.end() && it->second.alive && it->second.label == label;
    };
    if (s.drinkPromptActive != (drinkPrompts == 1 && aliveWith(s.drinkPrompt, DrinkLabel)))
        return fail(std::string("drinkPromptActive is ") + (s.drinkPromptActive ? "true" : "false") +
                    " with " + std::to_string(drinkPrompts) + " drink prompt(s) alive");
    if (s.refillPromptActive != (refillPrompts == 1 && aliveWith(s.refillPrompt, RefillLabel)))
        return fail(std::string("refillPromptActive is ") + (s.refillPromptActive ? "true" : "false") +
                    " with " + std::to_string(refillPrompts) + " refill prompt(s) alive");
    return true;
}

// The intensity global: 0, or the entry of drunkLevel.
bool Session::checkIntensityGlobal() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    const uint64_t entry = IntensityTable[(size_t)s.drunkLevel];
    if (w.intensityGlobal != 0 && w.intensityGlobal != entry) {
        char b[128];
        std::snprintf(b, sizeof b, "the intensity global holds 0x%016llX; drunkLevel %d's entry is 0x%08llX",
                      (unsigned long long)w.intensityGlobal, s.drunkLevel, (unsigned long long)entry);
        return fail(b);
    }
    return true;
}

// Control comes back within the refill's own waits; the script never stalls for
// longer than a start wait and a refill in one frame.
bool Session::checkControlAndLoop() {
    const sim::World& w = sim::world();
    const uint32_t slack = 10 * maxFrameMs_ + 1000;
    if (controlOff_ && w.timer - controlTakenAt_ > 4500 + slack)
        return fail("player control still taken " + std::to_string(w.timer - controlTakenAt_) +
                    " ms after a refill took it");
    if (controlOff_ != !w.playerControl) return fail("the game's player control does not match the calls");
    if (w.timer - lastLoopQuery_ > 5000 + 7500 + 3000 + slack)
        return fail("the script has not come round its loop for " + std::to_string(w.timer - lastLoopQuery_) +
                    " ms");
    return true;
}

// What the session went through.
bool Session::countWhatHappened() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    if (w.charges.size() > charges_) {
        result_.refills += (int)(w.charges.size() - charges_);
        charges_ = w.charges.size();
    }
    if (s.drinking && !wasDrinking_) ++result_.drinks;
    wasDrinking_ = s.drinking;
    if (w.missionFlag && !wasHeld_) ++result_.holds;
    wasHeld_ = w.missionFlag;
    return true;
}

} // namespace stress
