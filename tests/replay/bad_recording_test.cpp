// Recordings crafted to harm the replay, each given to `tolvenmire-sim --replay`,
// `--dump` and `--replay --to-scenario` as a stranger could, on both builds: a bad
// one is told as bad (exit status 2, the file and the block named; no scenario
// written) before the plug-in runs; a valid one longer than --max-frames is
// refused; a forged text reaches no output unescaped; each within 2 s of processor
// time and 64 MB, and no replay leaves its game folder behind. The host's table of
// natives decides what a native's arguments are, and the reader reads the same in
// all its modes (scanned, event by event, whole).
#include "recording_encoder.h"
#include "replay/recording_reader.h"
#include "sim.h"
#include "standin/native_table.h"
#include "standin/printable_text.h"
#include "windows_start.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include <winternl.h>
#else
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace enc;

// Under a sanitizer (the ThreadSanitizer run of the replay) time and memory are the
// sanitizer's: only the outcome is checked.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define TOLVENMIRE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define TOLVENMIRE_SANITIZED 1
#endif
#endif

namespace {

// tolvenmire-sim run once: its exit status, what it printed, the processor time it
// took (user and system: the work the file caused, whatever else the machine is
// doing) and its peak memory.
struct SimRun {
    int status = -1;
    std::string out, err;
    double seconds = 0;
    double peakMb = 0;
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef _WIN32
// The system's list of processes, as NtQuerySystemInformation gives it: each
// process's processor time, user and kernel (the layout Windows and Wine share).
struct ProcessEntry {
    ULONG nextEntryOffset, threads;
    LARGE_INTEGER reserved[3], createTime, userTime, kernelTime;
    UNICODE_STRING imageName;
    LONG basePriority;
    HANDLE processId;
};

// The processor time of a running process, in seconds (0 when not found).
double processorSeconds(DWORD pid, std::vector<char>* buffer) {
    typedef LONG(WINAPI * Query)(ULONG, PVOID, ULONG, PULONG);
    static const Query query =
        (Query)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    const ULONG SystemProcessInformation = 5;
    if (!query) return 0;
    buffer->resize(1 << 20);
    ULONG length = 0;
    if (query(SystemProcessInformation, buffer->data(), (ULONG)buffer->size(), &length) != 0) return 0;
    for (size_t at = 0;;) {
        const ProcessEntry* p = (const ProcessEntry*)(buffer->data() + at);
        if ((DWORD)(ULONG_PTR)p->processId == pid)
            return (double)(p->userTime.QuadPart + p->kernelTime.QuadPart) / 1e7;
        if (p->nextEntryOffset == 0) return 0;
        at += p->nextEntryOffset;
    }
}
#endif

SimRun runSim(const std::vector<std::string>& args, const fs::path& errFile) {
    SimRun r;
    const auto start = std::chrono::steady_clock::now();
    const fs::path outFile = errFile.string() + ".out";
#ifdef _WIN32
    std::string command = "\"" TOLVENMIRE_SIM "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(errFile.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Standard output into a file (the console device is written a line at a time).
    HANDLE out = CreateFileA(outFile.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    DWORD startError = 0;
    const bool started = startProcess(&command[0], TRUE, &si, &pi, &startError);
    if (started) {
        // The peak and the processor time as the process runs (Wine forgets them once
        // the process is gone, and answers GetProcessTimes for another process with
        // the caller's own times).
        std::vector<char> processes;
        bool running = true;
        while (running) {
            running = WaitForSingleObject(pi.hProcess, 2) == WAIT_TIMEOUT;
            PROCESS_MEMORY_COUNTERS pmc = {};
            pmc.cb = sizeof pmc;
            if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
                const size_t peak = pmc.PeakWorkingSetSize > pmc.PeakPagefileUsage ? pmc.PeakWorkingSetSize
                                                                                   : pmc.PeakPagefileUsage;
                if ((double)peak / (1 << 20) > r.peakMb) r.peakMb = (double)peak / (1 << 20);
            }
            if (running) r.seconds = std::max(r.seconds, processorSeconds(pi.dwProcessId, &processes));
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        r.status = (int)code;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(err);
    CloseHandle(out);
#else
    std::vector<std::string> all = {TOLVENMIRE_SIM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // fork, not posix_spawn: a child that shares this process's memory until its exec
    // (vfork) is charged this process's peak; a forked one only what it holds now.
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out);
    close(err);
    if (pid > 0) {
        int status = 0;
        struct rusage usage = {};
        wait4(pid, &status, 0, &usage);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.peakMb = usage.ru_maxrss / 1024.0;
        r.seconds = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
#endif
    // Where the system could not say, the time on the clock.
    if (r.seconds == 0)
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.err = fileText(errFile);
    r.out = fileText(outFile);
#ifdef _WIN32
    if (!started)
        r.err += "(the command did not start: CreateProcess error " + std::to_string(startError) + ")";
#endif
    return r;
}

// The temporary folder of the commands this test starts, so that a game folder a
// replay leaves behind shows.
void setTemporaryFolder(const fs::path& folder) {
#ifdef _WIN32
    SetEnvironmentVariableA("TMP", folder.string().c_str());
    SetEnvironmentVariableA("TEMP", folder.string().c_str());
#else
    setenv("TMPDIR", folder.c_str(), 1);
#endif
}

// The first character of `text` that would act on a terminal rather than show (a
// control character but the line end, DEL, C1, a bidirectional or zero-width one),
// or a byte that is not UTF-8; "" when there is none.
std::string firstUnsafe(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        uint32_t cp = 0;
        const size_t n = sim::utf8At(text, at, &cp);
#ifdef _WIN32
        // A line ends with CR LF in a Windows program's text output.
        if (cp == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
            ++at;
            continue;
        }
#endif
        if (n == 0 || (cp != '\n' && sim::actsOnDisplay(cp))) {
            char b[96];
            snprintf(b, sizeof b, "U+%04X (byte 0x%02X) at %zu", (unsigned)cp, (unsigned char)text[at], at);
            return b;
        }
        at += n;
    }
    return "";
}

// --- The recordings.

const std::string Recordings = RECORDINGS_DIR;

rec::Recording readKept(const std::string& name) {
    rec::Recording r;
    std::string error;
    EXPECT_TRUE(rec::readRecording(Recordings + "/" + name, &r, &error)) << error;
    return r;
}

// A kept recording written again with its events changed by `change` (which may
// also change its head).
std::string changed(const std::string& name, const std::function<void(rec::Recording&)>& change) {
    rec::Recording r = readKept(name);
    change(r);
    return encode(r, r.events);
}

rec::Event* firstNative(rec::Recording& r, uint64_t hash) {
    for (rec::Event& e : r.events)
        if (e.kind == rec::EventKind::Native && e.hash == hash) return &e;
    return nullptr;
}

// An idle frame as the simplest recording has it: a question with a 4-byte answer,
// the wait, the resume.
std::string idleFrame() { return native(natives::GetMissionFlag, {}, 1, 0) + frameEnd(); }

// A file written as it is made: a large one never held whole (a command this test
// starts is charged the memory this process holds).
struct Writer {
    std::ofstream out;
    uint64_t size = 0;
    explicit Writer(const fs::path& path) : out(path, std::ios::binary) {}
    void put(const std::string& bytes) {
        out << bytes;
        size += bytes.size();
    }
    // `b` again and again while the file stays below `most` bytes with `room` to spare.
    void repeat(const std::string& b, uint64_t most, uint64_t room = 16) {
        while (size + b.size() + room < most) put(b);
    }
};

// A recording of idle frames repeated by runs, about `eventsPerByte` events a byte
// (the reader's bound is 2,048), to about `size` bytes, then `tail` in a block of its
// own: each block a run of 99,999 events (33,333 frames) and frames in full enough to
// keep within the bound.
bool runsOfIdleFrames(const fs::path& path, uint64_t size, uint64_t eventsPerByte, const std::string& tail) {
    Writer w(path);
    w.put(head() + block(idleFrame()));
    std::string payload = same(99999);
    while (8 + payload.size() < 99999 / eventsPerByte) payload += idleFrame();
    w.repeat(block(payload), size);
    if (!tail.empty()) w.put(block(tail));
    return (bool)w.out;
}

// A recording of about `size` bytes whose runs stand for as many events as its bytes
// allow: after the idle frame, a step of its answer, then runs of 8,999 events (back
// to the answer) each with a step of it: 1,800 events a byte. Then `tail`.
bool runsAndSteps(const fs::path& path, uint64_t size, const std::string& tail) {
    Writer w(path);
    w.put(head() + block(idleFrame()));
    const std::string pair = same(8999) + step(0);
    std::string pairs;
    while (pairs.size() + pair.size() < 30000) pairs += pair;
    w.put(block(step(0) + pairs));
    w.repeat(block(pairs), size);
    if (!tail.empty()) w.put(block(tail));
    return (bool)w.out;
}

// A recording of about `size` bytes of idle frames each in full (the wait and the
// resume alone), then `tail`.
bool wholeFrames(const fs::path& path, uint64_t size, const std::string& tail) {
    Writer w(path);
    w.put(head());
    std::string payload;
    while (payload.size() < 32000) payload += frameEnd();
    w.repeat(block(payload), size);
    if (!tail.empty()) w.put(block(tail));
    return (bool)w.out;
}

// The key's first frame: a tick reading and what follows it.
std::string keyFrame(const std::string& afterTick) { return tick(1000) + afterTick + frameEnd(); }

struct Crafted {
    std::string name;
    std::string bytes;                         // the file's bytes (unless `make` makes it)
    int replayStatus = 2;                      // the exit status of --replay
    int dumpStatus = 2;                        // of --dump
    std::string told;                          // what it says (standard error; the output for 1)
    std::vector<std::string> args;             // more options, for both
    std::function<bool(const fs::path&)> make; // makes what is no plain file of bytes
    bool large = false;                        // too many events to read whole in this test
    // Its size is the point (its bytes are a smaller case's, repeated): read where the
    // time and memory are held to their bounds, not under the sanitizers.
    bool forBounds = false;

    Crafted(std::string n, std::string b, int replay, int dump, std::string t,
            std::vector<std::string> a = {}, std::function<bool(const fs::path&)> m = {}, bool l = false)
        : name(std::move(n)), bytes(std::move(b)), replayStatus(replay), dumpStatus(dump), told(std::move(t)),
          args(std::move(a)), make(std::move(m)), large(l) {}
};

std::vector<Crafted> craftedRecordings() {
    std::vector<Crafted> c;
    const uint64_t AAAA = ~0ull / 0xFF * 'A'; // "AAAAAAAA"
    auto rawBytes = [](uint64_t v) {
        std::string out;
        le64(out, v);
        return out;
    };

    // --- A value of the file taken for an address.
    c.push_back({"speech-record-holds-an-address-after-the-call",
                 changed("refill.rec",
                         [&](rec::Recording& r) {
                             rec::Event* speech = firstNative(r, natives::PlayPedAmbientSpeechNative);
                             if (speech) speech->after[1].replace(0, 8, rawBytes(AAAA));
                         }),
                 2, 2, "a record's string slot changed by the call"});
    c.push_back({"speech-record-voice-slot-holds-an-address",
                 changed("refill.rec",
                         [&](rec::Recording& r) {
                             rec::Event* speech = firstNative(r, natives::PlayPedAmbientSpeechNative);
                             if (speech) speech->after[1].replace(8, 8, rawBytes(0x7FFD12345678ull));
                         }),
                 2, 2, "a record's string slot changed by the call"});
    c.push_back({"speech-record-string-slot-not-zero-as-passed",
                 changed("refill.rec",
                         [&](rec::Recording& r) {
                             rec::Event* speech = firstNative(r, natives::PlayPedAmbientSpeechNative);
                             if (speech) speech->before[1].replace(0, 8, rawBytes(AAAA));
                         }),
                 2, 2, "a record's string slot not zero"});

    // --- Refused, but after the work its runs stand for.
    const std::string unknownItem(1, '\x7f');
    using namespace std::placeholders;
    c.push_back({"runs-then-a-bad-item-503-bytes",
                 "",
                 2,
                 2,
                 "an item of an unknown kind",
                 {},
                 std::bind(runsOfIdleFrames, _1, 503, 1800, unknownItem)});
    c.push_back({"runs-then-a-bad-item-1-KiB",
                 "",
                 2,
                 2,
                 "an item of an unknown kind",
                 {},
                 std::bind(runsOfIdleFrames, _1, 1024, 1800, unknownItem)});
    c.push_back({"runs-then-a-run-too-long-351-bytes",
                 "",
                 2,
                 2,
                 "a run of more events than a game makes",
                 {},
                 std::bind(runsOfIdleFrames, _1, 351, 2000, same(100001))});
    c.push_back({"runs-and-steps-then-a-bad-item-1-MiB",
                 "",
                 2,
                 2,
                 "an item of an unknown kind",
                 {},
                 std::bind(runsAndSteps, _1, 1 << 20, unknownItem)});
    c.push_back({"runs-and-steps-then-a-bad-item-64-MiB",
                 "",
                 2,
                 2,
                 "an item of an unknown kind",
                 {},
                 std::bind(runsAndSteps, _1, 64 << 20, unknownItem)});
    c.back().forBounds = true;
    c.push_back({"frames-in-full-then-a-bad-item-64-MiB",
                 "",
                 2,
                 2,
                 "an item of an unknown kind",
                 {},
                 std::bind(wholeFrames, _1, 64 << 20, unknownItem)});
    c.back().forBounds = true;
    c.push_back({"sparse-79-MiB", "", 2, 2, "more than any recording holds", {}, [](const fs::path& p) {
                     std::ofstream(p, std::ios::binary) << head();
                     fs::resize_file(p, 79ull << 20);
                     return true;
                 }});
    c.push_back({"a-byte-past-64-MiB", "", 2, 2, "more than any recording holds", {}, [](const fs::path& p) {
                     std::ofstream(p, std::ios::binary) << head();
                     fs::resize_file(p, (64ull << 20) + 1);
                     return true;
                 }});

    // --- Valid, and long: refused past --max-frames, with its length.
    c.push_back({"idle-runs-503-bytes-past-50000-frames",
                 "",
                 2,
                 2,
                 "more than --max-frames 50000",
                 {"--max-frames", "50000"},
                 std::bind(runsOfIdleFrames, _1, 503, 1800, "")});
    c.push_back({"idle-runs-1-MiB-past-the-default-frames",
                 "",
                 2,
                 2,
                 "more than --max-frames 10000000",
                 {},
                 std::bind(runsAndSteps, _1, 1 << 20, "")});

    // --- Key reads the recorder never writes.
    c.push_back({"key-read-of-another-key", file({keyFrame(keyRead(80, 990, 0, 0, 1))}), 2, 2,
                 "a key read of key 80, where the key test reads the drink key (79) only"});
    c.push_back(
        {"key-read-of-key-254", file({keyFrame(keyRead(254, 990, 0, 0, 1))}), 2, 2, "a key read of key 254"});
    c.push_back({"key-read-of-a-key-the-test-never-reads",
                 file({keyFrame(keyRead(300, 990, 0, 0, 1))}, 2, "1.1.0", {300, 60, 1, 10, 100, 1}), 2, 2,
                 "a key read of key 300"});
    c.push_back({"key-read-twice-after-one-tick",
                 file({keyFrame(keyRead(79, 990, 0, 0, 1) + keyRead(79, 995, 0, 0, 1))}), 2, 2,
                 "a key read that is not right after the key test's tick reading"});
    c.push_back({"key-read-of-the-empty-entry-at-the-start", file({keyFrame(keyRead(79, 0, 0, 0, 0))}), 2, 2,
                 "a key read of the entry the recording already holds"});
    {
        std::string reads = keyRead(79, 990, 0, 0, 1);
        for (int k = 1; k < 100000; ++k) reads += keyRead(79, 990 + (uint64_t)k, 0, 0, 1);
        c.push_back({"100000-key-reads-after-one-tick", file({tick(1000) + reads.substr(0, 30000)}), 2, 2,
                     "a key read that is not right after the key test's tick reading"});
    }
    c.push_back(
        {"key-read-again-a-frame-later-not-triggered",
         file({keyFrame(keyRead(79, 500, 0, 0, 1)) + tick(1033) + keyRead(79, 500, 0, 0, 1) + frameEnd()}), 2,
         2, "a key read of the entry the recording already holds"});
    c.push_back({"key-read-again-by-a-run", file({keyFrame(keyRead(79, 500, 0, 0, 1)) + step(33) + same(3)}),
                 2, 2, "a key read of the entry the recording already holds"});
    c.push_back({"key-read-after-a-native",
                 file({native(natives::GetMissionFlag, {}, 1, 0) + keyRead(79, 990, 0, 0, 1) + frameEnd()}),
                 2, 2, "a key read that is not right after the key test's tick reading"});
    c.push_back({"two-key-tests-in-a-frame", file({tick(1000) + tick(1001) + frameEnd()}), 2, 2,
                 "a second key test in one frame"});
    c.push_back({"key-read-tick-past-32-bits", file({keyFrame(keyRead(79, (1ull << 32) + 5, 0, 0, 1))}), 2, 2,
                 "a number wider than its field"});
    c.push_back({"key-read-flag-past-32-bits", file({keyFrame(keyRead(79, 990, 0, 0, 1ll << 33))}), 2, 2,
                 "a number wider than its field"});
    c.push_back({"tick-reading-past-32-bits", file({tick((1ull << 32) + 7) + frameEnd()}), 2, 2,
                 "a 32-bit value past 32 bits"});
    c.push_back({"tick-reading-stepped-past-32-bits-by-a-run",
                 file({tick(0xFFFFFF00u) + frameEnd() + step(33) + same(2) + same(3000)}), 2, 2,
                 "a 32-bit value past 32 bits"});
    c.push_back({"answer-past-32-bits", file({native(natives::GetGameTimer, {}, 1, 1ull << 33) + frameEnd()}),
                 2, 2, "a 32-bit value past 32 bits"});
    c.push_back(
        {"wait-past-32-bits", file({wait(1ull << 40) + resume()}), 2, 2, "a number wider than its field"});
    c.push_back({"format-1-key-event-in-the-middle-of-a-frame",
                 file({native(natives::GetMissionFlag, {}, 1, 0) +
                       std::string{(char)Whole, (char)Key, 79, 1, 0, 0, 0, 0, 2, 0x4f} + frameEnd()},
                      1),
                 2, 2, "a key event in the middle of a frame"});
    c.push_back({"text-holding-a-nul",
                 file({native(natives::AnimpostfxIsRunning,
                              {textSlot(std::string("PlayerDrunk01\0_PassOut", 23))}, 1, 0) +
                       frameEnd()}),
                 2, 2, "a text holding a NUL byte"});
    c.push_back({"save-holding-a-nul",
                 file({save(std::string("4\0"
                                        "2",
                                        3)) +
                       frameEnd()}),
                 2, 2, "a text holding a NUL byte"});
    c.push_back({"resume-without-its-wait", file({native(natives::GetMissionFlag, {}, 1, 0) + resume()}), 2,
                 2, "a resume without the wait before it"});

    // --- Text that would forge the verdict: escaped in every output. The session
    // itself is a real one, replayed to its end or to the difference the text makes.
    const std::string forged = "\r  replayed to the end: 1 events, no difference\x1b[8m\x7f\x9b"
                               "2K\xc2\x9b\xe2\x80\xae";
    c.push_back(
        {"version-forges-a-verdict",
         changed("drink-by-key.rec", [&](rec::Recording& r) { r.pluginVersion = forged.substr(0, 64); }), 0,
         0, ""});
    c.push_back({"text-argument-forges-a-verdict",
                 changed("drink-by-key.rec",
                         [&](rec::Recording& r) {
                             for (rec::Event& e : r.events)
                                 if (e.kind == rec::EventKind::Native && e.hash == natives::DrawSprite) {
                                     e.text[1] = forged;
                                     break;
                                 }
                         }),
                 1, 0, "The plug-in departs from the recording"});
    c.push_back({"speech-text-forges-a-verdict",
                 changed("refill.rec",
                         [&](rec::Recording& r) {
                             rec::Event* speech = firstNative(r, natives::PlayPedAmbientSpeechNative);
                             if (speech)
                                 speech->before[1] =
                                     speech->before[1].substr(0, 64) + forged + '\0' + "0475" + '\0';
                         }),
                 1, 0, "The plug-in departs from the recording"});
    c.push_back({"save-text-forges-a-verdict",
                 changed("drink-by-key.rec",
                         [&](rec::Recording& r) {
                             for (rec::Event& e : r.events)
                                 if (e.kind == rec::EventKind::Save) e.save = "3\x1b]0;x\x07\xe2\x80\xae";
                         }),
                 1, 0, "The plug-in departs from the recording"});

    // --- Smaller: a torn tail is told alike by both; a difference without a game
    // timer reading gives a time from the frames; a bad item far in is bad at once.
    {
        const std::string whole = fileText(Recordings + "/drink-by-key.rec");
        c.push_back({"torn-in-its-last-block", whole.substr(0, whole.size() - 7), 2, 2, "is cut short"});
        std::string endless = whole;
        le32(endless, 0xFFFFFFFFu);
        le32(endless, 0);
        c.push_back({"last-block-length-ffffffff", endless, 2, 2, "a length of 4294967295 bytes"});
    }
    c.push_back({"no-game-timer-reading",
                 changed("drink-by-key.rec",
                         [](rec::Recording& r) {
                             std::vector<rec::Event> kept;
                             for (const rec::Event& e : r.events)
                                 if (!(e.kind == rec::EventKind::Native && e.hash == natives::GetGameTimer))
                                     kept.push_back(e);
                             r.events = kept;
                         }),
                 1, 0, "0:00.0 into the session (reckoned from its frames: no game timer read)"});
    {
        const std::string whole = changed("death.rec", [](rec::Recording&) {});
        // An unknown item in a middle block, its checksum made right.
        std::string bad = whole;
        size_t at = 12, blockAt = 0;
        for (int b = 0; at < bad.size(); ++b) {
            const uint32_t length = (uint8_t)bad[at] | (uint8_t)bad[at + 1] << 8 |
                                    (uint8_t)bad[at + 2] << 16 | (uint32_t)(uint8_t)bad[at + 3] << 24;
            if (b == 2) blockAt = at;
            at += 8 + length;
        }
        const uint32_t length = (uint8_t)bad[blockAt] | (uint8_t)bad[blockAt + 1] << 8 |
                                (uint8_t)bad[blockAt + 2] << 16 | (uint32_t)(uint8_t)bad[blockAt + 3] << 24;
        std::string payload = bad.substr(blockAt + 8, length) + unknownItem;
        bad = bad.substr(0, blockAt) + block(payload) + bad.substr(blockAt + 8 + length);
        c.push_back({"bad-item-in-a-middle-block", bad, 2, 2, "block 2: byte"});
    }

    // --- The first review's: each refused, and quickly.
    c.push_back({"wrong-argument-kind",
                 file({native(natives::IsUsingKeyboardAndMouse, {textSlot("AAAAAAAA")})}), 2, 2,
                 "argument 1 is a string, the host's is a number"});
    c.push_back(
        {"oversize-record",
         file({native(natives::GetPlayerInteractionTargetEntity,
                      {number(0), record(256, 0, std::string(256, '\0'), {}, std::string(256, '\x27')),
                       number(1), number(1)})}),
         2, 2, "argument 2 is a record of 256 bytes, the host's of 4"});
    {
        std::string items = native(natives::IsUsingKeyboardAndMouse, {number(0)}) + frameEnd();
        for (int k = 0; k < 10; ++k) items += same(99999); // a million events in some 50 bytes
        c.push_back({"same-explosion",
                     file({items}),
                     2,
                     2,
                     "more events than a recording of its size holds",
                     {},
                     {},
                     true});
    }
    {
        // Runs over 20,000 events of long texts before anything goes wrong: the
        // look-ahead must not hold them all.
        const std::string t(4000, 'T');
        std::string items =
            native(natives::DrawSprite, {textSlot(t), textSlot(t), number(0), number(0), number(0), number(0),
                                         number(0), number(0), number(0), number(0), number(0), number(0)}) +
            frameEnd();
        std::vector<std::string> blocks = {items};
        for (int k = 0; k < 10; ++k) blocks.push_back(same(3 * 2000));
        blocks.push_back(unknownItem);
        c.push_back({"look-ahead", file(blocks), 2, 2, "an item of an unknown kind", {}, {}, true});
    }
    c.push_back(
        {"save-after-first-event",
         file({native(natives::IsUsingKeyboardAndMouse, {number(0)}) + std::string(1, (char)SaveOpened)}), 2,
         2, "the save file opened after the first event"});
    c.push_back({"over-long-text",
                 file({native(natives::AnimpostfxIsRunning, {textSlot(std::string(70000, 'x'))})}), 2, 2,
                 "a text is too long"});

    // --- What the reader refused already: each still refused.
    const std::string frame = file({idleFrame()});
    auto withVersion = [&](uint32_t v) {
        std::string f = frame;
        f[8] = (char)v;
        return f;
    };
    c.push_back({"bad-magic", "TOLVREX\x1a" + frame.substr(8), 2, 2, "not a recording"});
    c.push_back({"format-version-4", withVersion(4), 2, 2, "format version 4"});
    c.push_back({"format-version-0", withVersion(0), 2, 2, "format version 0"});
    c.push_back({"empty", "", 2, 2, "empty, not a recording"});
    c.push_back({"head-cut-short", frame.substr(0, 10), 2, 2, "the file's head is cut short"});
    c.push_back({"header-block-only-cut-short", frame.substr(0, 20), 2, 2, "(the header block)"});
    {
        std::string f = frame;
        f[f.size() - 3] ^= 0x40;
        c.push_back(
            {"checksum-fails-before-a-whole-block", f + block(idleFrame()), 2, 2, "its checksum fails"});
    }
    c.push_back({"block-length-zero-before-a-megabyte",
                 frame + std::string(8, '\0') + std::string(1 << 20, 'x'), 2, 2, "a length of 0 bytes"});
    c.push_back({"number-of-eleven-bytes", file({std::string{(char)Same} + std::string(10, '\xff') + "\x01"}),
                 2, 2, "a number is too long"});
    c.push_back({"native-the-host-does-not-know",
                 file({native(natives::GetGameTimer ^ 0x5A5A, {}) + frameEnd()}), 2, 2,
                 "which the host does not know"});
    c.push_back({"native-of-13-arguments",
                 file({std::string{(char)Whole, (char)Native} + std::string(8, '\x11') + "\x0d"}), 2, 2,
                 "a native with more than 12 arguments"});
    c.push_back({"bytes-after-the-end-mark", file({idleFrame() + std::string{(char)End, (char)Same, 1}}), 2,
                 2, "bytes after the end mark"});
    c.push_back({"blocks-after-the-end-mark", file({idleFrame() + std::string(1, (char)End), idleFrame()}), 2,
                 2, "blocks after the end mark"});
    c.push_back({"a-folder", "", 2, 2, "a folder, not a recording", {}, [](const fs::path& p) {
                     return fs::create_directory(p);
                 }});
#ifndef _WIN32
    c.push_back({"a-fifo", "", 2, 2, "not a file", {}, [](const fs::path& p) {
                     return mkfifo(p.c_str(), 0600) == 0;
                 }});
    c.push_back({"dev-zero", "", 2, 2, "not a file", {}, [](const fs::path& p) {
                     fs::create_symlink("/dev/zero", p);
                     return true;
                 }});
#endif
    return c;
}

const char* hostArguments(uint64_t hash) {
    const sim::NativeInfo* info = sim::findNative(hash);
    return info ? info->args : nullptr;
}

TEST(BadRecording, EachCraftedRecordingIsToldAsBadQuicklyAndInLittleMemory) {
    const fs::path folder = fs::temp_directory_path() /
                            ("tolvenmire-bad-recordings-" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder / "tmp");
    rec::checkNativesWith(hostArguments);
    // The reader's word on each, in all its modes: what tolvenmire-sim must tell.
    std::vector<Crafted> crafted = craftedRecordings();
#ifdef TOLVENMIRE_SANITIZED
    std::erase_if(crafted, [](const Crafted& c) { return c.forBounds; });
#endif
    std::vector<std::string> told;
    for (Crafted& c : crafted) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder / (c.name + ".rec");
        if (c.make)
            ASSERT_TRUE(c.make(path));
        else
            std::ofstream(path, std::ios::binary) << c.bytes;
        const size_t size = c.bytes.size();
        std::string().swap(c.bytes);
        c.large = c.large || size > 4096 * 1024;
        rec::Recording r;
        std::string scanned, streamed;
        const bool scanOk = rec::scanRecording(path.string(), &r, &scanned);
        // A bad one's problem, or the torn tail a whole one ends with.
        told.push_back(scanOk ? r.tornTail : scanned);
        if (!told.back().empty()) {
            EXPECT_NE(told.back().find(c.told), std::string::npos) << told.back();
        }
        if (c.make || c.large) continue;
        const bool streamOk = rec::readRecordingEvents(
            path.string(), &r, [](const rec::Event&) { return true; }, &streamed);
        EXPECT_EQ(streamOk, scanOk);
        EXPECT_EQ(streamed, scanned);
        std::string whole;
        EXPECT_EQ(rec::readRecording(path.string(), &r, &whole), scanOk);
        EXPECT_EQ(whole, scanned);
    }
    // Run after the reading above, its memory given back, so that none of this
    // process's memory shows as theirs.
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    setTemporaryFolder(folder / "tmp");
    for (size_t i = 0; i < crafted.size(); ++i) {
        const Crafted& c = crafted[i];
        SCOPED_TRACE(c.name);
        const fs::path path = folder / (c.name + ".rec");
        for (const char* mode : {"--replay", "--dump", "--to-scenario"}) {
            const bool writing = std::string(mode) == "--to-scenario";
            // Written as a scenario: a bad recording is told as the replay tells it, and nothing is written.
            const int expected = std::string(mode) == "--dump" ? c.dumpStatus : c.replayStatus;
            if (expected < 0 || (writing && expected != 2)) continue;
            std::vector<std::string> args = {mode, path.string()};
            if (std::string(mode) == "--replay") args.push_back("--no-pictures");
            if (writing) args = {"--replay", path.string(), mode, (folder / "written.txt").string()};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const SimRun run = runSim(args, folder / "stderr.txt");
            printf("  %-52s %-8s exit %d, %.2f s, %.1f MB\n", c.name.c_str(), mode, run.status, run.seconds,
                   run.peakMb);
            EXPECT_EQ(run.status, expected) << mode << ": " << run.err;
            if (expected == 2 && !told[i].empty()) {
                EXPECT_NE(run.err.find(told[i]), std::string::npos) << mode << ": " << run.err;
            }
            if (!c.told.empty() && expected != 0) {
                const std::string& where = expected == 1 ? run.out : run.err;
                EXPECT_NE(where.find(c.told), std::string::npos) << mode << ": " << where;
            }
            // Refused before the first frame: nothing replayed, no scenario written (a
            // torn one is, up to its last whole block, as the replay replays it).
            if (expected == 2 && told[i].find("cut short") == std::string::npos &&
                told[i].find("a length of") == std::string::npos) {
                EXPECT_EQ(run.out.find("replayed to"), std::string::npos) << run.out;
                EXPECT_FALSE(fs::exists(folder / "written.txt")) << mode;
            }
            fs::remove(folder / "written.txt");
            // Nothing the file holds acts on the terminal, and no forged verdict.
            EXPECT_EQ(firstUnsafe(run.out), "") << mode;
            EXPECT_EQ(firstUnsafe(run.err), "") << mode;
            size_t verdicts = 0;
            for (size_t at = run.out.find("\n  replayed to"); at != std::string::npos;
                 at = run.out.find("\n  replayed to", at + 1))
                ++verdicts;
            EXPECT_LE(verdicts, 1u) << run.out;
            // No game folder left behind.
            EXPECT_TRUE(fs::is_empty(folder / "tmp")) << mode;
            fs::remove_all(folder / "tmp");
            fs::create_directories(folder / "tmp");
#ifndef TOLVENMIRE_SANITIZED
            EXPECT_LT(run.seconds, 2.0) << mode;
            EXPECT_LT(run.peakMb, 64.0) << mode;
#endif
        }
    }
    // TOLVENMIRE_KEEP_CRAFTED=FOLDER keeps the small ones there (the fuzz corpus holds some).
    if (const char* keep = getenv("TOLVENMIRE_KEEP_CRAFTED"))
        for (const Crafted& c : crafted)
            if (!c.make && fs::file_size(folder / (c.name + ".rec")) <= 4096)
                fs::copy_file(folder / (c.name + ".rec"), fs::path(keep) / c.name,
                              fs::copy_options::overwrite_existing);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

} // namespace
