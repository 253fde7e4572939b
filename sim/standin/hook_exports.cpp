// The nine script-hook functions the plug-in imports, their protocol checks and
// the call log.
#include "standin/fiber.h"
#include "standin/host_internals.h"

#include <cstdio>
#include <cstring>

namespace sim::detail {

thread_local int hostDepth = 0;

namespace {

Host theHost;

// Set while the calling thread runs the plug-in's keyboard handler.
thread_local bool inKeyboardHandler = false;
// A native invocation begun where none may be: its pushes and its call are
// swallowed, and it gets a zero answer of its own.
thread_local bool strayCall = false;
thread_local UINT64 strayResult[4];

const size_t MaxViolations = 200;

std::string hex(uint64_t v) {
    char b[24];
    snprintf(b, sizeof b, "0x%016llX", (unsigned long long)v);
    return b;
}

// The script-thread functions belong on the script's fiber, never in the keyboard
// handler (which may run on any thread).
bool onScript() {
    if (inKeyboardHandler) return false;
    Fiber* f = fiberCurrent();
    return f && f == theHost.fiber;
}

void offScript(const std::string& what) {
    addViolation(what +
                 (inKeyboardHandler ? " called from the keyboard handler" : " called off the script fiber"));
}

bool fromKeyboardHandler(const char* what) {
    if (!inKeyboardHandler) return false;
    addViolation(std::string(what) + " called from the keyboard handler");
    return true;
}

} // namespace

Host& host() { return theHost; }

void addViolation(const std::string& message) {
    std::lock_guard<std::mutex> lock(theHost.violationsLock);
    if (theHost.violations.size() < MaxViolations)
        theHost.violations.push_back(message);
    else if (theHost.violations.size() == MaxViolations)
        theHost.violations.push_back("(further faults not kept)");
}

void resetCall(Call& c, CallKind kind) {
    c.kind = kind;
    c.hash = 0;
    for (int k = 0; k < c.argc; ++k) c.text[k].clear(); // only a native's arguments have text
    for (uint64_t& a : c.args) a = 0;
    c.argc = 0;
    c.result[0] = c.result[1] = c.result[2] = 0;
    c.waitMs = 0;
    c.globalIndex = 0;
    c.pointer = 0;
    c.frame = 0;
    c.timer = 0;
    c.onScriptFiber = false;
}

void logCall(Call& c) {
    Host& h = theHost;
    c.frame = h.frame;
    c.timer = h.world.timer;
    c.onScriptFiber = h.fiber && fiberCurrent() == h.fiber;
    if (h.observer) h.observer(c);
    if (h.record) h.calls.push_back(c);
}

// Called by the session around the keyboard handler.
void enterKeyboardHandler(bool on) { inKeyboardHandler = on; }

} // namespace sim::detail

using namespace sim;
using namespace sim::detail;

void scriptRegister(HINSTANCE module, ScriptEntry entry) {
    HostScope scope;
    if (fromKeyboardHandler("scriptRegister")) return;
    Host& h = host();
    Call& c = h.other;
    resetCall(c, CallKind::ScriptRegister);
    c.pointer = (uint64_t)(uintptr_t)module;
    c.args[0] = (uint64_t)(uintptr_t)entry;
    logCall(c);
    if (!entry) addViolation("scriptRegister without a script");
    if (h.scriptRegistered) addViolation("scriptRegister while a script is registered");
    h.entry = entry;
    h.scriptModule = module;
    h.scriptRegistered = entry != nullptr;
}

void scriptUnregister(HINSTANCE module) {
    HostScope scope;
    if (fromKeyboardHandler("scriptUnregister")) return;
    Host& h = host();
    Call& c = h.other;
    resetCall(c, CallKind::ScriptUnregister);
    c.pointer = (uint64_t)(uintptr_t)module;
    logCall(c);
    if (!h.scriptRegistered || module != h.scriptModule) {
        addViolation("scriptUnregister of a module that has no script registered");
        return;
    }
    // The script stops: its fiber is never resumed again.
    h.scriptRegistered = false;
}

void keyboardHandlerRegister(KeyboardHandler handler) {
    HostScope scope;
    if (fromKeyboardHandler("keyboardHandlerRegister")) return;
    Host& h = host();
    Call& c = h.other;
    resetCall(c, CallKind::KeyboardRegister);
    c.pointer = (uint64_t)(uintptr_t)handler;
    logCall(c);
    if (!handler) addViolation("keyboardHandlerRegister without a handler");
    if (h.keyboard.load(std::memory_order_relaxed))
        addViolation("keyboardHandlerRegister while a handler is registered");
    h.keyboard.store(handler, std::memory_order_release);
}

void keyboardHandlerUnregister(KeyboardHandler handler) {
    HostScope scope;
    if (fromKeyboardHandler("keyboardHandlerUnregister")) return;
    Host& h = host();
    Call& c = h.other;
    resetCall(c, CallKind::KeyboardUnregister);
    c.pointer = (uint64_t)(uintptr_t)handler;
    logCall(c);
    if (!handler || h.keyboard.load(std::memory_order_relaxed) != handler) {
        addViolation("keyboardHandlerUnregister of a handler that is not registered");
        return;
    }
    h.keyboard.store(nullptr, std::memory_order_release);
}

void nativeInit(UINT64 hash) {
    HostScope scope;
    if (!onScript()) {
        offScript("native " + hex(hash));
        strayCall = true;
        return;
    }
    strayCall = false;
    Host& h = host();
    if (h.callOpen)
        addViolation("nativeInit(" + hex(hash) + ") while native " + hex(h.current.hash) + " is open");
    resetCall(h.current, CallKind::Native);
    h.current.hash = hash;
    h.callOpen = true;
    h.tooManyReported = false;
}

void nativePush64(UINT64 value) {
    HostScope scope;
    if (!onScript()) {
        if (!strayCall) offScript("nativePush64");
        return;
    }
    Host& h = host();
    if (!h.callOpen) {
        addViolation("nativePush64 without nativeInit");
        return;
    }
    Call& c = h.current;
    if (c.argc >= 12) {
        if (!h.tooManyReported) addViolation("more than 12 arguments for native " + hex(c.hash));
        h.tooManyReported = true;
        return;
    }
    c.args[c.argc++] = value;
}

UINT64* nativeCall() {
    HostScope scope;
    if (!onScript()) {
        if (!strayCall) offScript("nativeCall");
        strayCall = false;
        for (UINT64& r : strayResult) r = 0;
        return strayResult;
    }
    Host& h = host();
    for (UINT64& r : h.result) r = 0;
    if (!h.callOpen) {
        addViolation("nativeCall without nativeInit");
        return h.result;
    }
    h.callOpen = false;
    Call& c = h.current;
    if (h.replay) return replayNative(c);
    const NativeInfo* info = findNative(c.hash);
    if (!info) {
        addViolation("unknown native " + hex(c.hash));
    } else {
        const int expected = (int)strlen(info->args);
        if (c.argc != expected && !h.tooManyReported) {
            char b[160];
            snprintf(b, sizeof b, "native %s (%s) called with %d arguments; it takes %d", hex(c.hash).c_str(),
                     natives::fullName(*info).c_str(), c.argc, expected);
            addViolation(b);
        }
        readTextArguments(*info, c);
    }
    const bool hostile = info && h.world.hostileRate > 0.0;
    if (hostile) hostileBefore(*info, c);
    bool answered = false;
    if (!h.world.overrides.empty()) {
        auto it = h.world.overrides.find(c.hash);
        if (it != h.world.overrides.end() && it->second) answered = it->second(c, h.result);
    }
    if (!answered && info) answerNative(c, h.result);
    const bool resultPointer = !hostile || hostileAnswer(*info, c, h.result);
    c.result[0] = h.result[0];
    c.result[1] = h.result[1];
    c.result[2] = h.result[2];
    logCall(c);
    return resultPointer ? h.result : nullptr;
}

void scriptWait(DWORD milliseconds) {
    HostScope scope;
    if (!onScript()) return offScript("scriptWait");
    Host& h = host();
    if (h.callOpen) addViolation("scriptWait while native " + hex(h.current.hash) + " is open");
    Call& c = h.other;
    resetCall(c, CallKind::Wait);
    c.waitMs = milliseconds;
    if (!h.replay || replayWait(c)) logCall(c);
    h.waitMs = milliseconds;
    h.waitStart = h.world.timer;
    fiberYield();
}

UINT64* getGlobalPtr(int index) {
    HostScope scope;
    if (!onScript()) {
        offScript("getGlobalPtr(" + std::to_string(index) + ")");
        return nullptr;
    }
    Host& h = host();
    if (h.replay) return replayGlobal(index);
    // The one global the model keeps; any other index has no cell.
    UINT64* cell = index == 1935445 ? &h.world.intensityGlobal : nullptr;
    if (cell && h.world.hostileRate > 0.0) cell = hostileGlobal(cell);
    Call& c = h.other;
    resetCall(c, CallKind::GlobalPtr);
    c.globalIndex = index;
    c.pointer = (uint64_t)(uintptr_t)cell;
    logCall(c);
    if (index != 1935445)
        addViolation("getGlobalPtr(" + std::to_string(index) + "): a global the model does not keep");
    return cell;
}

bool sim::inHost() { return hostDepth > 0; }

const std::vector<std::string>& sim::violations() { return host().violations; }
