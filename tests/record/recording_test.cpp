// The session recording: what the plug-in writes with RECORD_SESSION=1, read back by
// the reader, holds every call the stand-in host logged, with what the game answered.
#include "plugin_test.h"
#include "replay/recording_reader.h"
#include "standin/native_table.h"

#include "file_text.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;
using sim::CallKind;

class Recording : public PluginTest {
  protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("tolvenmire-recording-test-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        PluginTest::TearDown();
        // On Windows the unloaded plug-in's recording stays open until the process
        // ends (the library does nothing as it unloads), so the folder may stay.
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    void startIn(const char* settings, const char* save) {
        sim::StartOptions o;
        o.workDir = folder.string();
        o.withSettings = true;
        o.settings = settings;
        o.withSave = save != nullptr;
        o.save = save ? save : "";
        startWith(o);
    }
    std::filesystem::path folder;
};

// A session with every kind of input: the save file at the start, idle frames, a
// drink by the key (its key event, but not another key's; tick readings, the
// global, a save), a served
// refill at the Valentine bar (the targeting out-variable, the speech records with
// their strings, positions, a save) and an out-of-play hold, whose wait puts the
// block out. The recording, read back, lists the host's log call for call, up to
// that wait at least, with the same arguments, texts and answers.
TEST_F(Recording, ListsEveryCallTheHostLoggedWithTheGamesAnswers) {
    std::ofstream(folder / "Tolvenmire.rec") << "the session before";
    std::ofstream(folder / "Tolvenmire.prev.rec") << "the session before that";
    startIn("[SETTINGS]\nRECORD_SESSION=1\nREFILL_PRICE=3\n", "42\n");
    sim::playFrames(10);
    sim::keyEvent(80, 0, 0, 1); // not the drink key: not recorded
    sim::keyEvent(79, 0, 0, 1);
    sim::playMs(7000);
    world().analog[StopControl] = 1.0f;
    sim::playFrames(2);
    world().analog[StopControl] = 0.0f;
    const std::string firstSave = std::to_string(state().flaskLevel);

    world().interior = Valentine;
    sim::Ped ped;
    ped.handle = Bartender;
    ped.model = ValentineBartender;
    ped.x = 1.5f;
    world().peds[Bartender] = ped;
    world().target = Bartender;
    sim::playFrames(3);
    ASSERT_TRUE(state().refillPromptActive);
    world().prompts[state().refillPrompt].completed = true;
    sim::playMs(9000);
    world().missionFlag = true;
    sim::playFrames(3);
    ASSERT_EQ(sim::waitingFor(), 3000u);

    EXPECT_EQ(fileText(folder / "Tolvenmire.prev.rec"), "the session before");
    rec::Recording r;
    std::string error;
    ASSERT_TRUE(rec::readRecording((folder / "Tolvenmire.rec").string(), &r, &error)) << error;
    EXPECT_EQ(r.tornTail, "");
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(r.pluginVersion, TOLVENMIRE_VERSION);
    const uint32_t answers[6] = {79, 60, 1, 3, 100, 1};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(r.settings[k], answers[k]) << k;
    EXPECT_TRUE(r.saveFound);
    EXPECT_EQ(r.saveBytes, "42\n");

    const std::vector<sim::Call>& log = sim::calls();
    size_t at = 0;
    while (at < log.size() && log[at].kind != CallKind::Native) ++at; // the registrations
    int ticks = 0, frames = 0, keys = 0, records = 0, texts = 0, globals = 0;
    std::vector<std::string> saves;
    bool heldWaitSeen = false;
    for (size_t e = 0; e < r.events.size() && !heldWaitSeen; ++e) {
        const rec::Event& ev = r.events[e];
        if (ev.kind == rec::EventKind::Tick) {
            ++ticks;
            continue;
        }
        if (ev.kind == rec::EventKind::Resume) {
            ASSERT_EQ(r.events[e - 1].kind, rec::EventKind::Wait) << "event " << e;
            continue;
        }
        if (ev.kind == rec::EventKind::KeyRead) {
            // The entry as the key test read it, right after the test's tick reading.
            ASSERT_EQ(r.events[e - 1].kind, rec::EventKind::Tick) << "event " << e;
            EXPECT_EQ(ev.key, 79u);
            EXPECT_EQ(ev.seventh, 1);
            EXPECT_EQ(ev.fifth, 0);
            ++keys;
            continue;
        }
        if (ev.kind == rec::EventKind::Save) {
            saves.push_back(ev.save);
            continue;
        }
        ASSERT_LT(at, log.size()) << "event " << e << " " << rec::describeEvent(ev) << " beyond the log";
        const sim::Call& c = log[at++];
        const std::string where =
            "event " + std::to_string(e) + " " + rec::describeEvent(ev) + "\n  call " + sim::describe(c);
        switch (ev.kind) {
        case rec::EventKind::Native: {
            ASSERT_EQ(c.kind, CallKind::Native) << where;
            ASSERT_EQ(ev.hash, c.hash) << where;
            ASSERT_EQ(ev.argc, c.argc) << where;
            if (c.hash == natives::PlayerPedId) ++frames;
            for (int k = 0; k < c.argc; ++k) {
                if (ev.argKind[k] == rec::ArgKind::Value) {
                    EXPECT_EQ(ev.args[k], c.args[k]) << where << " slot " << k;
                }
                if (ev.argKind[k] == rec::ArgKind::Text) {
                    EXPECT_EQ(ev.text[k], c.text[k]) << where;
                    ++texts;
                }
                if (ev.argKind[k] == rec::ArgKind::Record) ++records;
            }
            if (c.hash == natives::GetPlayerInteractionTargetEntity) {
                // The out-variable: 4 bytes, which the game filled with the target.
                ASSERT_EQ(ev.argKind[1], rec::ArgKind::Record) << where;
                int32_t target = 0;
                ASSERT_EQ(ev.after[1].size(), 4u);
                memcpy(&target, ev.after[1].data(), 4);
                EXPECT_EQ(target, Bartender) << where;
            }
            if (c.hash == natives::PlayPedAmbientSpeechNative) {
                // The speech record: 64 bytes whose first two slots are given by their texts.
                ASSERT_EQ(ev.argKind[1], rec::ArgKind::Record) << where;
                EXPECT_EQ(ev.recordSize[1], 64u);
                EXPECT_EQ(ev.recordStrings[1], 3u);
                const std::string& b = ev.before[1];
                ASSERT_GE(b.size(), 64u);
                EXPECT_EQ(b.substr(0, 16), std::string(16, '\0')) << where;
                const std::string texts = b.substr(64);
                EXPECT_TRUE(texts.rfind("CHAT_PREPARE_DRINK", 0) == 0 ||
                            texts.rfind("PLAYER_SHOP_THANKS_NEUTRAL", 0) == 0)
                    << where;
            }
            EXPECT_FALSE(ev.nullResult) << where;
            // The bytes the plug-in read of the answer.
            const uint64_t mask = ev.resultBytes == 4 ? 0xFFFFFFFFu : ~0ull;
            for (int k = 0; k < ev.resultBytes / 8 + (ev.resultBytes == 4); ++k) {
                EXPECT_EQ(ev.result[k], c.result[k] & mask) << where;
            }
            break;
        }
        case rec::EventKind::Wait:
            ASSERT_EQ(c.kind, CallKind::Wait) << where;
            EXPECT_EQ(ev.waitMs, c.waitMs) << where;
            heldWaitSeen = ev.waitMs == 3000;
            break;
        case rec::EventKind::Global:
            ASSERT_EQ(c.kind, CallKind::GlobalPtr) << where;
            EXPECT_EQ(ev.globalIndex, c.globalIndex) << where;
            EXPECT_EQ(ev.globalNull, c.pointer == 0) << where;
            ++globals;
            break;
        default:
            FAIL() << where;
        }
    }
    EXPECT_TRUE(heldWaitSeen) << "the recording ends before the hold";
    // One tick reading per frame (the drink key's test), the drink key's event alone,
    // both saves.
    EXPECT_EQ(ticks, frames);
    EXPECT_EQ(keys, 1);
    EXPECT_GT(records, 2);
    EXPECT_GT(texts, 2);
    EXPECT_GT(globals, 50);
    EXPECT_EQ(saves, (std::vector<std::string>{firstSave, "99"}));
    // The last global written: the value the game holds.
    for (size_t e = r.events.size(); e-- > 0;)
        if (r.events[e].kind == rec::EventKind::Global) {
            EXPECT_EQ(r.events[e].globalValue, world().intensityGlobal);
            break;
        }
}

// Recordings that are not whole: each gets a message naming the file and the block
// (or the file's head), none crashes or hangs. A recording cut short, or whose last
// block is bad, reads up to its last whole block and says the tail is torn; a bad
// block with whole blocks behind it, and a file that is no recording, is an error.
TEST_F(Recording, ABadRecordingIsRejectedOrEndsWithItsLastWholeBlock) {
    startIn("[SETTINGS]\nRECORD_SESSION=1\n", "7");
    sim::playFrames(5);
    sim::keyEvent(79, 0, 0, 1);
    sim::playMs(5000);
    world().missionFlag = true;
    sim::playFrames(3);
    const std::string good = *fileText(folder / "Tolvenmire.rec");
    sim::stop();
    const std::string name = "game/Tolvenmire.rec";
    rec::Recording whole;
    std::string error;
    ASSERT_TRUE(rec::parseRecording((const uint8_t*)good.data(), good.size(), name, &whole, &error)) << error;
    ASSERT_GE(whole.blocks, 4) << "a recording of several blocks";
    // Where each block begins (its 8-byte head) and ends.
    std::vector<size_t> starts;
    for (size_t at = 12; at < good.size();) {
        starts.push_back(at);
        uint32_t length;
        memcpy(&length, good.data() + at, 4);
        at += 8 + length;
    }
    ASSERT_EQ((int)starts.size(), whole.blocks);
    auto blockAt = [&](size_t byte) {
        int b = 0;
        while (b + 1 < (int)starts.size() && starts[b + 1] <= byte) ++b;
        return b;
    };
    auto parse = [&](const std::string& bytes, rec::Recording* r, std::string* e) {
        return rec::parseRecording((const uint8_t*)bytes.data(), bytes.size(), name, r, e);
    };
    auto names = [&](const std::string& message, const std::string& what) {
        return message.rfind(name + ": ", 0) == 0 && message.find(what) != std::string::npos;
    };

    // Cut at every byte.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        rec::Recording r;
        error.clear();
        const bool ok = parse(good.substr(0, cut), &r, &error);
        const int block = cut < 12 ? -1 : blockAt(cut);
        const bool atBoundary = std::find(starts.begin(), starts.end(), cut) != starts.end();
        if (cut < 12 || block == 0) {
            // No whole block past the head: not a recording.
            EXPECT_FALSE(ok) << cut;
            EXPECT_TRUE(names(error, cut == 0   ? "empty"
                                     : cut < 12 ? "head"
                                                : "block 0"))
                << cut << ": " << error;
            continue;
        }
        ASSERT_TRUE(ok) << cut << ": " << error;
        EXPECT_EQ(r.blocks, block) << cut;
        if (atBoundary) {
            EXPECT_EQ(r.tornTail, "") << cut;
        } else {
            EXPECT_TRUE(names(r.tornTail, "block " + std::to_string(block) + " is cut short"))
                << cut << ": " << r.tornTail;
        }
        // The events read are those of the whole recording's first blocks.
        ASSERT_LE(r.events.size(), whole.events.size());
        for (size_t e = 0; e < r.events.size(); ++e)
            ASSERT_EQ(rec::describeEvent(r.events[e]), rec::describeEvent(whole.events[e]))
                << cut << " " << e;
    }

    // A bit flipped in the middle of each block's payload.
    for (int b = 0; b < whole.blocks; ++b) {
        const size_t end = b + 1 < whole.blocks ? starts[b + 1] : good.size();
        std::string bad = good;
        bad[starts[b] + 8 + (end - starts[b] - 8) / 2] ^= 0x10;
        rec::Recording r;
        error.clear();
        const bool ok = parse(bad, &r, &error);
        const std::string what = "block " + std::to_string(b) + ": its checksum fails";
        if (b > 0 && b + 1 == whole.blocks) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(r.blocks, b);
            EXPECT_TRUE(names(r.tornTail, what)) << r.tornTail;
        } else {
            EXPECT_FALSE(ok) << b;
            EXPECT_TRUE(names(error, what)) << error;
        }
    }

    // Files that are no recording, one of a newer format, and one whose key event is
    // not its format's (this one's key table entry in a file of format 1, whose header
    // block has no settings' texts).
    std::string magic = good, newer = good, older;
    magic[3] = 'X';
    newer[8] = 4;
    {
        uint32_t length;
        memcpy(&length, good.data() + 12, 4);
        // The version's text (a length below 128 and the bytes), then the six answers.
        const std::string header = good.substr(20, 1 + (size_t)(unsigned char)good[20] + 6 * 4);
        uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char b : header) {
            crc ^= b;
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        const uint32_t head[2] = {(uint32_t)header.size(), crc ^ 0xFFFFFFFFu};
        older = good.substr(0, 12) + std::string((const char*)head, 8) + header + good.substr(20 + length);
        older[8] = 1;
    }
    const std::string empty, folderPath = (folder / "a-folder").string(),
                             huge = (folder / "huge.rec").string();
    std::filesystem::create_directories(folderPath);
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, 1ull << 30); // sparse: nothing is written
    struct Case {
        std::string bytes, path, what;
    } cases[] = {
        {magic, "", "not a recording"},
        {newer, "", "format version 4"},
        {older, "", "a key event of another format version"},
        {empty, "", "empty"},
        {"", folderPath, "a folder"},
        {"", huge, "1073741824 bytes"},
        {"", (folder / "missing.rec").string(), "cannot be opened"},
    };
    for (const Case& c : cases) {
        rec::Recording r;
        error.clear();
        if (c.path.empty()) {
            EXPECT_FALSE(parse(c.bytes, &r, &error)) << c.what;
            EXPECT_TRUE(names(error, c.what)) << error;
        } else {
            EXPECT_FALSE(rec::readRecording(c.path, &r, &error)) << c.what;
            EXPECT_TRUE(error.rfind(c.path + ": ", 0) == 0 && error.find(c.what) != std::string::npos)
                << error;
        }
    }
}

// A recording that cannot go on ends, and the plug-in plays on as if it had never
// recorded: past the size cap, with the end mark (a save file of 65 MiB of blanks,
// whose bytes the script reads at its start, takes it there), and at a write that
// fails (on Linux, a limit on the size of files), without one. Either way the
// drink that follows plays to its end and its save lands, and the file does not
// grow again.
// The earlier recording becomes the previous one only when the previous one can be
// replaced; when it cannot (read-only, or held open by another program with no
// sharing), both recordings stay as they are, this session is not recorded, and
// the plug-in plays on.
TEST_F(Recording, AFailedRotationKeepsBothRecordings) {
    const fs::path current = folder / "Tolvenmire.rec", previous = folder / "Tolvenmire.prev.rec";
    // Windows' read-only attribute; on Linux no write permission stands for it.
    auto setReadOnly = [&](bool on) {
#ifdef _WIN32
        SetFileAttributesA(previous.string().c_str(), on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
        std::error_code ec;
        fs::permissions(previous, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        on ? fs::perm_options::remove : fs::perm_options::add, ec);
#endif
    };
    const char* const cases[] = {"a read-only previous recording",
#ifdef _WIN32
                                 "a previous recording held open with no sharing"
#endif
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        std::error_code ec;
        fs::remove(current, ec);
        setReadOnly(false);
        fs::remove(previous, ec);
        std::ofstream(current, std::ios::binary) << "the session before";
        std::ofstream(previous, std::ios::binary) << "the session before that";
        const bool readOnly = c == cases[0];
#ifdef _WIN32
        HANDLE held = INVALID_HANDLE_VALUE;
        if (!readOnly)
            held = CreateFileA(previous.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_TRUE(readOnly || held != INVALID_HANDLE_VALUE);
#endif
        if (readOnly) setReadOnly(true);
        startIn("[SETTINGS]\nRECORD_SESSION=1\n", "42");
        sim::playFrames(5);
        sim::keyEvent(79, 0, 0, 1);
        sim::playFrames(5);
        EXPECT_TRUE(state().drinking);
        sim::stop();
#ifdef _WIN32
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
#endif
        setReadOnly(false);
        EXPECT_EQ(fileText(current), "the session before");
        EXPECT_EQ(fileText(previous), "the session before that");
        EXPECT_TRUE(sim::violations().empty());
    }
}

TEST_F(Recording, ARecordingThatCannotGoOnEndsAndThePluginPlaysOn) {
    struct Case {
        const char* name;
        bool capped;
    } cases[] = {{"the size cap", true},
#ifndef _WIN32
                 {"a failed write", false}
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = folder / "Tolvenmire.rec";
        std::error_code ec;
        fs::remove(file, ec);
        if (c.capped) {
            std::ofstream save(folder / "Tolvenmire.dat", std::ios::binary);
            const std::string blanks(1 << 20, ' ');
            for (int k = 0; k < 65; ++k) save << blanks;
            save << "42";
        }
        startIn("[SETTINGS]\nRECORD_SESSION=1\n", c.capped ? nullptr : "42");
#ifndef _WIN32
        struct rlimit before;
        getrlimit(RLIMIT_FSIZE, &before);
        void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
        if (!c.capped) {
            sim::playFrames(1); // the header goes out
            struct rlimit small = before;
            small.rlim_cur = fs::file_size(file) + 100;
            setrlimit(RLIMIT_FSIZE, &small);
        }
#endif
        sim::playMs(3000);
        const uintmax_t ended = fs::file_size(file);
        const size_t from = sim::calls().size();
        sim::keyEvent(79, 0, 0, 1);
        sim::playMs(7000);
        world().analog[StopControl] = 1.0f;
        sim::playFrames(2);
        world().analog[StopControl] = 0.0f;
        sim::playMs(3000);
#ifndef _WIN32
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, oldHandler);
#endif
        EXPECT_LT(state().flaskLevel, 42);
        EXPECT_EQ(fileText(folder / "Tolvenmire.dat"), std::to_string(state().flaskLevel));
        EXPECT_GT(sim::calls().size() - from, 1000u);
        EXPECT_EQ(fs::file_size(file), ended) << "the recording went on";

        rec::Recording r;
        std::string error;
        ASSERT_TRUE(rec::readRecording(file.string(), &r, &error)) << error;
        EXPECT_EQ(r.ended, c.capped);
        if (c.capped) {
            EXPECT_EQ(r.tornTail, "");
            EXPECT_LE(ended, (uintmax_t)64 << 20);
            EXPECT_GT(ended, (uintmax_t)63 << 20);
            EXPECT_TRUE(r.events.empty()) << "the cap came while the save file was read";
        } else {
            // The write that failed may have put out part of its block.
            EXPECT_TRUE(r.tornTail.empty() || r.tornTail.find("block 1 is cut short") != std::string::npos)
                << r.tornTail;
            EXPECT_LT(ended, 4096u);
        }
        sim::stop();
    }
}

} // namespace
