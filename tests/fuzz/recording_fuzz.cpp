// The session recording's reader on any bytes: it never crashes or hangs, and what
// it accepts is consistent: a message names the file, a torn tail leaves the events
// of the whole blocks before it (read again alone, the same events, no torn tail),
// and every event describes itself. Read event by event, and no further than 200,000
// events: a few bytes of runs stand for many events. Natives are held to the host's
// table, as tolvenmire-sim holds them.
//
// What it accepts keeps the recorder's rules, checked here again event by event
// from the events alone: a resume right after its wait, one key test (tick reading)
// a frame, a key read right after the tick reading, of the drink key, never of the
// entry the recording holds (the key test's trigger empties it), a format-1 key
// event only where a frame begins; no text holding a NUL, and a record's string
// slots zero before and after the call. Read through without its events (the
// scan, each run at once), the same file gets the same verdict word for word, and
// the same counts: events, frames, the game timer's first and last readings.
//
// A recording it accepts (of up to 20,000 events) is then replayed against the
// plug-in, in this process as tolvenmire-sim replays it: whatever the recording
// answers, the host never reads a number as an address nor writes past what the
// plug-in passes, and the replay ends at a difference or at the recording's end.
#include "replay/recording_reader.h"

#include "fuzz_check.h"
#include "recorder_rules.h"
#include "player/recorded_session.h"
#include "sim.h"
#include "standin/native_table.h"

#include <cstring>
#include <vector>

namespace {

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) {
        c ^= p[k];
        for (int b = 0; b < 8; ++b) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

// The blocks' checksums made right, so that what lies behind them is read too.
std::vector<uint8_t> withChecksums(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(data, data + size);
    for (size_t at = 12; at + 8 <= size;) {
        uint32_t length;
        memcpy(&length, &out[at], 4);
        if (length > size - at - 8) break;
        const uint32_t crc = crc32(&out[at + 8], length);
        memcpy(&out[at + 4], &crc, 4);
        at += 8 + length;
    }
    return out;
}

int check(const uint8_t* data, size_t size);

} // namespace

// An input whose last byte is odd has its blocks' checksums made right first (and
// loses that byte): a mutation then reaches the items of a block, not only its
// checksum.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && (data[size - 1] & 1)) {
        const std::vector<uint8_t> fixed = withChecksums(data, size - 1);
        return check(fixed.data(), fixed.size());
    }
    return check(data, size);
}

namespace {

// Read event by event, no further than `limit` events (runs make many of few bytes).
struct Read {
    bool ok = false;
    bool stopped = false;
    rec::Recording r;
    std::string error;
    size_t events = 0;
    RecorderRules rules;
};
Read readUpTo(const uint8_t* data, size_t size, size_t limit) {
    Read out;
    out.rules.r = &out.r;
    out.ok = rec::parseRecordingEvents(
        data, size, "fuzz.rec", &out.r,
        [&](const rec::Event& e) {
            FUZZ_CHECK(e.argc >= 0 && e.argc <= 12, "argc %d", e.argc);
            FUZZ_CHECK(e.block >= 1, "an event of block %d", e.block);
            FUZZ_CHECK(!rec::describeEvent(e).empty(), "an event without a description");
            out.rules.see(e);
            out.stopped = ++out.events >= limit;
            return !out.stopped;
        },
        &out.error);
    return out;
}

// Read through without its events: the same verdict and the same counts.
void scanAgrees(const uint8_t* data, size_t size, const Read& read) {
    rec::Recording r;
    std::string error;
    const bool ok = rec::scanRecordingBytes(data, size, "fuzz.rec", &r, &error);
    FUZZ_CHECK(ok == read.ok && error == read.error, "read: \"%s\", scanned: \"%s\"", read.error.c_str(),
               error.c_str());
    if (!ok) return;
    const RecorderRules& m = read.rules;
    FUZZ_CHECK(r.blocks == read.r.blocks && r.tornTail == read.r.tornTail && r.ended == read.r.ended,
               "the scan's blocks differ");
    FUZZ_CHECK(r.eventCount == read.events && read.r.eventCount == read.events,
               "%llu events scanned, %zu read", (unsigned long long)r.eventCount, read.events);
    FUZZ_CHECK(r.frames == m.frames && read.r.frames == m.frames, "%llu frames scanned, %llu read",
               (unsigned long long)r.frames, (unsigned long long)m.frames);
    FUZZ_CHECK(r.timerRead == m.timerRead && r.firstTimer == m.firstTimer && r.lastTimer == m.lastTimer,
               "the game timer scanned: %u..%u, read: %u..%u", (unsigned)r.firstTimer, (unsigned)r.lastTimer,
               (unsigned)m.firstTimer, (unsigned)m.lastTimer);
}

const char* hostArguments(uint64_t hash) {
    const sim::NativeInfo* info = sim::findNative(hash);
    return info ? info->args : nullptr;
}

// The recording replayed against the plug-in.
void replayIt(const uint8_t* data, size_t size) {
    rec::Recording r;
    std::string error;
    if (!rec::parseRecording(data, size, "fuzz.rec", &r, &error)) return;
    player::PlayOptions options;
    player::ReplayOutcome outcome;
    const bool ran = player::replay({{"fuzz.rec", &r, nullptr}}, options, &outcome);
    FUZZ_CHECK(ran, "the replay did not run: %s", outcome.session.error.c_str());
    FUZZ_CHECK(outcome.status.diverged || outcome.status.exhausted,
               "the replay ended neither at a difference nor at the recording's end");
}

int check(const uint8_t* data, size_t size) {
    rec::checkNativesWith(hostArguments);
    const std::string name = "fuzz.rec";
    const size_t limit = 200000;
    const Read first = readUpTo(data, size, limit);
    FUZZ_CHECK(first.rules.broken.empty(), "an event read breaks the recorder's rules: %s",
               first.rules.broken.c_str());
    if (!first.stopped) scanAgrees(data, size, first);
    if (!first.ok) {
        FUZZ_CHECK(first.error.rfind(name + ": ", 0) == 0, "error \"%s\"", first.error.c_str());
        return 0;
    }
    const rec::Recording& r = first.r;
    FUZZ_CHECK(r.blocks >= 1 && r.formatVersion >= 1 && r.formatVersion <= 3, "%d blocks, format %u",
               r.blocks, (unsigned)r.formatVersion);
    // The settings' texts are format 3's, and no longer than the plug-in reads a value.
    for (const std::string& t : r.settingTexts)
        FUZZ_CHECK(r.formatVersion >= 3 ? t.size() <= 29 : t.empty(),
                   "a setting's text of %zu bytes, format %u", t.size(), (unsigned)r.formatVersion);
    if (!first.stopped && first.events <= 20000) replayIt(data, size);
    if (first.stopped || r.tornTail.empty()) return 0;
    FUZZ_CHECK(r.tornTail.rfind(name + ": block ", 0) == 0, "torn tail \"%s\"", r.tornTail.c_str());
    // The whole blocks alone.
    size_t at = 12;
    for (int b = 0; b < r.blocks; ++b) {
        uint32_t length;
        memcpy(&length, data + at, 4);
        at += 8 + length;
    }
    const Read again = readUpTo(data, at, limit);
    FUZZ_CHECK(again.ok, "the whole blocks alone: %s", again.error.c_str());
    FUZZ_CHECK(again.r.tornTail.empty() && again.r.blocks == r.blocks && again.events == first.events,
               "the whole blocks alone read differently");
    return 0;
}

} // namespace
