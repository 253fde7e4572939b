// The host's own state, shared by its parts: the script-hook functions, the game
// model and the session. One instance per process, as there is one script hook in
// a game.
#pragma once

#include "sim.h"

#include "hook/script_hook.h"

#include <atomic>
#include <mutex>

namespace rec {
struct Event;
struct Recording;
} // namespace rec

namespace sim::detail {

struct Fiber;
struct Plugin;

// The calling thread's depth inside the host's functions, for inHost(). The script
// fiber keeps its own depth while it is switched out.
extern thread_local int hostDepth;
struct HostScope {
    HostScope() { ++hostDepth; }
    ~HostScope() { --hostDepth; }
    HostScope(const HostScope&) = delete;
    HostScope& operator=(const HostScope&) = delete;
};

struct Host {
    // The session.
    bool running = false;
    bool record = true;
    const rec::Recording* replay = nullptr; // replaying: the answers come from it
    std::function<void(const Call&)> observer;
    World world;
    std::vector<Call> calls;
    int frame = 0;
    int resumes = 0;

    // Protocol faults; they may be found on the keyboard's thread too.
    std::mutex violationsLock;
    std::vector<std::string> violations;

    // The plug-in and its folder.
    Plugin* plugin = nullptr;
    ScriptState* state = nullptr;
    Settings* settings = nullptr;
    std::string folder;
    std::string previousFolder;
    bool ownsFolder = false;

    // The registrations.
    ScriptEntry entry = nullptr;
    HINSTANCE scriptModule = nullptr; // as passed to scriptRegister
    bool scriptRegistered = false;
    std::atomic<KeyboardHandler> keyboard{nullptr};

    // The script's fiber and its wait.
    Fiber* fiber = nullptr;
    int fiberDepth = 0;     // hostDepth on the fiber while it is switched out
    uint32_t waitMs = 0;    // the current wait
    uint32_t waitStart = 0; // the game timer when it began

    // The native invocation being built (kept between calls: its strings keep
    // their buffers, so that an unrecorded session does not allocate per call).
    bool callOpen = false;
    bool tooManyReported = false;
    Call current;
    Call other;            // the record of a call of another kind
    UINT64 result[4] = {}; // what nativeCall returns
};

Host& host();

// A protocol fault. Safe on any thread.
void addViolation(const std::string& message);
// Empties a call record for reuse, keeping the buffers of its strings.
void resetCall(Call& call, CallKind kind);
// Stamps a finished call with the frame and the timer, shows it to the observer and
// keeps it when recording.
void logCall(Call& call);

// Marks the calling thread as running the plug-in's keyboard handler.
void enterKeyboardHandler(bool on);

// Reads the string and record arguments of a known native into call.text.
void readTextArguments(const NativeInfo& info, Call& call);

// The game model: answers a known native (result zeroed beforehand) and applies
// its effect on the world.
void answerNative(const Call& call, UINT64* result);
// The hostile game (World::hostileRate): before the model answers a native with an
// out-variable, keeps what the variable held; after it, may replace the answer in
// *result by a hostile one. False when the script is to get a null result pointer.
void hostileBefore(const NativeInfo& info, const Call& call);
void resetHostility(); // at the start of a session
bool hostileAnswer(const NativeInfo& info, Call& call, UINT64* result);
// The cell a hostile getGlobalPtr hands out in place of `cell`.
UINT64* hostileGlobal(UINT64* cell);
// One frame of game time, before the script runs in it.
void advanceWorld();

#ifdef _WIN32
// The host's stand-ins for the plug-in's file calls (file_faults.h), by the name
// of the call they take the place of; the list ends with a null name.
struct FileCallImport {
    const char* name;
    void* replacement;
};
extern const FileCallImport FileCallImports[];
#endif

// Replay (replay/replay_host.cpp): where the answers come from when a recording is
// replayed. Each is called only while host().replay is set.
// The session's files from the recording, in the current folder; false if one cannot
// be written.
bool replayWriteFiles(const rec::Recording& recording);
void replayBegin(const std::function<bool(rec::Event*)>& source);
void replayEnd();
// nativeCall: holds the call against the recorded one and answers it (null when the
// recording has a null answer).
UINT64* replayNative(Call& call);
// scriptWait: false when the wait is not to be logged (the replay is over).
bool replayWait(Call& call);
UINT64* replayGlobal(int index);
// The start of a script call (nativeInit): the checks that wait for the next call.
void replayEnter();
// A frame: true when the script is to be resumed (the recorded key events delivered).
bool replayResume();
DWORD replayTickCount();

// The system tick count (GetTickCount).
void resetTickCount();
void advanceTickCount(uint32_t ms);
DWORD hostTickCount();

} // namespace sim::detail
