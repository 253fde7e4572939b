// Killed mid-save, on the real DLL under Windows (Wine): a child process plays the
// plug-in in the stand-in host through drinks and refills, each of which saves the
// flask, and is killed with TerminateProcess at a random moment, over and over with
// a fixed seed. After every kill Tolvenmire.dat must hold exactly the text of one
// level that was saved (the last one, or the one being saved), never an empty or
// partial file; a Tolvenmire.dat.tmp left by the kill must not be what the next
// child loads, and must be gone after its next save (which the child checks after
// every save it completes).
//
//   save_kill_test [--kills N] [--seed S] [--record [--exit] --keep DIR]
//                                              the parent (defaults: 200 kills, seed 1)
//   save_kill_test --child FOLDER MAPPING      a child (started by the parent)
//
// With --record the children record (RECORD_SESSION=1) and are killed later in
// their play (within 400 ms): after every kill the recording left is copied into DIR
// (kill-NNN.rec), and each must replay, up to its last whole block, with no
// difference (a torn last block is counted; a file cut inside its 12-byte head,
// killed as it began, has nothing to replay). The replay is the Linux build's
// (kill_replay.cpp; kill_and_replay.sh runs both): recordings replay across the
// builds, and natively it takes a fraction of the Windows replay's time under Wine.
//
// With --exit the children are not killed but exit: half of them by ExitProcess from
// a thread of their own, at a random moment, the other half inside a WriteFile of
// the plug-in's (the nth, at random), once half its bytes are written. The plug-in
// unloads at the process exit with its script stopped wherever it was, in the
// middle of an item or of a block's write.
// The recording left must read without a corruption message (a torn last block at
// most) and replay to its end with no difference.
//
// The child tells the parent through a shared block of memory, which outlives it:
// the level it loaded, the level being saved while a save may be under way, and
// the last level saved.
#include "standin/file_faults.h"
#include "file_text.h"
#include "sim.h"
#include "windows_start.h"

#include "base/script_state.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Shared {
    volatile LONG ready;       // the child's script has loaded the flask
    volatile LONG loaded;      // the level it loaded
    volatile LONG pending;     // the level of the save that may be under way
    volatile LONG last;        // the level of the last save that completed
    volatile LONG saves;       // saves completed
    volatile LONG fault;       // the child found a fault: message
    volatile LONG exitMode;    // --exit: 1 the child exits when told, 2 inside a WriteFile
    volatile LONG exitNow;     // the parent tells it
    volatile LONG exitAtWrite; // 2: the plug-in's WriteFile call it exits in
    char message[512];
};

const uint32_t DrinkKey = 79;
const uint32_t StopControl = 0xFDA83190;
const int32_t Valentine = 21250;
const int32_t Bartender = 2001;
const uint32_t ValentineBartender = 0xB733CF0F;

// ---------------------------------------------------------------------------
// The child.

Shared* shared = nullptr;

[[noreturn]] void childFault(const std::string& why) {
    std::snprintf(shared->message, sizeof shared->message, "%s", why.c_str());
    InterlockedExchange(&shared->fault, 1);
    std::exit(3);
}

const ScriptState& state() { return *sim::pluginState(); }

// A save completed: the file holds its level alone, and no temporary file is left.
void saved(int32_t level) {
    InterlockedExchange(&shared->last, level);
    InterlockedIncrement(&shared->saves);
    const std::optional<std::string> text = fileText("Tolvenmire.dat");
    if (text != std::to_string(level))
        childFault("after saving " + std::to_string(level) + " the file holds '" + text.value_or("(none)") +
                   "'");
    if (fs::exists("Tolvenmire.dat.tmp"))
        childFault("after saving " + std::to_string(level) + " Tolvenmire.dat.tmp is left");
}

// A drink of four sips by the key, stopped; the stop saves.
void drink() {
    sim::keyEvent(DrinkKey, 0, 0, 1);
    sim::playFrames(1);
    for (int i = 0; i < 20 && !state().drinking; ++i) sim::playFrames(1);
    if (!state().drinking) childFault("a drink did not start");
    const int32_t intake = state().intakeLevel;
    for (int i = 0; i < 200 && state().intakeLevel < intake + 4; ++i) sim::playFrames(1);
    // Stopped in a short frame, in which no sip is due: a sip due in the stop's
    // frame would be counted after the save.
    InterlockedExchange(&shared->pending, state().flaskLevel);
    sim::world().analog[StopControl] = 1.0f;
    sim::world().frameMs = 10;
    sim::playFrames(1);
    sim::world().frameMs = 150;
    sim::world().analog[StopControl] = 0.0f;
    if (state().drinking) childFault("a drink did not stop");
    saved(state().flaskLevel);
}

// A paid refill at the Valentine bar; it fills the flask to 99, saves, then charges.
void refill() {
    sim::World& w = sim::world();
    w.interior = Valentine;
    sim::Ped ped;
    ped.handle = Bartender;
    ped.model = ValentineBartender;
    ped.x = 1.5f;
    w.peds[Bartender] = ped;
    w.target = Bartender;
    for (int i = 0; i < 20 && !state().refillPromptActive; ++i) sim::playFrames(1);
    if (!state().refillPromptActive) childFault("no refill prompt at the bar");
    InterlockedExchange(&shared->pending, 99);
    w.prompts[state().refillPrompt].completed = true;
    const size_t charges = w.charges.size();
    for (int i = 0; i < 400 && w.charges.size() == charges; ++i) sim::playFrames(1);
    if (w.charges.size() == charges) childFault("the refill did not end");
    w.interior = 0;
    w.target = 0;
    w.peds.clear();
    sim::playFrames(1);
    saved(99);
}

// An out-of-play spell: intoxication starts again from nothing.
void hold() {
    sim::world().missionFlag = true;
    sim::playFrames(1);
    sim::world().missionFlag = false;
    sim::playMs(3200);
}

// The process exits when the parent says, from this thread, wherever the script is.
DWORD WINAPI exitWhenTold(LPVOID) {
    while (!shared->exitNow) Sleep(1);
    ExitProcess(0);
}

int child(const char* folder, const char* mapping) {
    HANDLE m = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapping);
    if (!m) return 2;
    shared = (Shared*)MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared));
    if (!shared) return 2;
    if (shared->exitMode && !CreateThread(nullptr, 0, exitWhenTold, nullptr, 0, nullptr)) return 2;
    sim::StartOptions o;
    o.workDir = folder;
    o.record = false;
    std::string error;
    if (!sim::start(o, &error)) childFault("cannot start: " + error);
    if (shared->exitMode == 2) sim::failFileCall(sim::FileCall::WriteFileExit, shared->exitAtWrite);
    sim::World& w = sim::world();
    w.clockPerSecond = 0.0;
    w.autoPassOut = false;
    w.frameMs = 150; // a sip every frame once sipping starts
    w.cash = (int64_t)1 << 40;
    sim::freezeTickCount(true);
    sim::playFrames(1); // the script's start loads the flask
    InterlockedExchange(&shared->loaded, state().flaskLevel);
    InterlockedExchange(&shared->ready, 1);
    for (int n = 1;; ++n) {
        if (state().flaskLevel <= 1)
            refill();
        else
            drink();
        if (n % 20 == 0) hold();
    }
}

// ---------------------------------------------------------------------------
// The parent.

struct Totals {
    int kills = 0;
    int saves = 0;
    int newValue = 0;      // the file held the level being saved
    int temporaryLeft = 0; // a Tolvenmire.dat.tmp was left by the kill
    int faults = 0;
    int recordings = 0; // kept, with --record
};

bool fault(Totals& t, int kill, const std::string& why) {
    std::fprintf(stderr, "kill %d: %s\n", kill, why.c_str());
    ++t.faults;
    return false;
}

// One child, killed `delayUs` after its script loaded the flask.
bool killOnce(Totals& t, int kill, const std::string& self, const fs::path& folder,
              const std::string& mapping, Shared* sh, int delayUs, int exit, int exitAtWrite) {
    const std::optional<std::string> before = fileText(folder / "Tolvenmire.dat");
    const int32_t expected = std::atoi(before.value_or("99").c_str());
    std::memset((void*)sh, 0, sizeof *sh);
    sh->pending = expected;
    sh->last = expected;
    sh->exitMode = exit;
    sh->exitAtWrite = exitAtWrite;

    std::string command = "\"" + self + "\" --child \"" + folder.string() + "\" " + mapping;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    DWORD startError = 0;
    const bool started = startProcess(command.data(), FALSE, &si, &pi, &startError);
    if (!started) return fault(t, kill, "cannot start the child: error " + std::to_string(startError));
    for (int i = 0; i < 20000 && !sh->ready && !sh->fault; ++i) {
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    bool ok = true;
    if (!sh->ready && exit == 2) {
        // It may have exited in one of its first writes.
    } else if (!sh->ready) {
        ok = fault(t, kill, "the child did not start playing");
    } else {
        LARGE_INTEGER f, a, b;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&a);
        do {
            if (delayUs > 2000) Sleep(1);
            QueryPerformanceCounter(&b);
        } while ((b.QuadPart - a.QuadPart) * 1000000 / f.QuadPart < delayUs);
    }
    if (exit) {
        if (exit == 1) InterlockedExchange(&sh->exitNow, 1);
        if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
            ok = fault(t, kill,
                       exit == 1 ? "the child did not exit within 30 s of being told"
                                 : "the child did not exit within 30 s (in WriteFile " +
                                       std::to_string(exitAtWrite) + ", after " + std::to_string(sh->saves) +
                                       " saves)");
        }
    }
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ++t.kills;
    if (sh->fault) return fault(t, kill, std::string("the child: ") + sh->message);
    if (!ok) return false;
    t.saves += sh->saves;

    if (sh->loaded != expected)
        return fault(t, kill,
                     "the child loaded " + std::to_string(sh->loaded) + " from a file holding '" +
                         before.value_or("(none)") + "' (a temporary file was read?)");
    const std::optional<std::string> after = fileText(folder / "Tolvenmire.dat");
    const std::string last = std::to_string(sh->last), pending = std::to_string(sh->pending);
    if (!after) return fault(t, kill, "no Tolvenmire.dat after the kill");
    if (*after != last && *after != pending)
        return fault(t, kill,
                     "Tolvenmire.dat holds '" + *after + "', neither the last level saved (" + last +
                         ") nor the one being saved (" + pending + ")");
    if (*after == pending && pending != last) ++t.newValue;
    if (fs::exists(folder / "Tolvenmire.dat.tmp")) {
        ++t.temporaryLeft;
        // What the next child must not load: make it unmistakable.
        std::ofstream(folder / "Tolvenmire.dat.tmp", std::ios::binary | std::ios::trunc) << "-12345";
    }
    return true;
}

// The recording the kill left, copied into `keep` as kill-NNN.rec for the Linux
// replay (kill_replay); the child's own stays, as the next child finds it.
bool keepLeft(Totals& t, int kill, const fs::path& folder, const fs::path& keep) {
    const fs::path path = folder / "Tolvenmire.rec";
    std::error_code ec;
    if (!fs::exists(path, ec)) return fault(t, kill, "no recording after the kill");
    char name[32];
    std::snprintf(name, sizeof name, "kill-%03d.rec", kill);
    if (!fs::copy_file(path, keep / name, fs::copy_options::overwrite_existing, ec))
        return fault(t, kill, "cannot keep the recording: " + ec.message());
    ++t.recordings;
    return true;
}

int parent(int kills, unsigned seed, const std::string& self, bool record, bool exit, const fs::path& keep) {
    const fs::path folder =
        fs::temp_directory_path() / ("tolvenmire-kill-" + std::to_string(GetCurrentProcessId()));
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    std::ofstream(folder / "Tolvenmire.dat", std::ios::binary) << "99";
    if (record)
        std::ofstream(folder / "Tolvenmire.ini", std::ios::binary) << "[SETTINGS]\nRECORD_SESSION=1\n";
    const std::string mapping = "tolvenmire-kill-" + std::to_string(GetCurrentProcessId());
    HANDLE m =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), mapping.c_str());
    Shared* sh = m ? (Shared*)MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared)) : nullptr;
    if (!sh) {
        std::fprintf(stderr, "error: cannot make the shared memory: error %lu\n", GetLastError());
        return 1;
    }
    std::mt19937 random(seed);
    // Most kills within the first 40 ms of play, some later: a save every few
    // milliseconds, so that kills land in every step of it.
    // Recording, later: the blocks go out when full and at each hold.
    std::uniform_int_distribution<int> delay(0, record ? 400000 : 40000);
    Totals t;
    const DWORD started = GetTickCount();
    for (int k = 1; k <= kills; ++k) {
        const int delayUs = delay(random);
        // Exiting: by a thread, or inside the plug-in's nth WriteFile (3 to 80: after
        // the recording's head and first block).
        const int exitAt = exit && random() % 2 ? 3 + (int)(random() % 78) : 0;
        const int exitMode = !exit ? 0 : exitAt ? 2 : 1;
        if (killOnce(t, k, self, folder, mapping, sh, delayUs, exitMode, exitAt) && record)
            keepLeft(t, k, folder, keep);
    }
    const double seconds = (GetTickCount() - started) / 1000.0;
    fs::remove_all(folder, ec);
    std::printf("Killed mid-save: %d kills in %.1f s (seed %u): %d saves completed, the level being saved "
                "found in place after %d kills, a temporary file left by %d, %d faults\n",
                t.kills, seconds, seed, t.saves, t.newValue, t.temporaryLeft, t.faults);
    if (record)
        std::printf("%s mid-recording: %d recordings kept in %s for the replay\n", exit ? "Exited" : "Killed",
                    t.recordings, keep.string().c_str());
    std::printf("%d passed, %d failed\n", t.kills - t.faults, t.faults);
    return t.faults == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return child(argv[2], argv[3]);
    int kills = 200;
    unsigned seed = 1;
    bool record = false, exit = false;
    fs::path keep;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--kills") == 0 && a + 1 < argc)
            kills = std::atoi(argv[++a]);
        else if (std::strcmp(argv[a], "--seed") == 0 && a + 1 < argc)
            seed = (unsigned)std::strtoul(argv[++a], nullptr, 10);
        else if (std::strcmp(argv[a], "--record") == 0)
            record = true;
        else if (std::strcmp(argv[a], "--exit") == 0)
            exit = record = true;
        else if (std::strcmp(argv[a], "--keep") == 0 && a + 1 < argc)
            keep = argv[++a];
        else {
            std::fprintf(stderr, "usage: %s [--kills N] [--seed S] [--record [--exit] --keep DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (record && keep.empty()) {
        std::fprintf(stderr, "error: --record needs --keep DIR, the folder the recordings left go into\n");
        return 2;
    }
    std::error_code ec;
    if (record && !fs::is_directory(keep, ec) && !fs::create_directories(keep, ec)) {
        std::fprintf(stderr, "error: %s: cannot make the folder: %s\n", keep.string().c_str(),
                     ec.message().c_str());
        return 2;
    }
    if (kills < 1) {
        std::fprintf(stderr, "error: --kills needs a positive number\n");
        return 2;
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return parent(kills, seed, self, record, exit, keep);
}
