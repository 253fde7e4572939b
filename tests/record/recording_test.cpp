// The session recording: what the plug-in writes with RECORD_SESSION=1, read back by
// the reader, holds every call the stand-in host logged, with what the game answered.
#include "plugin_test.h"
#include "recording.h"

#include "file_text.h"

#include <filesystem>
#include <fstream>

namespace {

using sim::CallKind;

const uint64_t PlayerPedQuery = 0x096275889B8E0EE0;
const uint64_t Targeting = 0x3EE1F7A8C32F24E1;
const uint64_t Speak = 0x8E04FEDD28D42462;
const int32_t Bartender = 2001;
const int32_t Valentine = 21250;
const uint32_t ValentineBartender = 0xB733CF0F;
const uint32_t StopControl = 0xFDA83190;

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
        std::filesystem::remove_all(folder);
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
// drink by the key (a key event, tick readings, the global, a save), a served
// refill at the Valentine bar (the targeting out-variable, the speech records with
// their strings, positions, a save) and an out-of-play hold, whose wait puts the
// block out. The recording, read back, lists the host's log call for call, up to
// that wait at least, with the same arguments, texts and answers.
TEST_F(Recording, ListsEveryCallTheHostLoggedWithTheGamesAnswers) {
    std::ofstream(folder / "Tolvenmire.rec") << "the session before";
    std::ofstream(folder / "Tolvenmire.prev.rec") << "the session before that";
    startIn("[SETTINGS]\nRECORD_SESSION=1\nREFILL_PRICE=3\n", "42\n");
    sim::playFrames(10);
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
    world().outOfPlay = true;
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
        if (ev.kind == rec::EventKind::Key) {
            ASSERT_EQ(r.events[e - 1].kind, rec::EventKind::Resume) << "event " << e;
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
            if (c.hash == PlayerPedQuery) ++frames;
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
            if (c.hash == Targeting) {
                // The out-variable: 4 bytes, which the game filled with the target.
                ASSERT_EQ(ev.argKind[1], rec::ArgKind::Record) << where;
                int32_t target = 0;
                ASSERT_EQ(ev.after[1].size(), 4u);
                memcpy(&target, ev.after[1].data(), 4);
                EXPECT_EQ(target, Bartender) << where;
            }
            if (c.hash == Speak) {
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
    // One tick reading per frame (the drink key's test), the key once, both saves.
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

} // namespace
