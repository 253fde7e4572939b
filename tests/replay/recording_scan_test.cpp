// The reader's two ways through a recording agree: read through without its events
// (a run of foreseen events at once, each check in closed form) and read event by
// event, thousands of generated recordings get the same verdict word for word and
// the same counts, and the events read keep the recorder's rules (a plain model of
// them). The recordings are written as the plug-in's recorder writes them, from
// sessions made to reach the closed forms' edges: long runs of alike frames whose
// tick reading and game timer step evenly, toward and past 32 bits; key reads that
// fire frame after frame, or stop firing, or are read again; frames that grow and
// shrink; items the plug-in never writes.
#include "recorder_rules.h"
#include "recording_encoder.h"
#include "replay/recording_reader.h"
#include "sim.h"
#include "standin/native_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace enc;

// The recorder's foresight (src/record/recorder.cpp): each event against the frame
// before's at its place, a run while foreseen, a step for a new value, else in full.
struct ForesightWriter {
    struct Kept {
        std::string shape;
        uint64_t value = 0, step = 0;
    };
    std::vector<Kept> before, now;
    uint64_t run = 0;
    std::vector<std::string> blocks;
    std::string items;

    void flush() {
        for (; run > 0; run -= std::min<uint64_t>(run, 100000))
            items += same(std::min<uint64_t>(run, 100000));
    }
    void event(const std::string& shape, bool valued, uint64_t value) {
        const size_t p = now.size();
        uint64_t step = 0;
        if (p < before.size() && p < 512 && before[p].shape == shape) {
            const uint64_t foreseen = before[p].value + before[p].step;
            step = value - before[p].value;
            if (value == foreseen) {
                ++run;
            } else {
                flush();
                items += enc::step((int64_t)(value - foreseen));
            }
        } else {
            flush();
            items += (char)Whole + shape;
            if (valued) varint(items, value);
        }
        now.push_back({shape, value, step});
        if (shape.size() == 1 && shape[0] == (char)Resume) {
            before.swap(now);
            now.clear();
        }
    }
    // The block out (a run is never split across two).
    void endBlock() {
        flush();
        if (!items.empty()) blocks.push_back(items);
        items.clear();
    }
};

std::string shapeOf(uint8_t kind) { return std::string(1, (char)kind); }
std::string nativeShape(uint64_t hash, uint8_t result) {
    std::string s(1, (char)Native);
    le64(s, hash);
    s += (char)0;
    return s + (char)result;
}
std::string keyReadShape(uint32_t key, uint64_t tick, int64_t seventh) {
    std::string s(1, (char)KeyRead);
    varint(s, key);
    varint(s, tick);
    zigzag(s, 0);
    zigzag(s, 0);
    zigzag(s, seventh);
    return s;
}

// One generated session: stretches of alike frames, each stretch with its own
// frame time, its own events, and perhaps a key entry read again and again.
std::string generate(std::mt19937_64& rng) {
    auto pick = [&](uint64_t n) { return (uint64_t)(rng() % n); };
    ForesightWriter w;
    // The clocks: near their wrap or past it now and then.
    uint64_t timer = pick(4) == 0 ? 0xFFFFFFFFull - pick(5000) : 100000 + pick(1000);
    uint64_t tick = pick(4) == 0 ? 0xFFFFFFFFull - pick(5000) : 10000000 + pick(1000);
    const bool wrapAsTheGameDoes = pick(3) != 0;
    const uint32_t drinkKey = pick(20) == 0 ? (uint32_t)pick(300) : 79;
    const int stretches = 1 + (int)pick(6);
    std::string globalShape = shapeOf(Global);
    zigzag(globalShape, 1935445);
    globalShape += (char)0;
    for (int s = 0; s < stretches; ++s) {
        const int64_t frameMs = pick(5) == 0 ? -(int64_t)pick(40) : (int64_t)pick(50);
        const uint64_t frames = pick(3) == 0 ? 1 + pick(3) : 1 + pick(150);
        const bool testsKey = pick(4) != 0;
        // The entry read: once; or again each frame while it fires (a tick reading
        // that steps by a millisecond or none, an entry a little older); or again
        // each frame whatever it does.
        const int reads = testsKey ? (int)pick(4) : 0; // 0 none, 1 once, 2 while firing, 3 each frame
        const int64_t tickMs = reads == 2 ? (int64_t)pick(2) : pick(4) == 0 ? (int64_t)pick(3) : frameMs;
        const uint32_t readKey = pick(30) == 0 ? (uint32_t)pick(256) : drinkKey;
        const uint64_t entryTick =
            (uint32_t)(tick - (reads == 2 ? pick(60) : (uint64_t)(int64_t)(pick(400) - 200)));
        const int64_t seventh = reads == 2 || pick(4) != 0 ? 1 : 0;
        const bool global = pick(2) == 0;
        const int extra = (int)pick(4);
        for (uint64_t f = 0; f < frames; ++f) {
            w.event(nativeShape(natives::GetMissionFlag, 1), true, pick(50) == 0 ? 1 : 0);
            w.event(nativeShape(natives::GetGameTimer, 1), true, timer);
            if (testsKey) {
                w.event(shapeOf(Tick), true, tick);
                if (reads == 1 ? f == 0 : reads >= 2)
                    w.event(keyReadShape(readKey, pick(40) == 0 ? entryTick + pick(3) : entryTick, seventh),
                            false, 0);
                if (pick(5000) == 0) w.event(shapeOf(Tick), true, tick);
            }
            if (global) w.event(globalShape, true, pick(7));
            for (int k = 0; k < extra; ++k) w.event(nativeShape(natives::PlayerPedId, 1), true, 1001);
            std::string wait = shapeOf(Wait);
            varint(wait, pick(100) == 0 ? 3000 : 0);
            w.event(wait, false, 0);
            w.event(shapeOf(Resume), false, 0);
            timer += (uint64_t)frameMs;
            tick += (uint64_t)tickMs;
            if (wrapAsTheGameDoes) timer = (uint32_t)timer, tick = (uint32_t)tick;
            if (pick(60) == 0) w.endBlock();
        }
    }
    // A session that ends inside a frame, as a killed game's does.
    if (pick(3) == 0) w.event(nativeShape(natives::GetMissionFlag, 1), true, 0);
    if (pick(10) == 0) w.items += std::string(1, (char)(pick(2) ? 0x7F : Same));
    w.endBlock();
    std::vector<uint32_t> settings = shippedSettings();
    settings[0] = drinkKey;
    return file(w.blocks, 2, "1.1.0", settings);
}

TEST(RecordingScan, AgreesWithTheEventByEventReadingOnGeneratedSessions) {
    rec::checkNativesWith([](uint64_t hash) -> const char* {
        const sim::NativeInfo* info = sim::findNative(hash);
        return info ? info->args : nullptr;
    });
    std::mt19937_64 rng(29);
    int accepted = 0, refused = 0;
    for (int n = 0; n < 1500; ++n) {
        const std::string bytes = generate(rng);
        SCOPED_TRACE("session " + std::to_string(n));
        rec::Recording read, scanned;
        RecorderRules rules;
        rules.r = &read;
        uint64_t events = 0;
        std::string readError, scanError;
        const bool readOk =
            rec::parseRecordingEvents((const uint8_t*)bytes.data(), bytes.size(), "generated.rec", &read,
                                      [&](const rec::Event& e) {
                                          rules.see(e);
                                          ++events;
                                          return true;
                                      },
                                      &readError);
        const bool scanOk = rec::scanRecordingBytes((const uint8_t*)bytes.data(), bytes.size(),
                                                    "generated.rec", &scanned, &scanError);
        ASSERT_EQ(rules.broken, "");
        ASSERT_EQ(scanOk, readOk) << readError << " / " << scanError;
        ASSERT_EQ(scanError, readError);
        (readOk ? accepted : refused)++;
        if (!readOk) continue;
        ASSERT_EQ(scanned.eventCount, events);
        ASSERT_EQ(scanned.frames, rules.frames);
        ASSERT_EQ(read.frames, rules.frames);
        ASSERT_EQ(scanned.timerRead, rules.timerRead);
        ASSERT_EQ(scanned.firstTimer, rules.firstTimer);
        ASSERT_EQ(scanned.lastTimer, rules.lastTimer);
    }
    // Both kinds, in numbers: the generator reaches the rules' both sides.
    printf("  %d sessions accepted, %d refused\n", accepted, refused);
    EXPECT_GT(accepted, 500);
    EXPECT_GT(refused, 300);
}

} // namespace
