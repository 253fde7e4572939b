// tolvenmire-soak: plays randomized sessions of the real plug-in in the stand-in
// host, for as many seeds as asked, and names every seed that breaks an invariant.
//
//   tolvenmire-soak --seeds 1..20000 --minutes 10     a long soak
//   tolvenmire-soak --seed 389 --actions              one seed again, its actions printed
//
// Exit status: 0 every session passed; 1 a session failed; 2 a bad option.
#include "random_session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* to) {
    std::fputs("usage: tolvenmire-soak (--seeds A..B | --seed N) [--minutes M] [--timer-wrap] [--actions]\n"
               "                       [--plugin PATH]\n"
               "  --seeds A..B   play the seeds A to B (inclusive)\n"
               "  --seed N       play seed N\n"
               "  --minutes M    game minutes per session (default 3)\n"
               "  --timer-wrap   let some sessions start with the game timer just below 2^31\n"
               "  --actions      print every action of the generator as it happens\n"
               "  --plugin PATH  the plug-in to load (default: this build's)\n",
               to);
}

bool parseNumber(const char* text, uint64_t* out) {
    if (!*text) return false;
    char* end = nullptr;
    *out = std::strtoull(text, &end, 10);
    return *end == '\0' && text[0] != '-';
}

int bad(const std::string& why) {
    std::fprintf(stderr, "tolvenmire-soak: %s\n", why.c_str());
    usage(stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    uint64_t first = 0, last = 0, minutes = 3;
    bool haveSeeds = false, actions = false;
    stress::SessionOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--seeds" && value) {
            const std::string v = value;
            const size_t dots = v.find("..");
            if (dots == std::string::npos || !parseNumber(v.substr(0, dots).c_str(), &first) ||
                !parseNumber(v.substr(dots + 2).c_str(), &last) || last < first)
                return bad("bad seed range \"" + v + "\" (as in 1..500)");
            haveSeeds = true;
            ++i;
        } else if (a == "--seed" && value) {
            if (!parseNumber(value, &first)) return bad(std::string("bad seed \"") + value + "\"");
            last = first;
            haveSeeds = true;
            ++i;
        } else if (a == "--minutes" && value) {
            if (!parseNumber(value, &minutes) || minutes == 0 || minutes > 600)
                return bad(std::string("bad number of minutes \"") + value + "\" (1 to 600)");
            ++i;
        } else if (a == "--plugin" && value) {
            options.pluginPath = value;
            ++i;
        } else if (a == "--timer-wrap") {
            options.timerAcrossSignedWrap = true;
        } else if (a == "--actions") {
            actions = true;
        } else {
            return bad("unknown or incomplete option \"" + a + "\"");
        }
    }
    if (!haveSeeds) return bad("no seeds given");
    options.gameMs = (uint32_t)(minutes * 60000);
    if (actions) options.onAction = [](const std::string& line) { std::printf("  %s\n", line.c_str()); };

    const auto started = std::chrono::steady_clock::now();
    uint64_t passed = 0, failed = 0, frames = 0;
    for (uint64_t seed = first;; ++seed) {
        const stress::SessionResult r = stress::playRandomSession(seed, options);
        if (r.passed) {
            ++passed;
            frames += (uint64_t)r.frame;
        } else {
            ++failed;
            std::printf("FAILED %s\n", r.describe().c_str());
        }
        if ((seed - first + 1) % 100 == 0 || seed == last) {
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("seeds %llu..%llu: %llu passed, %llu failed (%llu frames, %.0f s)\n",
                        (unsigned long long)first, (unsigned long long)seed, (unsigned long long)passed,
                        (unsigned long long)failed, (unsigned long long)frames, s);
            std::fflush(stdout);
        }
        if (seed == last) break;
    }
    std::printf("%llu passed, %llu failed\n", (unsigned long long)passed, (unsigned long long)failed);
    return failed == 0 ? 0 : 1;
}
