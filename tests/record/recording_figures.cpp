// A measured run of the session recording, for docs/performance.md: the recording's
// size per hour of game time, idle and busy, at 30 and 60 frames a second, and the
// wall time of the frames that put a block out beside the others.
//
//   recording_figures [MINUTES]     (default 60: one hour of each session)
//
// Idle: the player stands outside the saloons. Busy: a cycle of 90 s with a drink by
// the key, a walk into the Valentine saloon with a paid refill, the bartender in and
// out of reach, a death of 10 s, and the rest idle. At 60 frames a second the frames
// take 16 and 17 ms in turn, as a game's do.
#include "sim.h"

#include "base/script_state.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const int32_t Bartender = 2001;
const int32_t Valentine = 21250;
const uint32_t ValentineBartender = 0xB733CF0F;
const uint32_t StopControl = 0xFDA83190;

struct Figures {
    uint64_t bytes = 0;
    int blockFrames = 0;
    double longestBlockFrameMs = 0, longestOtherFrameMs = 0;
    std::vector<double> blockFrameMs, otherFrameMs;
};

uint64_t fileSize(const fs::path& p) {
    std::error_code ec;
    const uintmax_t n = fs::file_size(p, ec);
    return ec ? 0 : (uint64_t)n;
}

// The value below which `share` of the values lie.
double quantile(std::vector<double> v, double share) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(share * (double)v.size()))];
}
// The share of the values over 1 ms, in per cent.
double overOneMs(const std::vector<double>& v) {
    return v.empty() ? 0 : 100.0 * (double)std::count_if(v.begin(), v.end(), [](double x) {
                               return x > 1.0;
                           }) / (double)v.size();
}

// Plays `minutes` of game time; `busy` for the cycle of the busy session.
bool play(const fs::path& folder, unsigned fps, bool busy, unsigned minutes, Figures* f) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    sim::StartOptions o;
    o.workDir = folder.string();
    o.record = false;
    o.withSettings = true;
    o.settings = "[SETTINGS]\nRECORD_SESSION=1\n";
    std::string error;
    if (!sim::start(o, &error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return false;
    }
    sim::World& w = sim::world();
    sim::Ped ped;
    ped.handle = Bartender;
    ped.model = ValentineBartender;
    ped.x = 1.5f;
    w.peds[Bartender] = ped;
    const fs::path file = folder / "Tolvenmire.rec";
    const uint64_t totalMs = (uint64_t)minutes * 60000;
    uint64_t gameMs = 0;
    uint64_t size = fileSize(file);
    for (int frame = 0; gameMs < totalMs; ++frame) {
        w.frameMs = fps == 30 ? 33 : 16 + (frame & 1);
        if (busy) {
            const uint64_t t = gameMs % 90000;
            const ScriptState& s = *sim::pluginState();
            if (t < 33 && !s.drinking) sim::keyEvent(79, 0, 0, 1);
            w.analog[StopControl] = t >= 12000 && t < 12100 ? 1.0f : 0.0f;
            w.interior = t >= 20000 && t < 50000 ? Valentine : 0;
            w.target = t >= 20000 && t < 45000 ? Bartender : 0;
            w.peds[Bartender].x = t >= 35000 ? 9.0f : 1.5f;
            if (t >= 22000 && t < 22100 && s.refillPromptActive) w.prompts[s.refillPrompt].completed = true;
            w.missionFlag = t >= 60000 && t < 70000;
        }
        const Clock::time_point t0 = Clock::now();
        sim::playFrames(1);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        const uint64_t now = fileSize(file);
        if (now != size) {
            f->blockFrameMs.push_back(ms);
            f->longestBlockFrameMs = std::max(f->longestBlockFrameMs, ms);
        } else {
            f->otherFrameMs.push_back(ms);
            f->longestOtherFrameMs = std::max(f->longestOtherFrameMs, ms);
        }
        size = now;
        gameMs += w.frameMs;
    }
    f->bytes = size;
    sim::stop();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned minutes = argc > 1 ? (unsigned)std::atoi(argv[1]) : 60;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: %s [MINUTES]\n", argv[0]);
        return 2;
    }
    const fs::path folder =
        fs::temp_directory_path() /
        ("tolvenmire-recording-figures-" + std::to_string((long)Clock::now().time_since_epoch().count()));
    std::printf("%-8s %4s %14s %7s %36s %36s\n", "session", "fps", "bytes per hour", "blocks",
                "frames putting a block out (ms)", "other frames (ms)");
    std::printf("%-8s %4s %14s %7s %8s %8s %8s %10s %8s %8s %8s %10s\n", "", "", "", "", "median", "99%",
                "longest", "over 1 ms", "median", "99%", "longest", "over 1 ms");
    for (bool busy : {false, true}) {
        for (unsigned fps : {30u, 60u}) {
            // A folder of its own: on Windows an unloaded plug-in's recording stays
            // open until the process ends.
            Figures f;
            if (!play(folder / ((busy ? "busy-" : "idle-") + std::to_string(fps)), fps, busy, minutes, &f))
                return 1;
            std::printf("%-8s %4u %14.0f %7zu %8.3f %8.3f %8.3f %9.2f%% %8.3f %8.3f %8.3f %9.2f%%\n",
                        busy ? "busy" : "idle", fps, (double)f.bytes * 60.0 / minutes, f.blockFrameMs.size(),
                        quantile(f.blockFrameMs, 0.5), quantile(f.blockFrameMs, 0.99), f.longestBlockFrameMs,
                        overOneMs(f.blockFrameMs), quantile(f.otherFrameMs, 0.5),
                        quantile(f.otherFrameMs, 0.99), f.longestOtherFrameMs, overOneMs(f.otherFrameMs));
            std::fflush(stdout);
        }
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
