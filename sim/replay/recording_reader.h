// A recording of the plug-in's conversation with the game, as the plug-in writes it
// to "Tolvenmire.rec" when RECORD_SESSION=1 (docs/recordings.md gives the bytes),
// decoded into the events the script thread took in, in the order it took them.
//
// The reader is shared by the replay host, `tolvenmire-sim --dump` and the fuzz
// target. It reads a file block by block (a block is at most 1 MiB), and holds a
// recording to what the plug-in's recorder writes: a file that breaks a rule is a
// bad recording, whichever way it is read.
#pragma once

#include "standin/native_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rec {

enum class EventKind : uint8_t {
    Native,  // one native: nativeInit, the pushes, nativeCall, and what the plug-in read back
    Wait,    // scriptWait(ms) called
    Resume,  // scriptWait returned: a new frame (key events delivered meanwhile follow it)
    Global,  // getGlobalPtr(index): null or not, and the value the plug-in wrote into the cell
    Tick,    // GetTickCount read by the script
    Key,     // format 1: a keyboard event as the plug-in's handler received it
    Save,    // the save file written: the text written
    KeyRead, // format 2: the key table's entry as the key test read it, right after its
             // tick reading (only when it is not the entry the recording last gave)
};

// How the plug-in passed one argument slot.
enum class ArgKind : uint8_t {
    Value,  // a 32-bit value, a float's bits, a sign-extended or a whole 64-bit value
    Text,   // the address of a NUL-terminated string: `text` holds the string
    Record, // the address of an out-variable or a record: `before`/`after` hold its bytes
};

// The strings of an event's twelve argument slots, made only once a slot is written:
// most events have none, and every event read is made, moved and dropped. Writing
// a slot (the non-const []) makes them; reading one of an event that has none
// gives an empty string.
class SlotStrings {
  public:
    SlotStrings() = default;
    SlotStrings(const SlotStrings& o) { *this = o; }
    SlotStrings(SlotStrings&&) noexcept = default;
    SlotStrings& operator=(const SlotStrings& o) {
        if (this == &o) return *this;
        if (!o.slots_) {
            slots_.reset();
            return *this;
        }
        if (!slots_) slots_ = std::make_unique<std::string[]>(Slots);
        for (int k = 0; k < Slots; ++k) slots_[k] = o.slots_[k];
        return *this;
    }
    SlotStrings& operator=(SlotStrings&&) noexcept = default;

    std::string& operator[](int k) {
        if (!slots_) slots_ = std::make_unique<std::string[]>(Slots);
        return slots_[k];
    }
    const std::string& operator[](int k) const { return slots_ ? slots_[k] : none(); }
    // The strings' lengths together.
    size_t length() const {
        size_t n = 0;
        for (int k = 0; slots_ && k < Slots; ++k) n += slots_[k].size();
        return n;
    }
    // The memory they hold: the slots, once made, and their bytes.
    size_t bytes() const { return slots_ ? Slots * sizeof(std::string) + length() : 0; }

  private:
    static const int Slots = 12;
    static const std::string& none() {
        static const std::string empty;
        return empty;
    }
    std::unique_ptr<std::string[]> slots_;
};

struct Event {
    EventKind kind = EventKind::Native;
    int block = 0; // the block of the file it was read from (0 is the first block)

    // Native.
    uint64_t hash = 0;
    int argc = 0;
    uint64_t args[12] = {}; // the slots as pushed (for Text and Record: the address, meaningless here)
    ArgKind argKind[12] = {};
    SlotStrings text;                // Text: the string
    SlotStrings before;              // Record: its bytes as passed, with any string slot of the record
                                     // given by its text (see docs/recordings.md)
    SlotStrings after;               // Record: its bytes once the native returned (what the game wrote)
    uint32_t recordSize[12] = {};    // Record: its size in bytes
    uint32_t recordStrings[12] = {}; // Record: bit k set when its 8-byte slot k holds a string's address
    bool nullResult = false;         // nativeCall returned a null pointer
    int resultBytes = 0;             // how many bytes of the result the plug-in read: 0, 4, 8 or 24
    uint64_t result[3] = {};         // those bytes, slot by slot

    // Wait.
    uint32_t waitMs = 0;

    // Global.
    int32_t globalIndex = 0;
    bool globalNull = false;    // getGlobalPtr answered null
    bool globalWritten = false; // the plug-in wrote into the cell
    uint64_t globalValue = 0;   // what it wrote

    // Tick (the reading), Key (the tick count the handler stored) and KeyRead (the
    // entry's tick count).
    uint32_t tick = 0;

    // Key: the handler's seven arguments. KeyRead: the key and its entry's three
    // flags (fifth, sixth, seventh).
    uint32_t key = 0;
    uint16_t second = 0;
    uint8_t third = 0;
    int32_t fourth = 0, fifth = 0, sixth = 0, seventh = 0;

    // Save.
    std::string save;
};

struct Recording {
    uint32_t formatVersion = 0;
    std::string pluginVersion; // "1.0.0"
    // The six settings as the plug-in settled on them (a number as GetPrivateProfileIntA
    // answers it, a key's name as its code, a switch's word as 1 or 0), in the order they
    // are read: TOLVENMIRE_KEY, DEADEYE_LOCK_THRESHOLD, HEAL_WHEN_DRUNK, REFILL_PRICE,
    // SOBER_UP_TIME, RECORD_SESSION.
    uint32_t settings[6] = {};
    // From format 3 on: the same settings as the player wrote them in the file, each
    // as read ("" for a missing key).
    bool settingTextsKept = false;
    std::string settingTexts[6];
    bool saveFound = false; // "Tolvenmire.dat" could be opened at the script's start
    std::string saveBytes;  // the bytes the script read from it
    std::vector<Event> events;
    int blocks = 0;       // whole blocks read
    bool ended = false;   // the end mark was read (the size cap was reached)
    std::string tornTail; // empty, or what is wrong with the bytes after the last whole block,
                          // naming the file and the block ("FILE: block 7 is cut short ...")

    // Counted as far as it was read: its events, its frames (each ended by its
    // resume, and the one after the last resume when it holds events), and the game
    // timer's first and last readings.
    uint64_t eventCount = 0;
    uint64_t frames = 0;
    bool timerRead = false;
    uint32_t firstTimer = 0, lastTimer = 0;
};

// The key the plug-in's key test reads, the drink key, as the recording's settings
// give it; the key test reads no key of 255 or more.
inline uint32_t drinkKeyOf(const Recording& r) { return r.settings[0]; }

// The host's table of natives, which every native event must match: for a hash,
// its argument kinds as the native table's letters (standin/native_table.h: 's' a
// string, 'p' a 4-byte out-variable, 'r' the speech record, any other a number), or
// nullptr for a native the host does not know. A recording that marks an argument
// otherwise, or gives a record another size, is not one the plug-in wrote. Set
// once, before reading; without it (the default) a native is checked only against
// the format's bounds.
void checkNativesWith(const char* (*argumentKinds)(uint64_t hash));
// The records those letters stand for: 'p' a 4-byte out-variable, 'r' the speech
// record (eight 8-byte slots, 0 and 1 the addresses of strings); 0 for a number.
inline uint32_t hostRecordSize(char kind) { return kind == 'p' ? 4 : kind == 'r' ? 64 : 0; }
inline uint32_t hostRecordStrings(char kind) { return kind == 'r' ? 0x3 : 0; }

// Reads a recording. False, with the problem in *error ("FILE: block N: ..." or
// "FILE: ..." for the file as a whole), when the file cannot be read as one: not a
// file, larger than any recording (64 MiB: refused by its size, unread), empty, a
// wrong magic, a newer format, a header cut short, a block whose checksum fails
// while whole blocks follow it, an item or an order of events the plug-in cannot
// have written (docs/recordings.md gives the rules). A torn last block is not an
// error of the reader: the recording ends with the block before it, and `tornTail`
// says so.
bool readRecording(const std::string& path, Recording* out, std::string* error);
// The same from bytes in memory; `name` stands for the file in messages.
bool parseRecording(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                    std::string* error);

// The same, one event at a time: each event goes to `onEvent` as it is read (and
// not into out->events), in order, for it to keep (move from) if it will; `onEvent`
// returns false to read no further (which is not an error). An event is a few
// hundred bytes besides its strings: a recording read whole holds
// at most a million of them (an error says so), some 40 minutes of play at 30
// frames a second; this reads any number. The events of a block go out once its
// checksum holds; an error after some went out makes them no whole recording.
bool readRecordingEvents(const std::string& path, Recording* out, const std::function<bool(Event&&)>& onEvent,
                         std::string* error);
bool parseRecordingEvents(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                          const std::function<bool(Event&&)>& onEvent, std::string* error);

// The same checks, without the events: each run of foreseen events is taken as one
// count, so that a file is read through in time proportional to its bytes however
// many events it stands for, and in memory of a block's size. For the head (not the
// save file's bytes), the blocks, the end mark, the torn tail and the counts; the
// verdict is the event-by-event reading's, word for word.
bool scanRecording(const std::string& path, Recording* out, std::string* error);
bool scanRecordingBytes(const uint8_t* data, size_t size, const std::string& name, Recording* out,
                        std::string* error);

// The memory an event holds: its own and its texts' and records'.
inline size_t eventBytes(const Event& e) {
    return sizeof e + e.save.size() + e.text.bytes() + e.before.bytes() + e.after.bytes();
}

// One event as a line of text, for `tolvenmire-sim --dump` (the natives decoded as
// `--trace` decodes them where the host knows them).
std::string describeEvent(const Event& event);
// The same, each native by the game's name where `findNative` knows its hash
// (nullptr otherwise), its hash arguments and results by the game's names of them.
std::string describeEvent(const Event& event, const natives::Native* (*findNative)(uint64_t hash));

} // namespace rec
