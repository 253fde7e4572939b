// The host's replay mode against recordings taken here from the stand-in game's
// call log: a session replayed against the plug-in that played it answers every
// call and ends with the recording, and a recording changed in one event stops the
// replay at that event, in its frame, with both calls told.
#include "file_text.h"
#include "replay/recording_reader.h"
#include "sim.h"
#include "standin/native_table.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {
const uint32_t StopControl = 0xFDA83190;

// A drink key beyond the key table: the plug-in then reads no tick count, which the
// call log does not show.
const char* const Settings = "[SETTINGS]\nTOLVENMIRE_KEY=300\nDEADEYE_LOCK_THRESHOLD=20\nHEAL_WHEN_DRUNK=1\n"
                             "REFILL_PRICE=12\nSOBER_UP_TIME=30\n";

// A recording made from the host's call log as it happens: the natives with their
// text and out-variables, the waits and the resumes after them, the global and what
// was written into it (seen at the next call), and the saves (seen as the file's
// change before a call).
struct Taker {
    rec::Recording r;
    int openGlobal = -1; // the event of a global whose cell is not yet read back
    std::string saved;

    void take(const sim::Call& c) {
        if (!c.onScriptFiber) return;
        if (openGlobal >= 0) {
            r.events[openGlobal].globalWritten = true;
            r.events[openGlobal].globalValue = sim::world().intensityGlobal;
            openGlobal = -1;
        }
        const std::string now = fileText(sim::workDir() + "/Tolvenmire.dat").value_or("");
        if (now != saved) {
            rec::Event& s = r.events.emplace_back();
            s.kind = rec::EventKind::Save;
            s.save = now;
            saved = now;
        }
        rec::Event& e = r.events.emplace_back();
        switch (c.kind) {
        case sim::CallKind::Native: {
            e.kind = rec::EventKind::Native;
            e.hash = c.hash;
            e.argc = c.argc;
            const sim::NativeInfo* info = sim::findNative(c.hash);
            for (int k = 0; k < c.argc; ++k) {
                e.args[k] = c.args[k];
                const char kind = info ? info->args[k] : 'x';
                if (kind == 's') {
                    e.argKind[k] = rec::ArgKind::Text;
                    e.text[k] = c.text[k];
                } else if (kind == 'r') {
                    // The speech record as the recorder keeps it: its two text slots as
                    // zeros, then the texts.
                    const char* p = (const char*)(uintptr_t)c.args[k];
                    e.argKind[k] = rec::ArgKind::Record;
                    e.recordSize[k] = 64;
                    e.recordStrings[k] = 3;
                    e.before[k].assign(p, 64);
                    std::string texts;
                    for (int slot = 0; slot < 2; ++slot) {
                        const char* text;
                        memcpy(&text, p + slot * 8, sizeof text);
                        memset(&e.before[k][slot * 8], 0, 8);
                        texts += std::string(text ? text : "") + '\0';
                    }
                    e.before[k] += texts;
                } else if (kind == 'p') {
                    e.argKind[k] = rec::ArgKind::Record; // not met in this session (no saloon)
                }
            }
            const char result = info ? info->result : 'x';
            e.resultBytes = result == 'v' ? 0 : result == 'x' ? 8 : result == 'P' ? 24 : 4;
            for (int k = 0; k < 3; ++k) e.result[k] = c.result[k];
            break;
        }
        case sim::CallKind::Wait:
            e.kind = rec::EventKind::Wait;
            e.waitMs = c.waitMs;
            r.events.emplace_back().kind = rec::EventKind::Resume;
            break;
        case sim::CallKind::GlobalPtr:
            e.kind = rec::EventKind::Global;
            e.globalIndex = c.globalIndex;
            e.globalNull = c.pointer == 0;
            if (!e.globalNull) openGlobal = (int)r.events.size() - 1;
            break;
        default:
            r.events.pop_back();
            break;
        }
    }
};

// An evening's worth of what the replay must answer: idle frames, a drink by the
// prompt with its sips, the meters and the global, a stop that saves, an
// out-of-play hold and the sobering after it.
rec::Recording takeSession() {
    Taker t;
    t.saved = "40";
    sim::StartOptions o;
    o.withSettings = true;
    o.settings = Settings;
    o.withSave = true;
    o.save = "40";
    o.observer = [&t](const sim::Call& c) { t.take(c); };
    std::string error;
    EXPECT_TRUE(sim::start(o, &error)) << error;
    const int32_t raw[6] = {300, 20, 1, 12, 30, 0};
    for (int i = 0; i < 6; ++i) t.r.settings[i] = (uint32_t)raw[i];
    t.r.saveFound = true;
    t.r.saveBytes = "40";
    sim::World& w = sim::world();
    sim::playFrames(30);
    w.satchelReleased = 1;
    sim::playFrames(5);
    const int32_t prompt = sim::pluginState()->drinkPrompt;
    w.prompts[prompt].completed = true;
    sim::playFrames(1);
    w.prompts[prompt].completed = false;
    sim::playFrames(400);
    w.analog[StopControl] = 1.0f;
    sim::playFrames(1);
    w.analog[StopControl] = 0.0f;
    sim::playFrames(60);
    w.missionFlag = true;
    sim::playFrames(200);
    w.missionFlag = false;
    sim::playFrames(100);
    sim::stop();
    EXPECT_TRUE(sim::violations().empty());
    return t.r;
}

const rec::Recording& session() {
    static const rec::Recording r = takeSession();
    return r;
}

// Replays to the end; the frames the replay played.
int replay(const rec::Recording& r) {
    sim::StartOptions o;
    o.replay = &r;
    std::string error;
    EXPECT_TRUE(sim::start(o, &error)) << error;
    int frames = 0;
    while (!sim::replayOver() && frames < 100000) {
        sim::playFrames(1);
        ++frames;
    }
    sim::stop();
    return frames;
}

// The frame an event belongs to: the resumes before it, the first run being frame 1.
int frameOf(const rec::Recording& r, size_t index) {
    int frame = 1;
    for (size_t i = 0; i < index; ++i)
        if (r.events[i].kind == rec::EventKind::Resume) ++frame;
    return frame;
}

size_t find(const rec::Recording& r, size_t from, const std::function<bool(const rec::Event&)>& wanted) {
    for (size_t i = from; i < r.events.size(); ++i)
        if (wanted(r.events[i])) return i;
    ADD_FAILURE() << "no such event in the recording";
    return 0;
}

bool native(const rec::Event& e, uint64_t hash) { return e.kind == rec::EventKind::Native && e.hash == hash; }

TEST(ReplayHost, ReplaysTheSessionItWasTakenFromToTheEnd) {
    const rec::Recording& r = session();
    ASSERT_GT(r.events.size(), 1000u);
    replay(r);
    const sim::ReplayStatus& s = sim::replayStatus();
    EXPECT_FALSE(s.diverged) << s.recorded << "\n" << s.made;
    EXPECT_TRUE(s.exhausted);
    EXPECT_EQ(s.next, r.events.size());
    EXPECT_TRUE(sim::violations().empty());
    // The plug-in drank, saved and sobered from the recorded answers alone.
    size_t natives = 0;
    for (const rec::Event& e : r.events) natives += e.kind == rec::EventKind::Native;
    size_t replayed = 0;
    for (const sim::Call& c : sim::calls()) replayed += c.kind == sim::CallKind::Native;
    EXPECT_EQ(replayed, natives);
}

// One event of the recording changed; the replay stops at the event named, in its
// frame, telling the recorded event and the call made.
struct Change {
    const char* what;
    // Changes the recording; returns the event the replay stops at.
    std::function<size_t(rec::Recording&)> change;
    const char* recordedHas; // in the recorded side of the report
    const char* madeHas;     // in the made side
};

TEST(ReplayHost, StopsAtTheFirstDifferenceAndTellsBothCalls) {
    const Change changes[] = {
        {"an argument's value",
         [](rec::Recording& r) {
             const size_t i = find(r, 2000, [](const rec::Event& e) {
                 return native(e, natives::SetPlayerHealthRechargeMultiplier);
             });
             r.events[i].args[1] ^= 1; // the healing rate's float
             return i;
         },
         "PLAYER::SET_PLAYER_HEALTH_RECHARGE_MULTIPLIER(", "PLAYER::SET_PLAYER_HEALTH_RECHARGE_MULTIPLIER("},
        {"a native's hash",
         [](rec::Recording& r) {
             const size_t i =
                 find(r, 500, [](const rec::Event& e) { return native(e, natives::GetGameTimer); });
             r.events[i].hash = natives::GetMissionFlag;
             return i;
         },
         "MISC::GET_MISSION_FLAG()", "MISC::GET_GAME_TIMER()"},
        {"a string argument",
         [](rec::Recording& r) {
             const size_t i = find(r, 0, [](const rec::Event& e) { return native(e, natives::VarString); });
             r.events[i].text[2] = "Drink From The Flask";
             return i;
         },
         "\"Drink From The Flask\"", "\"Drink From Flask\""},
        {"a wait's milliseconds",
         [](rec::Recording& r) {
             const size_t i = find(r, 0, [](const rec::Event& e) {
                 return e.kind == rec::EventKind::Wait && e.waitMs == 3000;
             });
             r.events[i].waitMs = 2000;
             return i;
         },
         "scriptWait(2000)", "scriptWait(3000)"},
        {"the text saved",
         [](rec::Recording& r) {
             const size_t i = find(r, 0, [](const rec::Event& e) { return e.kind == rec::EventKind::Save; });
             r.events[i].save += "0";
             return i;
         },
         "the save file written", "the save file written"},
        {"a save the recording does not have",
         [](rec::Recording& r) {
             const size_t i = find(r, 0, [](const rec::Event& e) { return e.kind == rec::EventKind::Save; });
             r.events.erase(r.events.begin() + (long)i);
             // Found at the end of its frame.
             return find(r, i, [](const rec::Event& e) { return e.kind == rec::EventKind::Wait; });
         },
         "scriptWait(0)", "the save file written: \""},
        {"a save the plug-in did not make",
         [](rec::Recording& r) {
             const size_t i =
                 find(r, 900, [](const rec::Event& e) { return native(e, natives::GetGameTimer); });
             rec::Event save;
             save.kind = rec::EventKind::Save;
             save.save = "12";
             r.events.insert(r.events.begin() + (long)i + 1, save);
             return i + 1;
         },
         "the save file written: \"12\"", "(no save written before it)"},
        {"the value written into the global",
         [](rec::Recording& r) {
             const size_t i =
                 find(r, 2000, [](const rec::Event& e) { return e.kind == rec::EventKind::Global; });
             r.events[i].globalValue ^= 0x10;
             return i;
         },
         "written into it", "written into it"},
        {"a native the plug-in did not call",
         [](rec::Recording& r) {
             const size_t i =
                 find(r, 700, [](const rec::Event& e) { return native(e, natives::GetGameTimer); });
             r.events.insert(r.events.begin() + (long)i, r.events[i + 1]);
             return i;
         },
         "", "MISC::GET_GAME_TIMER()"},
        {"an answer that sends the script into its hold",
         [](rec::Recording& r) {
             const size_t i =
                 find(r, 900, [](const rec::Event& e) { return native(e, natives::GetMissionFlag); });
             r.events[i].result[0] = 1;
             return i + 1; // the plug-in acts on the answer at its next call
         },
         "PLAYER::PLAYER_PED_ID()", ""},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        rec::Recording r = session();
        const size_t at = c.change(r);
        replay(r);
        const sim::ReplayStatus& s = sim::replayStatus();
        ASSERT_TRUE(s.diverged);
        EXPECT_EQ(s.next, at);
        EXPECT_EQ(s.frame, frameOf(r, at));
        EXPECT_NE(s.recorded.find(c.recordedHas), std::string::npos) << s.recorded;
        EXPECT_NE(s.made.find(c.madeHas), std::string::npos) << s.made;
        const std::string frame = "frame " + std::to_string(s.frame) + "  ";
        EXPECT_EQ(s.recorded.rfind(frame, 0), 0u) << s.recorded;
        EXPECT_EQ(s.made.rfind(frame, 0), 0u) << s.made;
        EXPECT_EQ(s.before.size(), 6u);
        EXPECT_TRUE(sim::violations().empty());
    }
}

// A recording cut anywhere replays up to its cut and ends there, with no difference.
TEST(ReplayHost, ARecordingCutShortEndsWithoutADifference) {
    for (size_t cut : {(size_t)1, (size_t)57, session().events.size() / 2, session().events.size() - 1}) {
        SCOPED_TRACE(cut);
        rec::Recording r = session();
        r.events.resize(cut);
        replay(r);
        const sim::ReplayStatus& s = sim::replayStatus();
        EXPECT_FALSE(s.diverged) << s.recorded << "\n" << s.made;
        EXPECT_TRUE(s.exhausted);
        EXPECT_EQ(s.next, cut);
    }
}

// The settings file a replay writes reads back, key by key, as the recorded answers,
// whatever their 32 bits; RECORD_SESSION is read as 0, so that a replay records
// nothing; and the save file is there with its bytes, or not there.
TEST(ReplayHost, TheReplayedPluginReadsTheRecordedSettingsAndSaveFile) {
    const struct {
        uint32_t settings[6];
        bool saveFound;
        const char* save;
    } cases[] = {
        {{79, 60, 1, 10, 100, 1}, false, ""},
        {{0x80000000u, 0xFFFFFFFFu, 2, 0x7FFFFFFFu, 0xFFFFFF9Cu, 1}, true, "42\n"},
        {{0, 0, 0, 0, 0, 0}, true, ""},
    };
    for (const auto& c : cases) {
        rec::Recording r;
        for (int i = 0; i < 6; ++i) r.settings[i] = c.settings[i];
        r.saveFound = c.saveFound;
        r.saveBytes = c.save;
        sim::StartOptions o;
        o.replay = &r;
        std::string error;
        ASSERT_TRUE(sim::start(o, &error)) << error;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(sim::pluginSettings()->answers[i], c.settings[i]) << i;
        EXPECT_EQ(sim::pluginSettings()->answers[5], 0u);
        EXPECT_EQ(fileText(sim::workDir() + "/Tolvenmire.dat"),
                  c.saveFound ? std::optional<std::string>(c.save) : std::nullopt);
        sim::stop();
    }
}

} // namespace
