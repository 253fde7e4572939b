// Recordings crafted to harm the replay, each given to `tolvenmire-sim --replay`,
// `--dump` and `--replay --to-scenario` as a stranger could: every one is told as a
// bad recording (exit status 2, the file and the block named; no scenario written),
// within 2 s and 64 MB, on both builds.
// The host's table of natives decides what a native's arguments are, and the
// reader reads the same in both its modes: the message is the whole-file reader's.
#include "replay/recording_reader.h"
#include "sim.h"
#include "standin/native_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

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

// tolvenmire-sim run once: its exit status, standard error, the processor time it
// took (user and system: the work the file caused, whatever else the machine is
// doing) and its peak memory.
struct SimRun {
    int status = -1;
    std::string err;
    double seconds = 0;
    double peakMb = 0;
};

SimRun runSim(const std::vector<std::string>& args, const fs::path& errFile) {
    SimRun r;
    const auto start = std::chrono::steady_clock::now();
#ifdef _WIN32
    std::string command = "\"" TOLVENMIRE_SIM "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(errFile.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Standard output into a file (the console device is written a line at a time).
    const std::string outFile = errFile.string() + ".out";
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        // The peak as the process runs (Wine forgets it once the process is gone).
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
        }
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user)) {
            const auto ticks = [](FILETIME t) {
                return ((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime;
            };
            r.seconds = (double)(ticks(kernel) + ticks(user)) / 1e7; // 100 ns units
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage = {};
        wait4(pid, &status, 0, &usage);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.peakMb = usage.ru_maxrss / 1024.0;
        r.seconds = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    posix_spawn_file_actions_destroy(&actions);
#endif
    // Where the system could not say, the time on the clock.
    if (r.seconds == 0)
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream in(errFile, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

// --- Recordings built byte by byte, as docs/recordings.md gives them.

uint32_t crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

void le32(std::string& out, uint32_t v) {
    for (int k = 0; k < 4; ++k) out += (char)(v >> (8 * k));
}
void le64(std::string& out, uint64_t v) {
    for (int k = 0; k < 8; ++k) out += (char)(v >> (8 * k));
}
void varint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out += (char)(v | 0x80);
        v >>= 7;
    }
    out += (char)v;
}
void text(std::string& out, const std::string& s) {
    varint(out, s.size());
    out += s;
}

enum : uint8_t { Same = 0x01, Event = 0x10, SaveOpened = 0x20, SaveBytes = 0x21 };
enum : uint8_t { Native = 0, Resume = 2, Tick = 4 };
enum : uint8_t { Value = 0, Text = 1, Record = 2 };

// The file: its head, the header block (the plug-in's version, its settings as the
// shipped file gives them), then the blocks of items given.
std::string recordingOf(const std::vector<std::string>& itemBlocks) {
    std::string out = "TOLVREC\x1a";
    le32(out, 1);
    std::string header;
    text(header, "1.1.0");
    for (uint32_t s : {79u, 50u, 0u, 1000u, 60u, 0u}) le32(header, s);
    std::vector<std::string> blocks = {header};
    blocks.insert(blocks.end(), itemBlocks.begin(), itemBlocks.end());
    for (const std::string& b : blocks) {
        le32(out, (uint32_t)b.size());
        le32(out, crc32(b));
        out += b;
    }
    return out;
}

// An event in full: a native's hash, its slots (each already encoded after its
// kind byte), no result.
std::string native(uint64_t hash, const std::vector<std::string>& slots) {
    std::string out(1, (char)Event);
    out += (char)Native;
    le64(out, hash);
    out += (char)slots.size();
    for (const std::string& s : slots) out += s;
    out += (char)0; // no result read
    return out;
}
std::string number(uint64_t v) {
    std::string out(1, (char)Value);
    varint(out, v);
    return out;
}
std::string textSlot(const std::string& s) {
    std::string out(1, (char)Text);
    text(out, s);
    return out;
}
std::string record(uint32_t size) {
    std::string out(1, (char)Record);
    varint(out, size);
    varint(out, 0);
    out += std::string(size, '\0');   // as passed
    out += std::string(size, '\x27'); // as the game left it
    return out;
}
std::string resume() { return std::string{(char)Event, (char)Resume}; }
std::string same(uint64_t n) {
    std::string out(1, (char)Same);
    varint(out, n);
    return out;
}

struct Crafted {
    const char* name;
    std::string bytes;
    const char* problem;     // what the message says, after "FILE: block N: byte M: "
    bool manyEvents = false; // more than a recording read whole holds in 64 MB: read event by event
};

std::vector<Crafted> craftedRecordings() {
    std::vector<Crafted> out;
    // A number marked as a string: its value would be read as an address.
    out.push_back({"wrong-argument-kind",
                   recordingOf({native(natives::IsUsingKeyboardAndMouse, {textSlot("AAAAAAAA")})}),
                   "argument 1 is a string, the host's is a number"});
    // A 256-byte record where the plug-in passes a 4-byte out-variable: written
    // back, it would overwrite what follows the variable in the plug-in.
    out.push_back({"oversize-record",
                   recordingOf({native(natives::GetPlayerInteractionTargetEntity,
                                       {number(0), record(256), number(1), number(1)})}),
                   "argument 2 is a record of 256 bytes, the host's of 4"});
    // A frame of a few events, then runs that repeat it without end.
    {
        std::string items = native(natives::IsUsingKeyboardAndMouse, {number(0)}) + resume();
        for (int k = 0; k < 10; ++k) items += same(100000); // a million events in some 110 bytes
        out.push_back(
            {"same-explosion", recordingOf({items}), "more events than a recording of its size holds", true});
    }
    // Events that each hold two texts as long as the plug-in records, repeated by
    // runs over 20,000 events before anything goes wrong: the look-ahead must not
    // hold them all. The last block has an item the plug-in never writes.
    {
        const std::string t(4096, 'T');
        std::string items =
            native(natives::DrawSprite, {textSlot(t), textSlot(t), number(0), number(0), number(0), number(0),
                                         number(0), number(0), number(0), number(0), number(0), number(0)}) +
            resume();
        std::vector<std::string> blocks = {items};
        for (int k = 0; k < 10; ++k) blocks.push_back(same(2 * 2000));
        blocks.push_back(std::string(1, '\x7f'));
        out.push_back({"look-ahead", recordingOf(blocks), "an item of an unknown kind", true});
    }
    // The save file's bytes after the first event: the script reads them only at
    // its start (read as the replay goes, the reader once wrote them meanwhile).
    {
        std::string items =
            native(natives::IsUsingKeyboardAndMouse, {number(0)}) + std::string(1, (char)SaveOpened);
        std::string bytes(1, (char)SaveBytes);
        text(bytes, "55");
        out.push_back({"save-after-first-event", recordingOf({items + bytes}),
                       "the save file opened after the first event"});
    }
    // A text longer than the plug-in records.
    out.push_back({"over-long-text",
                   recordingOf({native(natives::AnimpostfxIsRunning, {textSlot(std::string(70000, 'x'))})}),
                   "a text is too long"});
    return out;
}

const char* hostArguments(uint64_t hash) {
    const sim::NativeInfo* info = sim::findNative(hash);
    return info ? info->args : nullptr;
}

TEST(BadRecording, EachCraftedRecordingIsToldAsBadQuicklyAndInLittleMemory) {
    const fs::path folder = fs::temp_directory_path() /
                            ("tolvenmire-bad-recordings-" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    rec::checkNativesWith(hostArguments);
    const std::vector<Crafted> crafted = craftedRecordings();
    // The reader's word on each, as tolvenmire-sim must tell it.
    std::vector<std::string> told;
    for (const Crafted& c : crafted) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder / (std::string(c.name) + ".rec");
        std::ofstream(path, std::ios::binary) << c.bytes;
        rec::Recording r;
        std::string streamed;
        EXPECT_FALSE(rec::readRecordingEvents(
            path.string(), &r, [](const rec::Event&) { return true; }, &streamed));
        EXPECT_EQ(streamed.rfind(path.string() + ": block ", 0), 0u) << streamed;
        EXPECT_NE(streamed.find(c.problem), std::string::npos) << streamed;
        // Read whole, the same (the whole-file reader holds its events: only the small ones).
        if (!c.manyEvents) {
            std::string whole;
            EXPECT_FALSE(rec::readRecording(path.string(), &r, &whole));
            EXPECT_EQ(whole, streamed);
        }
        told.push_back(streamed);
    }
    // Run after the reading above, so that none of this process's memory shows as theirs.
    for (size_t i = 0; i < crafted.size(); ++i) {
        const Crafted& c = crafted[i];
        SCOPED_TRACE(c.name);
        const fs::path path = folder / (std::string(c.name) + ".rec");
        for (const char* mode : {"--replay", "--dump", "--to-scenario"}) {
            // The dump of 20,000 events of long texts prints 160 MB: that one is replayed only.
            if (c.manyEvents && c.bytes.size() > 4096 && std::string(mode) == "--dump") continue;
            std::vector<std::string> args = {mode, path.string()};
            if (std::string(mode) == "--replay") args.insert(args.end(), {"--no-pictures", "--quiet"});
            // Written as a scenario: nothing written, the recording told as bad as the replay tells it.
            if (std::string(mode) == "--to-scenario")
                args = {"--replay", path.string(), mode, (folder / "written.txt").string()};
            const SimRun run = runSim(args, folder / "stderr.txt");
            printf("  %-24s %-8s exit %d, %.2f s, %.1f MB\n", c.name, mode, run.status, run.seconds,
                   run.peakMb);
            EXPECT_EQ(run.status, 2) << mode << ": " << run.err;
            EXPECT_NE(run.err.find(told[i]), std::string::npos) << mode << ": " << run.err;
            EXPECT_FALSE(fs::exists(folder / "written.txt")) << mode;
#ifndef TOLVENMIRE_SANITIZED
            EXPECT_LT(run.seconds, 2.0) << mode;
            EXPECT_LT(run.peakMb, 64.0) << mode;
#endif
        }
    }
    // TOLVENMIRE_KEEP_CRAFTED=FOLDER keeps the small ones there (the fuzz corpus holds them).
    if (const char* keep = getenv("TOLVENMIRE_KEEP_CRAFTED"))
        for (const Crafted& c : crafted)
            if (c.bytes.size() <= 4096)
                fs::copy_file(folder / (std::string(c.name) + ".rec"), fs::path(keep) / c.name,
                              fs::copy_options::overwrite_existing);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

} // namespace
