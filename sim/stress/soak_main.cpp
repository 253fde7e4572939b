// tolvenmire-soak: plays randomized sessions of the real plug-in in the stand-in
// host, for as many seeds as asked, and names every seed that breaks an invariant.
//
//   tolvenmire-soak --seeds 1..20000 --minutes 10     a long soak
//   tolvenmire-soak --seed 389 --actions              one seed again, its actions printed
//   tolvenmire-soak --hostile 0.05 --seeds 1..5000    a game that answers anything
//
// Exit status: 0 every session passed; 1 a session failed; 2 a bad option.
#include "stress/random_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* to) {
    std::fputs("usage: tolvenmire-soak (--seeds A..B | --seed N) [--minutes M] [--hostile RATE] [--actions]\n"
               "                       [--plugin PATH]\n"
               "  --seeds A..B   play the seeds A to B (inclusive)\n"
               "  --seed N       play seed N\n"
               "  --minutes M    game minutes per session (default 3)\n"
               "  --hostile RATE a hostile game: that share of the game's answers (0 < RATE <= 1)\n"
               "                 replaced by hostile ones, and whole-session faults played\n"
               "  --actions      print every action of the generator as it happens\n"
               "  --plugin PATH  the plug-in to load (default: this build's)\n",
               to);
}

bool parseNumber(const char* text, uint64_t* out) {
    uint64_t last = 0;
    return std::strstr(text, "..") == nullptr && stress::parseSeeds(text, out, &last);
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
            if (!stress::parseSeeds(value, &first, &last))
                return bad(std::string("bad seed range \"") + value + "\" (as in 1..500)");
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
        } else if (a == "--hostile" && value) {
            char* end = nullptr;
            options.hostileRate = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(options.hostileRate > 0.0 && options.hostileRate <= 1.0))
                return bad(std::string("bad hostile rate \"") + value + "\" (a share above 0, at most 1)");
            ++i;
        } else if (a == "--plugin" && value) {
            options.pluginPath = value;
            ++i;
        } else if (a == "--actions") {
            actions = true;
        } else {
            return bad("unknown or incomplete option \"" + a + "\"");
        }
    }
    if (!haveSeeds) return bad("no seeds given");
    options.gameMs = (uint32_t)(minutes * 60000);
    if (actions) options.onAction = [](const std::string& line) { std::printf("  %s\n", line.c_str()); };

    return stress::playSeeds(first, last, options, stdout) == 0 ? 0 : 1;
}
