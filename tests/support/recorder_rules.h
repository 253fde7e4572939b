// The recorder's rules as a plain model, held against a recording's events one by
// one as the reader hands them over (docs/recordings.md): a resume right after its
// wait, one key test (tick reading) a frame, a key read right after the tick
// reading, of the drink key, never of the entry the recording holds (the key test's
// trigger empties it), a format-1 key event only where a frame begins; no text
// holding a NUL, and a record's string slots zero before and after the call. It
// counts what the reader counts: frames, the game timer's first and last readings.
// `broken` says the first rule an event broke.
#pragma once

#include "replay/recording_reader.h"
#include "standin/native_table.h"

#include <cstdint>
#include <cstring>
#include <string>

struct RecorderRules {
    const rec::Recording* r = nullptr;
    int last = -1; // the last event's kind
    int ticks = 0; // this frame's tick readings
    uint64_t frames = 0, resumes = 0;
    bool pending = false;
    uint32_t now = 0;
    uint32_t held[4] = {}; // tick, fifth, sixth, seventh
    bool timerRead = false;
    uint32_t firstTimer = 0, lastTimer = 0;
    std::string broken; // the first rule broken, with the event's place

    void check(bool kept, const char* rule) {
        if (!kept && broken.empty())
            broken = std::string(rule) + " (after " + std::to_string(resumes) + " frames)";
    }

    static bool fires(uint32_t now, const uint32_t* e) { return e[3] != 0 && now - e[0] < 100; }
    static bool zero(const std::string& bytes, size_t at) {
        for (size_t k = at; k < at + 8; ++k)
            if (bytes[k]) return false;
        return true;
    }

    void see(const rec::Event& e) {
        using K = rec::EventKind;
        const int kind = (int)e.kind;
        check(last != (int)K::Wait || e.kind == K::Resume, "an event other than the resume after a wait");
        check(e.kind != K::Resume || last == (int)K::Wait, "a resume not after a wait");
        check(e.kind != K::KeyRead || last == (int)K::Tick, "a key read not after a tick reading");
        check(e.kind != K::Key || last < 0 || last == (int)K::Resume || last == (int)K::Key,
              "a key event in the middle of a frame");
        if (e.kind == K::Tick) check(++ticks == 1, "two tick readings in a frame");
        if (pending) {
            uint32_t entry[4] = {held[0], held[1], held[2], held[3]};
            if (e.kind == K::KeyRead) {
                const uint32_t read[4] = {e.tick, (uint32_t)e.fifth, (uint32_t)e.sixth, (uint32_t)e.seventh};
                check(memcmp(read, held, sizeof held) != 0, "a key read of the entry held");
                memcpy(entry, read, sizeof entry);
            }
            if (fires(now, entry)) memset(entry, 0, sizeof entry);
            memcpy(held, entry, sizeof held);
            pending = false;
        }
        if (e.kind == K::KeyRead)
            check(e.key == rec::drinkKeyOf(*r) && e.key < 255,
                  "a key read of another key than the drink key");
        if (e.kind == K::Tick && r->formatVersion >= 2) pending = true, now = e.tick;
        if (e.kind == K::Save) check(e.save.find('\0') == std::string::npos, "a save holding a NUL");
        for (int k = 0; k < e.argc; ++k) {
            if (e.argKind[k] == rec::ArgKind::Text)
                check(e.text[k].find('\0') == std::string::npos, "a text argument holding a NUL");
            if (e.argKind[k] != rec::ArgKind::Record) continue;
            for (uint32_t slot = 0; slot * 8 + 8 <= e.recordSize[k]; ++slot)
                if (e.recordStrings[k] >> slot & 1)
                    check(zero(e.before[k], slot * 8) && zero(e.after[k], slot * 8),
                          "a record's string slot not zero");
        }
        if (e.kind == K::Native && e.hash == natives::GetGameTimer && e.resultBytes == 4 && !e.nullResult) {
            if (!timerRead) firstTimer = (uint32_t)e.result[0];
            timerRead = true;
            lastTimer = (uint32_t)e.result[0];
        }
        if (e.kind == K::Resume) ++resumes, ticks = 0;
        frames = resumes + (e.kind == K::Resume ? 0 : 1);
        last = kind;
    }
};
