// The order a recording's events keep as the plug-in writes them (docs/recordings.md):
// frames that end with a resume after a wait, repeats of the frame before within the
// 512 events the writer foresees, values of 32 bits that stay within 32 bits, one key
// test a frame, and the key test's entry recorded right after its tick reading, for
// the drink key only, and only when it is not the entry the recording holds.
//
// One event at a time or a run of foreseen events at once: a run of any length costs
// about as much as one event (its frames are alike but for values that step evenly,
// and every check of it has a closed form), so that a file is read through in time
// proportional to its bytes, however many events its runs stand for. The reader
// places events here in both its modes; the fuzz target holds the two to the same
// verdict.
#pragma once

#include "replay/recording_reader.h"

#include <cstdint>

namespace rec {

// A key table entry as the key test read it; all zeros is the empty entry.
struct KeyEntry {
    uint32_t tick = 0;
    int32_t fifth = 0, sixth = 0, seventh = 0;
    bool operator==(const KeyEntry&) const = default;
};

// What the order of events needs of one event, from its shape.
struct EventTraits {
    EventKind kind = EventKind::Native;
    bool valued = false;    // its value may change from frame to frame
    bool narrow = false;    // its value is 32 bits (a tick reading, a 4-byte result)
    bool gameTimer = false; // a reading of the game timer
    uint32_t key = 0;       // KeyRead: the key, and its entry as read
    KeyEntry entry;
};

// The writer foresees an event only at the first 512 positions of a frame; past them
// every event comes in full.
const int ForeseenEvents = 512;

struct EventOrder {
    EventOrder();

    // Set before the first event.
    uint32_t formatVersion = 2;
    uint32_t drinkKey = 79;

    // Counted as events are placed.
    uint64_t placed = 0;
    uint64_t resumes = 0;
    bool timerRead = false;
    uint32_t firstTimer = 0, lastTimer = 0;

    // An event in full (its shape already read and checked), with its value, while
    // fewer than `cap` events are placed.
    bool whole(const EventTraits& t, uint64_t value, uint64_t cap, const char** problem);
    // The event foreseen at the next position, its value off by `delta`; its traits
    // and value out.
    bool step(uint64_t delta, uint64_t cap, EventTraits* t, uint64_t* value, const char** problem);
    // `n` events foreseen in a row, while no more than `cap` events are placed in
    // all: how many were placed before a problem (n when none), the last one's value.
    uint64_t run(uint64_t n, uint64_t cap, uint64_t* lastValue, const char** problem);
    // The position the next event takes in its frame.
    uint64_t position() const { return pos; }
    // Frames holding events so far: each ended by its resume, and the one under way.
    uint64_t frames() const { return resumes + (pos > 0 ? 1 : 0); }

  private:
    struct Slot {
        EventTraits traits;
        bool valid = false;
        uint64_t value = 0, step = 0;
        uint64_t frame = 0;    // the frame in which `value` was the event's
        uint64_t deadline = 0; // the last frame whose repeat keeps a narrow value in 32 bits
    };
    // Slot p holds this frame's event at p when p < pos, else the frame before's: a
    // repeat leaves it as it is, its value reckoned from the frame.
    Slot slots[ForeseenEvents];
    // Each slot's deadline, the least of each pair above it (slots 512..1023 the
    // leaves): where a narrow value first runs past 32 bits in a run of frames.
    uint64_t deadlines[2 * ForeseenEvents] = {};
    uint64_t timers[ForeseenEvents / 64] = {}; // the slots that read the game timer
    int timersHeld = 0;                        // how many
    uint64_t frame = 0;                        // the frame under way
    uint64_t pos = 0;                          // its events so far
    uint64_t prevLen = 0;                      // the frame before's events
    int64_t prevTick = -1, curTick = -1;       // the key test's tick reading in the frame before, in this one
    int lastKind = -1;                         // the last event's kind; -1 before the first
    KeyEntry held;                             // the drink key's entry as the recording holds it
    bool pending = false;                      // a tick reading whose key test is not settled yet
    uint32_t pendingNow = 0;

    uint64_t valueAt(int p, uint64_t f) const {
        return slots[p].value + (f - slots[p].frame) * slots[p].step;
    }
    void setDeadline(int p, uint64_t d);
    int firstBefore(int from, int to, uint64_t bound) const;
    int lastTimerIn(int from, int to) const;
    const char* outOfOrder(EventKind kind) const;
    const char* settle(const EventTraits& next, uint32_t now, KeyEntry* held) const;
    bool place(const EventTraits& t, uint64_t value, uint64_t step, const char** problem);
    void endFrame();
    struct RunKeys;
    uint64_t runKeys(uint64_t A, uint64_t L, uint64_t K, RunKeys* out) const;
};

} // namespace rec
