// Randomized sessions (random_session.h) seed after seed, and the words of the
// command line that choose them: the seeds, the way keys are delivered. One seed's
// session is played by seeded_session.cpp.
#include "stress/random_session.h"

#include "standin/progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace stress {

std::string SessionResult::describe() const {
    std::string s = "seed " + std::to_string(seed) + ", frame " + std::to_string(frame) + ": " + failure;
    if (!recent.empty()) s += "\n  last actions:\n" + recent;
    if (hostileRate > 0.0 && !passed) {
        char command[96];
        std::snprintf(command, sizeof command, "tolvenmire-soak --hostile %g --seed %llu --actions",
                      hostileRate, (unsigned long long)seed);
        s += (recent.empty() ? "\n" : "") + std::string("  replay: ") + command;
    }
    return s;
}

bool parseKeyDelivery(const std::string& text, KeyDelivery* out) {
    const std::pair<const char*, KeyDelivery> names[] = {{"between", KeyDelivery::BetweenFrames},
                                                         {"inside", KeyDelivery::InsideFrames},
                                                         {"bursts", KeyDelivery::Bursts},
                                                         {"before-start", KeyDelivery::BeforeStart}};
    for (const auto& [name, keys] : names)
        if (text == name) return *out = keys, true;
    return false;
}

uint64_t playSeeds(uint64_t first, uint64_t last, const SessionOptions& options, FILE* out) {
    const auto started = std::chrono::steady_clock::now();
    uint64_t passed = 0, failed = 0, frames = 0;
    uint64_t answers = 0, checks = 0, spells = 0;
    int maxCalls = 0;
    // The frames played, of about how many: the sessions' frames foreseen from the
    // game time played so far (their frames last 1 ms to 4 s). A line printed meanwhile
    // clears the progress first; it shows again at its next turn.
    sim::Progress progress;
    sim::progressBegin(
        &progress, "seeds " + std::to_string(first) + (first == last ? "" : ".." + std::to_string(last)), 0);
    const double allMs = (double)(last - first + 1) * (double)options.gameMs;
    uint64_t framesPlayed = 0, msBefore = 0;
    auto clearProgress = [&] {
        if (!progress.shown) return;
        sim::progressEnd(&progress);
        progress.terminal = true;
    };
    for (uint64_t seed = first;; ++seed) {
        SessionOptions o = options;
        if (!o.recordTo.empty() && first != last) o.recordTo += "." + std::to_string(seed);
        if (options.onAction)
            o.onAction = [&](const std::string& line) {
                clearProgress();
                options.onAction(line);
            };
        o.onFrame = [&](uint64_t played) {
            if (options.onFrame) options.onFrame(played);
            ++framesPlayed;
            const double done = (double)(msBefore + played);
            if (done > 0)
                progress.total = std::max<uint64_t>(framesPlayed, (uint64_t)(framesPlayed * allMs / done));
            sim::progressAt(&progress, framesPlayed);
        };
        const SessionResult r = playRandomSession(seed, o);
        msBefore += options.gameMs;
        answers += r.hostileAnswers;
        checks += r.hostileChecks;
        spells += r.hostileSpells;
        maxCalls = std::max(maxCalls, r.maxCallsBetweenWaits);
        if (r.passed) {
            ++passed;
            frames += (uint64_t)r.frame;
        } else {
            ++failed;
            clearProgress();
            std::fprintf(out, "FAILED %s\n", r.describe().c_str());
        }
        if ((seed - first + 1) % 100 == 0 || seed == last) {
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            clearProgress();
            std::fprintf(out, "seeds %llu..%llu: %llu passed, %llu failed (%llu frames, %.0f s)\n",
                         (unsigned long long)first, (unsigned long long)seed, (unsigned long long)passed,
                         (unsigned long long)failed, (unsigned long long)frames, s);
            std::fflush(out);
        }
        if (seed == last) break;
    }
    sim::progressEnd(&progress);
    if (options.hostileRate > 0.0) {
        const uint64_t sessions = passed + failed;
        std::fprintf(out,
                     "hostile game at %g: %llu frames passed, %llu answers replaced (%.0f a session), %llu "
                     "whole-session faults, %llu invariants checked, at most %d calls between two waits\n",
                     options.hostileRate, (unsigned long long)frames, (unsigned long long)answers,
                     (double)answers / (double)sessions, (unsigned long long)spells,
                     (unsigned long long)checks, maxCalls);
    }
    std::fprintf(out, "%llu passed, %llu failed\n", (unsigned long long)passed, (unsigned long long)failed);
    return failed;
}

static bool parseSeed(const std::string& text, uint64_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        return false;
    *out = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

bool parseSeeds(const std::string& text, uint64_t* first, uint64_t* last) {
    const size_t dots = text.find("..");
    if (dots == std::string::npos) {
        if (!parseSeed(text, first)) return false;
        *last = *first;
        return true;
    }
    return parseSeed(text.substr(0, dots), first) && parseSeed(text.substr(dots + 2), last) &&
           *first <= *last;
}

} // namespace stress
