// Progress of long work on standard error: a scenario, a replay, a run of random
// sessions or a session page. Shown only when standard error is a terminal, and
// only once the work has taken about two seconds, so that logs, pipes and CI
// output stay exactly as they were and short work prints nothing.
//
//   sim::Progress p;
//   sim::progressBegin(&p, "replaying refill.rec", frames);   // frames: 0 when unknown
//   for (...) sim::progressAt(&p, framesDone);                 // cheap: a counter most calls
//   sim::progressEnd(&p);                                      // the line cleared
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct Progress {
    std::string what;      // what is being done, as the line starts
    uint64_t total = 0;    // frames in all; 0 when not known beforehand
    uint64_t calls = 0;    // progressAt calls since the clock was last read
    double started = 0;    // seconds, monotonic
    double lastShown = 0;  // when the line was last written
    bool terminal = false; // standard error is a terminal: the line may be shown
    bool forced = false;   // TOLVENMIRE_PROGRESS=1: shown from the start
    bool shown = false;    // the line is on the terminal now
};

// Starts counting. The line shows after about two seconds, when standard error is a
// terminal; TOLVENMIRE_PROGRESS=1 (for tests) shows it anyway, and from the start, so
// that a test sees it however fast the machine plays.
void progressBegin(Progress* p, const std::string& what, uint64_t total);
// The frames done so far: the line is rewritten at most about five times a second,
// with the frames done, of how many, and the time left at the pace so far.
void progressAt(Progress* p, uint64_t done);
// Other output is about to go to the terminal: a line that is shown is cleared, and
// the next progressAt shows it again.
void progressClear(Progress* p);
// The work is over: a line that was shown is cleared, so that what follows starts
// on a clean line.
void progressEnd(Progress* p);

// The line as it shows after `seconds` with `done` frames of `total` (0: unknown).
std::string progressLine(const std::string& what, uint64_t done, uint64_t total, double seconds);

} // namespace sim
