// The host's replay mode: every answer the plug-in gets comes from a recording
// instead of the game model, and each call it makes is held against the recorded
// one. The loader, the fibers, the protocol checks and the call log are the host's
// own (standin/hook_exports.cpp, standin/host_session.cpp); this file only says what
// the answer is and whether the call is the recorded one (a difference reads as
// divergence_text.h tells it).
#include "standin/fiber.h"
#include "standin/host_internals.h"
#include "replay/divergence_text.h"
#include "replay/recording_reader.h"
#include "standin/native_table.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace sim::detail {

namespace {
const char* const SaveFile = "Tolvenmire.dat";
// The few calls told before a difference.
const int RecentKept = 6;
// A frame's length when the recording does not show one.
const uint32_t DefaultFrameMs = 33;
// How far ahead the frame's length is looked for at the start: so many events, and
// no more bytes than this for them, each event counted as LookaheadEventBytes and
// its strings' lengths. That is the memory an event held when it kept every slot's
// string; counted so still (events are smaller now), the look ahead reaches as far
// as it did, and a recording's frame times read as they did.
const size_t ClockLookahead = 20000;
const size_t ClockLookaheadBytes = 8u << 20;
const size_t LookaheadEventBytes = 1504;
// The slots for events read ahead kept once the look-ahead is over.
const size_t KeptAhead = 16;

const char* const SettingNames[6] = {"TOLVENMIRE_KEY", "DEADEYE_LOCK_THRESHOLD", "HEAL_WHEN_DRUNK",
                                     "REFILL_PRICE",   "SOBER_UP_TIME",          "RECORD_SESSION"};

struct Replay {
    const rec::Recording* recording = nullptr; // the head; its events unless `source` gives them
    std::function<bool(rec::Event*)> source;
    size_t taken = 0; // without a source: the recording's events taken so far
    // The events read and not yet matched: ahead[aheadAt] to ahead[aheadEnd]; the
    // source is read only as far as needed. Emptied, it starts again at its first
    // slot: the slots are made once, not an event.
    std::vector<rec::Event> ahead;
    size_t aheadAt = 0, aheadEnd = 0;
    bool sourceDone = false;
    ReplayStatus status;
    bool started = false; // the script has been resumed once
    uint32_t frameMs = DefaultFrameMs;
    uint32_t lastWait = 0;
    uint32_t lastTimer = 0;
    // The global cell handed out, until the next call checks what was written into it.
    bool globalPending = false;
    rec::Event globalEvent;
    size_t globalAt = 0; // its place in the recording
    uint64_t* globalCell = nullptr;
    uint64_t globalBefore = 0;
    // The save file's stamp as the replay last left it: a save changes it.
    bool saveKnown = false;
    fs::file_time_type saveStamp;
    // The last events matched, with their frames: a ring of RecentKept, the oldest
    // at recentAt once it is full.
    std::pair<rec::Event, int> recent[RecentKept];
    int recentCount = 0, recentAt = 0;
};

Replay replay;

// Set on the thread that runs the keyboard handler for a recorded key event: the
// handler's GetTickCount answers the tick the event was recorded with.
thread_local bool deliveringKey = false;
thread_local uint32_t keyTick = 0;

bool over() { return replay.status.diverged || replay.status.exhausted; }

// A recorded key to the keyboard handler, which stores the tick it was recorded with.
void deliverKey(const rec::Event& k) {
    deliveringKey = true;
    keyTick = k.tick;
    keyEventRaw(k.key, k.second, k.third, k.fourth, k.fifth, k.sixth, k.seventh);
    deliveringKey = false;
}

size_t aheadCount() { return replay.aheadEnd - replay.aheadAt; }

// Reads ahead until `count` events are there (fewer at the recording's end).
bool readAhead(size_t count) {
    Replay& p = replay;
    if (p.aheadAt == p.aheadEnd) {
        p.aheadAt = p.aheadEnd = 0;
        // The clock's look-ahead, once taken, gives its room back.
        if (p.ahead.size() > KeptAhead) {
            p.ahead.resize(KeptAhead);
            p.ahead.shrink_to_fit();
        }
    }
    while (aheadCount() < count && !p.sourceDone) {
        if (p.aheadEnd == p.ahead.size()) p.ahead.emplace_back();
        rec::Event& e = p.ahead[p.aheadEnd];
        bool got = false;
        if (p.source) {
            got = p.source(&e);
        } else if (p.taken < p.recording->events.size()) {
            e = p.recording->events[p.taken++];
            got = true;
        }
        if (got)
            ++p.aheadEnd;
        else
            p.sourceDone = true;
    }
    return aheadCount() >= count;
}

const rec::Event* peek() { return readAhead(1) ? &replay.ahead[replay.aheadAt] : nullptr; }

// Takes the next event as matched; it stays readable among the recent ones.
const rec::Event& consume() {
    Replay& p = replay;
    const int slot = (p.recentAt + p.recentCount) % RecentKept;
    if (p.recentCount < RecentKept)
        ++p.recentCount;
    else
        p.recentAt = (p.recentAt + 1) % RecentKept;
    p.recent[slot].first = std::move(p.ahead[p.aheadAt++]);
    p.recent[slot].second = host().frame;
    ++p.status.next;
    return p.recent[slot].first;
}

// The first difference: the replay stops here.
void diverge(const rec::Event* recorded, const std::string& made) {
    Replay& p = replay;
    Host& h = host();
    ReplayStatus& s = p.status;
    s.diverged = true;
    s.frame = h.frame;
    s.gameTime = p.lastTimer;
    s.block = recorded ? recorded->block : 0;
    s.recorded = recorded ? describeRecorded(*recorded, h.frame) : std::string("(the end of the recording)");
    s.made = made;
    s.before.clear();
    for (int k = 0; k < p.recentCount; ++k) {
        const auto& [event, frame] = p.recent[(p.recentAt + k) % RecentKept];
        s.before.push_back(describeRecorded(event, frame));
    }
}

// The save file's stamp is set back after each save, so that any write shows.
void markSave() {
    Replay& p = replay;
    std::error_code ec;
    p.saveKnown = fs::exists(SaveFile, ec);
    if (!p.saveKnown) return;
    // An old time no save can have: a day before the stamp it has now.
    const fs::file_time_type now = fs::last_write_time(SaveFile, ec);
    fs::last_write_time(SaveFile, now - std::chrono::hours(24), ec);
    p.saveStamp = fs::last_write_time(SaveFile, ec);
}

bool saveWritten() {
    const Replay& p = replay;
    std::error_code ec;
    const bool exists = fs::exists(SaveFile, ec);
    if (!exists) return false; // the plug-in never deletes its save file
    if (!p.saveKnown) return true;
    return fs::last_write_time(SaveFile, ec) != p.saveStamp;
}

std::string saveText() {
    std::ifstream in(SaveFile, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// What waits for the next call: the value written into the global cell handed out,
// and a recorded save that should have been made since the last call. False at a
// difference, told against the call made (madeCall, or madeText).
bool checkPending(const Call* madeCall, const char* madeText) {
    // The call made, described only at a difference.
    auto made = [&] { return madeCall ? describeMade(*madeCall) : std::string(madeText); };
    Replay& p = replay;
    if (p.globalPending) {
        const rec::Event& e = p.globalEvent;
        const uint64_t now = *p.globalCell;
        p.globalPending = false;
        const bool same = e.globalWritten ? now == e.globalValue : now == p.globalBefore;
        if (!same) {
            char b[160];
            if (now == p.globalBefore)
                snprintf(b, sizeof b,
                         "frame %d  getGlobalPtr(%" PRId32 ") -> a cell, nothing written into it",
                         host().frame, e.globalIndex);
            else
                snprintf(b, sizeof b,
                         "frame %d  getGlobalPtr(%" PRId32 ") -> a cell, 0x%016" PRIX64 " written into it",
                         host().frame, e.globalIndex, now);
            // The difference is the recorded global's, matched until now.
            p.status.next = p.globalAt;
            diverge(&e, b);
            return false;
        }
    }
    for (const rec::Event* e = peek(); e && e->kind == rec::EventKind::Save; e = peek()) {
        if (!saveWritten()) {
            diverge(e, made() + " (no save written before it)");
            return false;
        }
        const std::string text = saveText();
        if (text != e->save) {
            char b[64];
            snprintf(b, sizeof b, "frame %d  the save file written: ", host().frame);
            diverge(e, b + quotedText(text));
            return false;
        }
        markSave();
        consume();
    }
    return true;
}

// A save the recording does not have, found at the end of a frame.
bool checkUnrecordedSave() {
    if (!saveWritten()) return true;
    char b[64];
    snprintf(b, sizeof b, "frame %d  the save file written: ", host().frame);
    diverge(peek(), b + quotedText(saveText()));
    return false;
}

// A record as the recording keeps its bytes as passed: each string slot as zeros,
// then the slots' texts, each ended by a NUL.
std::string recordAsPassed(const uint8_t* p, uint32_t size, uint32_t strings) {
    std::string out((const char*)p, size);
    for (uint32_t slot = 0; slot < 32 && slot * 8 + 8 <= size; ++slot)
        if (strings >> slot & 1) memset(&out[slot * 8], 0, 8);
    for (uint32_t slot = 0; slot < 32 && slot * 8 + 8 <= size; ++slot) {
        if (!(strings >> slot & 1)) continue;
        uint64_t address;
        memcpy(&address, p + slot * 8, sizeof address);
        if (const char* text = (const char*)(uintptr_t)address) out += text;
        out += '\0';
    }
    return out;
}

// An argument against the recorded one, read as the host's table has it (`kind`,
// sim.h's letter), never as the recording marks it: a number is never taken for an
// address, a record is read and written only as far as the plug-in's out-variable.
bool argumentMatches(const rec::Event& e, const Call& c, int k, char kind) {
    const uint32_t size = rec::hostRecordSize(kind);
    if (kind == 's') return e.argKind[k] == rec::ArgKind::Text && c.text[k] == e.text[k];
    if (size == 0) return e.argKind[k] == rec::ArgKind::Value && c.args[k] == e.args[k];
    if (e.argKind[k] != rec::ArgKind::Record || e.recordSize[k] != size) return false;
    const uint8_t* p = (const uint8_t*)(uintptr_t)c.args[k];
    return p && recordAsPassed(p, size, rec::hostRecordStrings(kind)) == e.before[k];
}

// What the game wrote into a record: its bytes once the native returned. A string
// slot keeps the plug-in's address: a value from a file is never an address (the
// reader holds a string slot of the recorded bytes to zero, the game's leaving it).
void writeBack(const rec::Event& e, int k, char kind, uint8_t* p) {
    const std::string& after = e.after[k];
    const uint32_t whole = rec::hostRecordSize(kind), strings = rec::hostRecordStrings(kind);
    const uint32_t size = whole < after.size() ? whole : (uint32_t)after.size();
    for (uint32_t at = 0; at < size; at += 8) {
        const uint32_t n = size - at < 8 ? size - at : 8;
        const bool isString = at / 8 < 32 && (strings >> (at / 8) & 1) != 0;
        if (!isString) memcpy(p + at, after.data() + at, n);
    }
}

void setTimer(uint32_t timer) {
    replay.lastTimer = timer;
    host().world.timer = timer;
}

// The frame's length and the timer before the first frame, from the first two
// frames in a row that read the game timer, so that the frames' times read as the
// game's.
void estimateClock() {
    Replay& p = replay;
    int frame = 1;
    int firstFrame = -1;
    uint32_t first = 0;
    bool waitedLong = false;
    size_t held = 0;
    for (size_t i = 0; i < ClockLookahead && held < ClockLookaheadBytes && readAhead(i + 1); ++i) {
        const rec::Event& e = p.ahead[p.aheadAt + i];
        held += LookaheadEventBytes + e.save.size() + e.text.length() + e.before.length() + e.after.length();
        if (e.kind == rec::EventKind::Resume && i > 0) ++frame;
        if (e.kind == rec::EventKind::Wait) waitedLong = e.waitMs != 0;
        if (e.kind != rec::EventKind::Native || e.hash != natives::GetGameTimer) continue;
        const uint32_t t = (uint32_t)e.result[0];
        if (firstFrame < 0) {
            firstFrame = frame;
            first = t;
            waitedLong = false;
        } else if (frame == firstFrame + 1 && !waitedLong && t - first > 0 && t - first < 1000) {
            p.frameMs = t - first;
            break;
        } else if (frame > firstFrame) {
            break;
        }
    }
    // A recording that never reads the game timer: its frames are reckoned from the
    // host's timer as it stands.
    if (firstFrame < 0) return setTimer(host().world.timer);
    setTimer(first - p.frameMs * (uint32_t)firstFrame);
    host().world.frameMs = p.frameMs;
}

} // namespace

bool replayWriteFiles(const rec::Recording& r) {
    std::string ini = "[SETTINGS]\n";
    for (int i = 0; i < 6; ++i) {
        // GetPrivateProfileIntA reads a negative decimal back as the same 32 bits.
        const int32_t value = i == 5 ? 0 : (int32_t)r.settings[i]; // the replay records nothing
        ini += std::string(SettingNames[i]) + "=" + std::to_string(value) + "\n";
    }
    std::error_code ec;
    fs::remove(SaveFile, ec);
    {
        std::ofstream f("Tolvenmire.ini", std::ios::binary | std::ios::trunc);
        f << ini;
        if (!f) return false;
    }
    if (r.saveFound) {
        std::ofstream f(SaveFile, std::ios::binary | std::ios::trunc);
        f.write(r.saveBytes.data(), (std::streamsize)r.saveBytes.size());
        if (!f) return false;
    }
    return true;
}

void replayBegin(const std::function<bool(rec::Event*)>& source) {
    replay = Replay();
    replay.recording = host().replay;
    replay.source = source;
    replay.status.active = true;
    estimateClock();
    markSave();
}

void replayEnd() {
    Replay& p = replay;
    p.recording = nullptr;
    p.source = nullptr;
    p.ahead.clear();
    p.aheadAt = p.aheadEnd = 0;
    p.globalPending = false;
}

UINT64* replayNative(Call& c) {
    Host& h = host();
    for (UINT64& r : h.result) r = 0;
    if (over()) return h.result;
    c.frame = h.frame;
    const NativeInfo* info = findNative(c.hash);
    if (info) readTextArguments(*info, c);
    if (!checkPending(&c, nullptr)) return h.result;
    const rec::Event* e = peek();
    if (!e) {
        replay.status.exhausted = true;
        return h.result;
    }
    // A native the host does not know is none the recording can answer.
    bool same = info && strlen(info->args) == (size_t)c.argc && e->kind == rec::EventKind::Native &&
                e->hash == c.hash && e->argc == c.argc;
    for (int k = 0; same && k < c.argc; ++k) same = argumentMatches(*e, c, k, info->args[k]);
    if (!same) {
        diverge(e, describeMade(c));
        return h.result;
    }
    // What the game wrote into the out-variables and records.
    for (int k = 0; k < c.argc; ++k)
        if (rec::hostRecordSize(info->args[k]) && c.args[k])
            writeBack(*e, k, info->args[k], (uint8_t*)(uintptr_t)c.args[k]);
    for (int k = 0; k < 3; ++k) h.result[k] = e->result[k];
    c.result[0] = h.result[0];
    c.result[1] = h.result[1];
    c.result[2] = h.result[2];
    if (c.hash == natives::GetGameTimer) {
        setTimer((uint32_t)e->result[0]);
        replay.status.timerRead = true;
    }
    const bool nullResult = consume().nullResult;
    logCall(c);
    return nullResult ? nullptr : h.result;
}

bool replayWait(Call& c) {
    if (over()) return false;
    c.frame = host().frame;
    if (!checkPending(&c, nullptr) || !checkUnrecordedSave()) return false;
    const rec::Event* e = peek();
    if (!e) {
        replay.status.exhausted = true;
        return false;
    }
    if (e->kind != rec::EventKind::Wait || e->waitMs != c.waitMs) {
        diverge(e, describeMade(c));
        return false;
    }
    replay.lastWait = c.waitMs;
    consume();
    return true;
}

UINT64* replayGlobal(int index) {
    Host& h = host();
    if (over()) return nullptr;
    Call& c = h.other;
    resetCall(c, CallKind::GlobalPtr);
    c.globalIndex = index;
    c.frame = h.frame;
    char made[80];
    snprintf(made, sizeof made, "frame %d  getGlobalPtr(%d)", h.frame, index);
    if (!checkPending(nullptr, made)) return nullptr;
    const rec::Event* e = peek();
    if (!e) {
        replay.status.exhausted = true;
        return nullptr;
    }
    if (e->kind != rec::EventKind::Global || e->globalIndex != index) {
        diverge(e, made);
        return nullptr;
    }
    // One cell of the host's answers for the game's global; what the plug-in writes
    // into it is held against the recording at its next call.
    uint64_t* cell = e->globalNull ? nullptr : &h.world.intensityGlobal;
    const size_t at = replay.status.next;
    const rec::Event& taken = consume();
    if (cell) {
        replay.globalPending = true;
        replay.globalEvent = taken;
        replay.globalAt = at;
        replay.globalCell = cell;
        replay.globalBefore = *cell;
    }
    c.pointer = (uint64_t)(uintptr_t)cell;
    logCall(c);
    return cell;
}

bool replayResume() {
    Host& h = host();
    Replay& p = replay;
    if (over()) return false;
    const rec::Event* e = peek();
    if (!e) {
        p.status.exhausted = true;
        return false;
    }
    // A script that returned or unregistered, while the recording goes on: it
    // departs there (nothing would resume it again).
    if (!h.scriptRegistered || (h.fiber && fiberFinished(h.fiber))) {
        char b[100];
        snprintf(b, sizeof b, "frame %d  the script has ended: nothing left to resume", h.frame);
        diverge(e, b);
        return false;
    }
    if (e->kind == rec::EventKind::Resume) {
        consume();
    } else if (p.started) {
        char b[80];
        snprintf(b, sizeof b, "frame %d  scriptWait returns: a new frame", h.frame);
        diverge(e, b);
        return false;
    }
    // The frame's time until the script reads the game timer: a frame on, or as many
    // as the wait took.
    if (p.started) {
        const uint32_t frames = p.lastWait > p.frameMs ? (p.lastWait + p.frameMs - 1) / p.frameMs : 1;
        setTimer(p.lastTimer + frames * p.frameMs);
    } else {
        setTimer(p.lastTimer + p.frameMs);
    }
    p.started = true;
    // A recording of format 1: the keyboard events received meanwhile.
    for (e = peek(); e && e->kind == rec::EventKind::Key; e = peek()) deliverKey(consume());
    return true;
}

DWORD replayTickCount() {
    if (deliveringKey) return keyTick;
    Host& h = host();
    if (!h.fiber || fiberCurrent() != h.fiber) return tickCount();
    if (over()) return 0;
    char made[64];
    snprintf(made, sizeof made, "frame %d  GetTickCount()", h.frame);
    if (!checkPending(nullptr, made)) return 0;
    const rec::Event* e = peek();
    if (!e) {
        replay.status.exhausted = true;
        return 0;
    }
    if (e->kind != rec::EventKind::Tick) {
        diverge(e, made);
        return 0;
    }
    const uint32_t tick = consume().tick;
    // The key test reads the key table right after this reading: the entry it read
    // when recorded goes into the table, through the handler, as the keyboard thread
    // stored it.
    for (e = peek(); e && e->kind == rec::EventKind::KeyRead; e = peek()) {
        const rec::Event& k = consume();
        deliverKey(k);
    }
    return tick;
}

} // namespace sim::detail

const sim::ReplayStatus& sim::replayStatus() { return detail::replay.status; }
bool sim::replayOver() { return detail::over(); }
