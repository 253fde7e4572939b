// Progress on standard error (progress.h): one line, rewritten in place with a
// carriage return, cleared at the end.
#include "standin/progress.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define TOLVENMIRE_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define TOLVENMIRE_ISATTY(fd) isatty(fd)
#endif

namespace sim {

namespace {

// Work shorter than this prints nothing.
constexpr double QuietSeconds = 2.0;
// The line is rewritten no more often than this.
constexpr double RedrawSeconds = 0.2;
// progressAt reads the clock once in this many calls: a frame costs a counter.
constexpr uint64_t CallsPerClockReading = 256;

double secondsNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string thousands(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string duration(double seconds) {
    const long s = seconds < 0 ? 0 : (long)(seconds + 0.5);
    char b[32];
    if (s >= 3600)
        snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

void show(Progress* p, uint64_t done, double now) {
    const std::string line = progressLine(p->what, done, p->total, now - p->started);
    // \r back to the start, the line, then clear what a longer earlier line left.
    fprintf(stderr, "\r%s\x1b[K", line.c_str());
    fflush(stderr);
    p->shown = true;
    p->lastShown = now;
}

} // namespace

std::string progressLine(const std::string& what, uint64_t done, uint64_t total, double seconds) {
    std::string line = what + ": frame " + thousands(done);
    if (total > 0) {
        line += " of " + thousands(total);
        const uint64_t percent = done >= total ? 100 : done * 100 / total;
        line += " (" + std::to_string(percent) + " %)";
        if (done > 0 && done < total)
            line += ", " + duration(seconds * (double)(total - done) / (double)done) + " left";
    } else {
        line += ", " + duration(seconds) + " so far";
    }
    return line;
}

void progressBegin(Progress* p, const std::string& what, uint64_t total) {
    *p = Progress{};
    p->what = what;
    p->total = total;
    const char* forced = getenv("TOLVENMIRE_PROGRESS");
    p->forced = forced && strcmp(forced, "1") == 0;
    p->terminal = p->forced || TOLVENMIRE_ISATTY(2);
    p->started = secondsNow();
}

void progressAt(Progress* p, uint64_t done) {
    if (!p->terminal || ++p->calls < CallsPerClockReading) return;
    p->calls = 0;
    const double now = secondsNow();
    if (!p->forced && now - p->started < QuietSeconds) return;
    if (now - p->lastShown < RedrawSeconds) return;
    show(p, done, now);
}

void progressClear(Progress* p) {
    if (!p->shown) return;
    fputs("\r\x1b[K", stderr);
    fflush(stderr);
    p->shown = false;
}

void progressEnd(Progress* p) {
    progressClear(p);
    p->terminal = false;
}

} // namespace sim
