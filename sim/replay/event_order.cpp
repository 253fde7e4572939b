// The order of a recording's events (event_order.h): each event placed at its
// position in its frame and held to what the plug-in's recorder writes; a run of
// foreseen events placed at once, each check of it in a closed form.
#include "replay/event_order.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace rec {

namespace {

const uint64_t NoDeadline = UINT64_MAX;

const char* const RepeatMissing = "a repeat of an event the frame before does not have";
const char* const RepeatUnforeseen = "a repeat past the first 512 events of a frame, which come in full";
const char* const TooManyEvents =
    "more events than a recording of its size holds (runs that repeat without end)";
const char* const NoValue = "a new value for an event without one";
const char* const TooWide = "a 32-bit value past 32 bits";
const char* const ResumeUnwaited = "a resume without the wait before it";
const char* const WaitUnresumed = "a wait that another event follows before its resume";
const char* const KeyReadAstray = "a key read that is not right after the key test's tick reading";
const char* const KeyMidFrame = "a key event in the middle of a frame (they begin a frame)";
const char* const TwoKeyTests = "a second key test in one frame (a second tick reading)";
const char* const SameEntry = "a key read of the entry the recording already holds for the key";

// The key test's trigger: a non-zero seventh value less than 100 ms old at `now`,
// in 32-bit arithmetic, as consumeKeyTrigger decides it.
bool fires(uint32_t now, const KeyEntry& e) { return e.seventh != 0 && now - e.tick < 100; }

// --- The key test over a run of frames, in closed form. The tick reading steps
// evenly from frame to frame (within 32 bits, which the run's other checks hold it
// to), so the entry's age at the test is d(j) = d0 + j * s in frame j; the test
// fires while it is in [0, 100) or in [-2^32, -2^32 + 100) (the age taken modulo
// 2^32), which is a range of frames for each.
using Wide = __int128;

Wide floorDiv(Wide x, Wide m) { return x >= 0 ? x / m : -((-x + m - 1) / m); }
Wide ceilDiv(Wide x, Wide m) { return -floorDiv(-x, m); }

struct Frames {
    Wide from, to; // [from, to)
};

// The frames j in [0, count) in which lo <= d0 + j * s < hi.
Frames framesWithin(Wide d0, Wide s, Wide lo, Wide hi, Wide count) {
    Frames f;
    if (s == 0) {
        f = d0 >= lo && d0 < hi ? Frames{0, count} : Frames{0, 0};
    } else if (s > 0) {
        f = {ceilDiv(lo - d0, s), ceilDiv(hi - d0, s)};
    } else {
        f = {floorDiv(d0 - hi, -s) + 1, floorDiv(d0 - lo, -s) + 1};
    }
    f.from = std::max<Wide>(f.from, 0);
    f.to = std::min<Wide>(f.to, count);
    if (f.from > f.to) f.from = f.to;
    return f;
}

const Wide TickWrap = (Wide)1 << 32;

// The first frame in [0, count) whose test fires (`fire`), or does not; count if none.
uint64_t firstFrame(Wide d0, Wide s, uint64_t count, bool fire) {
    const Frames young = framesWithin(d0, s, 0, 100, count);
    const Frames wrapped = framesWithin(d0, s, -TickWrap, -TickWrap + 100, count);
    if (fire) {
        Wide first = count;
        for (const Frames& f : {young, wrapped})
            if (f.from < f.to) first = std::min(first, f.from);
        return (uint64_t)first;
    }
    Wide x = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (const Frames& f : {young, wrapped})
            if (f.from <= x && x < f.to) x = f.to;
    return (uint64_t)std::min<Wide>(x, count);
}

} // namespace

struct EventOrder::RunKeys {
    KeyEntry held;
    bool pending = false;
    uint32_t now = 0;
};

EventOrder::EventOrder() { std::fill(std::begin(deadlines), std::end(deadlines), NoDeadline); }

void EventOrder::setDeadline(int p, uint64_t d) {
    int i = ForeseenEvents + p;
    if (deadlines[i] == d) return;
    deadlines[i] = d;
    // Up the tree while the least of a pair changes.
    for (i /= 2; i >= 1; i /= 2) {
        const uint64_t least =
            deadlines[2 * i] < deadlines[2 * i + 1] ? deadlines[2 * i] : deadlines[2 * i + 1];
        if (deadlines[i] == least) break;
        deadlines[i] = least;
    }
}

// The first slot in [from, to) whose deadline is before `bound`, or -1.
int EventOrder::firstBefore(int from, int to, uint64_t bound) const {
    // Down the tree from the root, the left half first.
    struct Span {
        int node, lo, hi;
    };
    Span stack[32];
    int n = 0;
    stack[n++] = {1, 0, ForeseenEvents};
    while (n > 0) {
        const Span s = stack[--n];
        if (s.hi <= from || s.lo >= to || deadlines[s.node] >= bound) continue;
        if (s.node >= ForeseenEvents) return s.node - ForeseenEvents;
        const int mid = (s.lo + s.hi) / 2;
        stack[n++] = {2 * s.node + 1, mid, s.hi};
        stack[n++] = {2 * s.node, s.lo, mid};
    }
    return -1;
}

// The last slot in [from, to) that reads the game timer, or -1.
int EventOrder::lastTimerIn(int from, int to) const {
    for (int p = to - 1; p >= from;) {
        const uint64_t word = timers[p / 64] & (~0ull >> (63 - p % 64));
        if (word) {
            const int found = p / 64 * 64 + 63 - __builtin_clzll(word);
            return found >= from ? found : -1;
        }
        p = p / 64 * 64 - 1;
    }
    return -1;
}

// Whether an event of this kind may follow the last one.
const char* EventOrder::outOfOrder(EventKind kind) const {
    if (lastKind == (int)EventKind::Wait && kind != EventKind::Resume) return WaitUnresumed;
    switch (kind) {
    case EventKind::Resume:
        return lastKind == (int)EventKind::Wait ? nullptr : ResumeUnwaited;
    case EventKind::KeyRead:
        return lastKind == (int)EventKind::Tick ? nullptr : KeyReadAstray;
    case EventKind::Key:
        return lastKind < 0 || lastKind == (int)EventKind::Resume || lastKind == (int)EventKind::Key
                   ? nullptr
                   : KeyMidFrame;
    default:
        return nullptr;
    }
}

// The key test of a tick reading at `now`, settled by the event after it: a key
// read when the entry differs from the one held (the entry read), else the entry
// held; a trigger empties it.
const char* EventOrder::settle(const EventTraits& next, uint32_t now, KeyEntry* entry) const {
    if (next.kind == EventKind::KeyRead) {
        if (next.entry == *entry) return SameEntry;
        *entry = next.entry;
    }
    if (fires(now, *entry)) *entry = KeyEntry{};
    return nullptr;
}

bool EventOrder::place(const EventTraits& t, uint64_t value, uint64_t step, const char** problem) {
    if (t.narrow && value > UINT32_MAX) return *problem = TooWide, false;
    if (const char* p = outOfOrder(t.kind)) return *problem = p, false;
    if (t.kind == EventKind::Tick && curTick >= 0) return *problem = TwoKeyTests, false;
    KeyEntry entry = held;
    if (formatVersion >= 2) {
        if (t.kind == EventKind::KeyRead && (t.key != drinkKey || drinkKey >= 255)) {
            thread_local char told[160];
            snprintf(told, sizeof told,
                     "a key read of key %" PRIu32 ", where the key test reads the drink key (%" PRIu32
                     ") only",
                     t.key, drinkKey);
            return *problem = told, false;
        }
        if (pending)
            if (const char* p = settle(t, pendingNow, &entry)) return *problem = p, false;
    }
    held = entry;
    pending = false;
    if (t.kind == EventKind::Tick) {
        curTick = (int64_t)pos;
        pending = formatVersion >= 2;
        pendingNow = (uint32_t)value;
    }
    if (pos < (uint64_t)ForeseenEvents) {
        const int p = (int)pos;
        Slot& s = slots[p];
        s.traits = t;
        s.valid = true;
        s.value = value;
        s.step = step;
        s.frame = frame;
        uint64_t deadline = NoDeadline;
        const int64_t signedStep = (int64_t)step;
        if (t.narrow && signedStep != 0) {
            const uint64_t frames = signedStep > 0 ? (UINT32_MAX - value) / step : value / (0 - step);
            deadline = frames > NoDeadline - frame ? NoDeadline : frame + frames;
        }
        setDeadline(p, deadline);
        const uint64_t bit = 1ull << (p % 64);
        if (t.gameTimer != ((timers[p / 64] & bit) != 0)) {
            timers[p / 64] ^= bit;
            timersHeld += t.gameTimer ? 1 : -1;
        }
    }
    if ((int64_t)pos == prevTick) prevTick = -1;
    if (t.gameTimer) {
        if (!timerRead) firstTimer = (uint32_t)value;
        timerRead = true;
        lastTimer = (uint32_t)value;
    }
    lastKind = (int)t.kind;
    ++placed;
    ++pos;
    if (t.kind == EventKind::Resume) endFrame();
    return true;
}

// The frame ended with its resume: it is the frame before now, and what the frame
// before had past its end is gone.
void EventOrder::endFrame() {
    const uint64_t kept = std::min<uint64_t>(prevLen, ForeseenEvents);
    for (uint64_t p = pos; p < kept; ++p) {
        if (!slots[p].valid) continue;
        slots[p].valid = false;
        setDeadline((int)p, NoDeadline);
        if (timers[p / 64] & 1ull << (p % 64)) {
            timers[p / 64] &= ~(1ull << (p % 64));
            --timersHeld;
        }
    }
    prevLen = pos;
    prevTick = curTick;
    curTick = -1;
    ++frame;
    ++resumes;
    pos = 0;
}

bool EventOrder::whole(const EventTraits& t, uint64_t value, uint64_t cap, const char** problem) {
    if (placed >= cap) return *problem = TooManyEvents, false;
    return place(t, value, 0, problem);
}

bool EventOrder::step(uint64_t delta, uint64_t cap, EventTraits* t, uint64_t* value, const char** problem) {
    if (pos >= prevLen) return *problem = RepeatMissing, false;
    if (pos >= (uint64_t)ForeseenEvents) return *problem = RepeatUnforeseen, false;
    const int p = (int)pos;
    if (!slots[p].traits.valued) return *problem = NoValue, false;
    if (placed >= cap) return *problem = TooManyEvents, false;
    const uint64_t before = valueAt(p, frame - 1);
    *value = before + slots[p].step + delta;
    *t = slots[p].traits;
    return place(*t, *value, *value - before, problem);
}

// The key test through the run's first `K` events: where a key read first breaks
// the recorder's rule (K when none), and the test's state after them. This frame's
// test (the frame before's, repeated) and the pending one are settled one by one;
// the frames after repeat this frame's test with a tick reading that steps evenly.
uint64_t EventOrder::runKeys(uint64_t A, uint64_t L, uint64_t K, RunKeys* out) const {
    out->held = held;
    out->pending = pending;
    out->now = pendingNow;
    // No test in reach: none pending, none of the frame before's left in this frame,
    // and none of this frame's to repeat.
    const bool copiedTick = prevTick >= (int64_t)pos;
    if (K == 0 || (!pending && !copiedTick && (K <= A || curTick < 0))) return K;
    KeyEntry& h = out->held;
    if (out->pending) {
        if (settle(slots[pos].traits, out->now, &h)) return 0;
        out->pending = false;
    }
    const uint64_t endA = pos + std::min(A, K);
    int64_t copied = -1;
    if (prevTick >= (int64_t)pos && prevTick < (int64_t)endA) {
        copied = prevTick;
        const uint32_t now = (uint32_t)valueAt((int)copied, frame);
        if ((uint64_t)copied + 1 < endA) {
            if (settle(slots[copied + 1].traits, now, &h)) return (uint64_t)copied + 1 - pos;
        } else {
            out->pending = true;
            out->now = now;
        }
    }
    if (K <= A) return K;
    const int64_t t = curTick >= 0 ? curTick : copied;
    if (t < 0) return K;
    // Frames after this one: j = 0, 1, ... Their test's tick reading is the event
    // A + j * L + t of the run, and the event after it settles it.
    const uint64_t left = K - A;
    const uint64_t settled = left > (uint64_t)t + 1 ? (left - (uint64_t)t - 1 + L - 1) / L : 0;
    if (settled > 0) {
        const Slot& tick = slots[t];
        const Wide s = (Wide)(int64_t)tick.step;
        const uint32_t first = (uint32_t)valueAt((int)t, frame + 1);
        const EventTraits& next = slots[t + 1].traits;
        if (next.kind == EventKind::KeyRead) {
            const KeyEntry& e = next.entry;
            if (e == h) return A + (uint64_t)t + 1;
            // Read again in frame j + 1 only if it fired (and emptied the entry) in j.
            if (settled >= 2) {
                const uint64_t quiet =
                    e.seventh == 0 ? 0 : firstFrame((Wide)first - e.tick, s, settled - 1, false);
                if (quiet < settled - 1) return A + (quiet + 1) * L + (uint64_t)t + 1;
            }
            h = e;
            if (fires((uint32_t)valueAt((int)t, frame + settled), e)) h = KeyEntry{};
        } else if (h.seventh != 0 && firstFrame((Wide)first - h.tick, s, settled, true) < settled) {
            h = KeyEntry{};
        }
    }
    if (settled * L + (uint64_t)t < left) {
        out->pending = true;
        out->now = (uint32_t)valueAt((int)t, frame + settled + 1);
    }
    return K;
}

uint64_t EventOrder::run(uint64_t n, uint64_t cap, uint64_t* lastValue, const char** problem) {
    const uint64_t L = prevLen;
    if (pos >= L) return *problem = RepeatMissing, 0;
    if (pos >= (uint64_t)ForeseenEvents) return *problem = RepeatUnforeseen, 0;
    // Where each check first fails, as the index of an event of the run: the
    // earliest wins, and at one index the checks go in the order place() makes them.
    uint64_t stop = n;
    const char* why = nullptr;
    auto fail = [&](uint64_t k, const char* what) {
        if (k < stop) stop = k, why = what;
    };
    if (L > (uint64_t)ForeseenEvents) fail(ForeseenEvents - pos, RepeatUnforeseen);
    fail(placed >= cap ? 0 : cap - placed, TooManyEvents);
    const uint64_t A = L - pos; // the events that end this frame
    // Narrow values: this frame repeats the frame before's events from pos on, and
    // each frame after repeats all of them.
    // (No frame of the run lies past frame + stop: a quick test before the exact one.)
    if (deadlines[1] < frame + stop && deadlines[1] < (stop <= A ? frame : frame + 1 + (stop - A - 1) / L)) {
        const int p = firstBefore((int)pos, (int)L, frame);
        if (p >= 0) {
            fail((uint64_t)p - pos, TooWide);
        } else {
            const uint64_t least = deadlines[1]; // >= frame: in range here
            const int q = firstBefore(0, (int)L, least + 1);
            fail(A + (least - frame) * L + (uint64_t)q, TooWide);
        }
    }
    // The order: the run's first event after the last one placed. Every later pair
    // repeats a pair of the frame before, already held to it.
    if (const char* p = outOfOrder(slots[pos].traits.kind)) fail(0, p);
    if (curTick >= 0 && prevTick >= (int64_t)pos && prevTick < (int64_t)L)
        fail((uint64_t)prevTick - pos, TwoKeyTests);
    RunKeys keys;
    if (formatVersion >= 2) {
        const uint64_t k = runKeys(A, L, stop, &keys);
        if (k < stop) fail(k, SameEntry);
    } else {
        keys.held = held;
        keys.pending = pending;
        keys.now = pendingNow;
    }
    const uint64_t done = stop;
    if (done < n) *problem = why;
    if (done == 0) return 0;

    // The run placed: its frames, the key test's state, the game timer's last reading.
    const uint64_t startFrame = frame, startPos = pos;
    uint64_t lastPos, endFrame;
    if (done < A) {
        if (prevTick >= (int64_t)pos && prevTick < (int64_t)(pos + done)) curTick = prevTick;
        lastPos = pos + done - 1;
        endFrame = frame;
        pos += done;
    } else {
        const int64_t t = curTick >= 0 ? curTick : prevTick >= (int64_t)pos ? prevTick : -1;
        const uint64_t completed = 1 + (done - A) / L, r = (done - A) % L;
        endFrame = r > 0 ? frame + completed : frame + completed - 1;
        lastPos = r > 0 ? r - 1 : L - 1;
        frame += completed;
        resumes += completed;
        pos = r;
        prevTick = t;
        curTick = t >= 0 && (uint64_t)t < r ? t : -1;
    }
    placed += done;
    lastKind = (int)slots[lastPos].traits.kind;
    *lastValue = valueAt((int)lastPos, endFrame);
    held = keys.held;
    pending = keys.pending;
    pendingNow = keys.now;
    if (!timersHeld) return done;
    int timer = lastTimerIn(endFrame == startFrame ? (int)startPos : 0, (int)lastPos + 1);
    uint64_t timerFrame = endFrame;
    if (timer < 0 && endFrame > startFrame) {
        timerFrame = endFrame - 1;
        timer = lastTimerIn(timerFrame == startFrame ? (int)startPos : 0, (int)L);
    }
    if (timer >= 0) lastTimer = (uint32_t)valueAt(timer, timerFrame);
    return done;
}

} // namespace rec
