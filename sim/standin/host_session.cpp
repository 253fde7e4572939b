// A session: the folder, the plug-in's load and unload, the frames with the
// script's resumes, the keyboard, and what tests read back.
#include "standin/fiber.h"
#include "standin/host_internals.h"
#include "standin/plugin_loader.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifndef TOLVENMIRE_DEFAULT_PLUGIN
#define TOLVENMIRE_DEFAULT_PLUGIN "Tolvenmire.so"
#endif

namespace fs = std::filesystem;

namespace sim {

using namespace detail;

namespace {

// The script's stack; the plug-in's frames are small and never recurse deeply.
const size_t ScriptStackSize = 1u << 20;

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), (std::streamsize)bytes.size());
    f.close();
    return !f.fail();
}

// Back to where the session started; its own folder goes.
void leaveFolder(Host& h) {
    std::error_code ec;
    if (!h.previousFolder.empty()) fs::current_path(h.previousFolder, ec);
    if (h.ownsFolder && !h.folder.empty()) fs::remove_all(h.folder, ec);
    h.ownsFolder = false;
}

void forgetPlugin(Host& h) {
    if (h.fiber) fiberDestroy(h.fiber);
    h.fiber = nullptr;
    h.fiberDepth = 0;
    h.plugin = nullptr;
    h.state = nullptr;
    h.settings = nullptr;
    h.entry = nullptr;
    h.scriptModule = nullptr;
    h.scriptRegistered = false;
    h.keyboard.store(nullptr, std::memory_order_release);
    h.callOpen = false;
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool scriptDue(const Host& h) {
    if (!h.scriptRegistered || fiberFinished(h.fiber)) return false;
    if (!h.fiber || h.waitMs == 0) return true;
    return h.world.timer - h.waitStart >= h.waitMs;
}

void resumeScript(Host& h) {
    if (!h.fiber) {
        h.fiber = fiberCreate(h.entry, ScriptStackSize);
        if (!h.fiber) {
            addViolation("no stack for the script's fiber");
            h.scriptRegistered = false;
            return;
        }
    }
    ++h.resumes;
    // The script runs outside the host until it calls back in; the host's depth
    // comes back when it yields.
    const int depth = hostDepth;
    hostDepth = h.fiberDepth;
    fiberResume(h.fiber);
    h.fiberDepth = hostDepth;
    hostDepth = depth;
}

} // namespace

std::string defaultPlugin() {
    const char* env = getenv("TOLVENMIRE_PLUGIN");
    return env && *env ? std::string(env) : std::string(TOLVENMIRE_DEFAULT_PLUGIN);
}

bool start(const StartOptions& o, std::string* error) {
    HostScope scope;
    Host& h = host();
    if (h.running) return fail(error, "a session is already running");
    if (fiberCurrent()) return fail(error, "start called from the script");

    // The world is as the last stop left it (its defaults) plus what the test set
    // since: tests script it before the load too.
    h.calls.clear();
    {
        std::lock_guard<std::mutex> lock(h.violationsLock);
        h.violations.clear();
    }
    h.record = o.record;
    h.observer = o.observer;
    h.frame = 0;
    h.resumes = 0;
    h.waitMs = 0;
    h.waitStart = 0;
    resetHostility();
    forgetPlugin(h);
    h.replay = nullptr;

    std::error_code ec;
    std::string plugin = o.pluginPath.empty() ? defaultPlugin() : o.pluginPath;
    plugin = fs::absolute(plugin, ec).string();

    if (o.workDir.empty()) {
        std::string why;
        h.folder = makeSessionFolder(&why);
        if (h.folder.empty()) return fail(error, why);
        h.ownsFolder = true;
    } else {
        h.folder = fs::absolute(o.workDir, ec).string();
        h.ownsFolder = false;
        fs::create_directories(h.folder, ec);
    }
    h.previousFolder = fs::current_path(ec).string();
    fs::current_path(h.folder, ec);
    if (ec) {
        leaveFolder(h);
        return fail(error, "cannot enter " + h.folder + ": " + ec.message());
    }
    const bool filesWritten = o.replay ? replayWriteFiles(*o.replay)
                                       : (!o.withSettings || writeFile("Tolvenmire.ini", o.settings)) &&
                                             (!o.withSave || writeFile("Tolvenmire.dat", o.save));
    if (!filesWritten) {
        leaveFolder(h);
        return fail(error, "cannot write the session's files in " + h.folder);
    }

    if (o.replay) {
        h.replay = o.replay;
        replayBegin(o.replayEvents);
    }
    // The plug-in's static initialisation reads the settings from this folder.
    std::string why;
    h.plugin = loadPlugin(plugin, &why);
    if (!h.plugin) {
        h.replay = nullptr;
        forgetPlugin(h);
        leaveFolder(h);
        return fail(error, why);
    }
    if (!h.scriptRegistered) {
        h.replay = nullptr;
        unloadPlugin(h.plugin);
        forgetPlugin(h);
        leaveFolder(h);
        return fail(error, plugin + " registered no script");
    }
    if (h.scriptModule != pluginModule(h.plugin))
        addViolation("scriptRegister with a module handle not the plug-in's");
    h.state = (ScriptState*)pluginSymbol(h.plugin, "gState");
    h.settings = (Settings*)pluginSymbol(h.plugin, "gSettings");
    h.running = true;
    return true;
}

void stop() {
    HostScope scope;
    Host& h = host();
    if (!h.running || fiberCurrent()) return;
    // The script is abandoned where it waits: its stack goes, nothing on it runs.
    if (h.fiber) fiberDestroy(h.fiber);
    h.fiber = nullptr;
    const bool unloaded = unloadPlugin(h.plugin);
    if (h.scriptRegistered) addViolation("the script is still registered after DLL_PROCESS_DETACH");
    if (h.keyboard.load(std::memory_order_acquire))
        addViolation("the keyboard handler is still registered after DLL_PROCESS_DETACH");
    if (!unloaded)
        addViolation("the plug-in stayed loaded after unloading; a new load would not start fresh");
    forgetPlugin(h);
    if (h.replay) replayEnd();
    h.replay = nullptr;
    leaveFolder(h);
    // The next session starts from the defaults; the calls and the faults of this
    // one stay readable until it starts.
    h.world = World();
    resetTickCount();
    // The observer belongs to this session: its caller may be gone before the next.
    h.observer = nullptr;
    h.running = false;
}

bool running() { return host().running; }

bool notifyThreadAttachDetach() {
    Host& h = host();
    return h.running && notifyPluginThreads(h.plugin);
}

void playFrames(int count) {
    HostScope scope;
    Host& h = host();
    if (!h.running || fiberCurrent()) return;
    for (int i = 0; i < count; ++i) {
        ++h.frame;
        if (h.replay) {
            if (replayResume()) resumeScript(h);
            continue;
        }
        advanceWorld();
        if (scriptDue(h)) resumeScript(h);
    }
}

void playMs(uint32_t ms) {
    Host& h = host();
    const uint32_t from = h.world.timer;
    while (h.running && h.world.timer - from < ms) playFrames(1);
}

int frame() { return host().frame; }
int resumes() { return host().resumes; }

bool scriptWaiting() {
    const Host& h = host();
    return h.running && h.scriptRegistered && !fiberFinished(h.fiber) && fiberCurrent() != h.fiber;
}

uint32_t waitingFor() { return host().waitMs; }

void keyEventRaw(uint32_t key, uint16_t second, uint8_t third, int32_t fourth, int32_t fifth, int32_t sixth,
                 int32_t seventh) {
    KeyboardHandler handler = host().keyboard.load(std::memory_order_acquire);
    if (!handler) return;
    enterKeyboardHandler(true);
    handler(key, second, third, fourth, fifth, sixth, seventh);
    enterKeyboardHandler(false);
}

void keyEvent(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    keyEventRaw(key, 1, 0, 0, fifth, sixth, seventh);
}

World& world() { return host().world; }
const std::vector<Call>& calls() { return host().calls; }

std::vector<Call> callsInFrame(int frame) {
    const std::vector<Call>& all = host().calls;
    auto from =
        std::lower_bound(all.begin(), all.end(), frame, [](const Call& c, int f) { return c.frame < f; });
    auto to = std::upper_bound(from, all.end(), frame, [](int f, const Call& c) { return f < c.frame; });
    return std::vector<Call>(from, to);
}

void clearCalls() { host().calls.clear(); }

const ScriptState* pluginState() { return host().state; }
const Settings* pluginSettings() { return host().settings; }
std::string workDir() { return host().folder; }

} // namespace sim
