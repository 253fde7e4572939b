// A measured run of the hostile files' loads (hostile_files.h), for
// docs/performance.md: for each case, the wall time of the plug-in's load (its
// static initialisation reads the settings) and of the script's first frame (it
// reads the save file), the median of several sessions, beside the normal files'.
//
//   file_load_times [REPETITIONS]     (default 7)
#include "hostile_files.h"

#include "sim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;
    if (repetitions < 1) {
        std::fprintf(stderr, "usage: %s [REPETITIONS]\n", argv[0]);
        return 2;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("tolvenmire-load-times-" + std::to_string(hostile::processId()));
    std::printf("%-40s %12s %14s\n", "case", "load (ms)", "1st frame (ms)");
    for (const hostile::Case& c : hostile::Cases) {
        std::vector<double> load, frame;
        for (int r = 0; r < repetitions; ++r) {
            std::error_code ec;
            fs::remove_all(folder, ec);
            fs::create_directories(folder);
            std::optional<hostile::Blocker> blocker(std::in_place);
            if (!hostile::lay(c, folder, &*blocker)) {
                std::fprintf(stderr, "error: %s: cannot lay the file in %s\n", c.name,
                             folder.string().c_str());
                return 1;
            }
            sim::StartOptions o;
            o.workDir = folder.string();
            o.record = false;
            std::string error;
            const Clock::time_point t0 = Clock::now();
            if (!sim::start(o, &error)) {
                std::fprintf(stderr, "error: %s: %s\n", c.name, error.c_str());
                return 1;
            }
            const Clock::time_point t1 = Clock::now();
            sim::playFrames(1);
            const Clock::time_point t2 = Clock::now();
            sim::stop();
            load.push_back(ms(t1 - t0));
            frame.push_back(ms(t2 - t1));
        }
        std::printf("%-40s %12.2f %14.2f\n", c.name, median(load), median(frame));
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
