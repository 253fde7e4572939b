// tolvenmire-sim --replay as a command: a recording of this build replayed with a
// plug-in built with one call changed stops at that call and names it; a recording
// torn at its end is replayed up to its last whole block and then named, a broken
// one refused before it is replayed; a long one says how long it is and shows its
// progress.
#include "player/game_folder.h"
#include "player/recorded_session.h"
#include "recording_encoder.h"
#include "replay/recording_reader.h"
#include "native_text.h"
#include "standin/native_table.h"
#include "sim_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

Outcome run(const std::string& args, const std::string& environment = "") {
    return runSim(args, environment);
}

class ReplayCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tolvenmire-replay-test-" + std::to_string(getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    // The scenario recorded by this build's plug-in.
    std::string record(const std::string& scenario) {
        const std::string path = (folder / (scenario + ".rec")).string();
        const Outcome r = run(std::string(SCENARIOS_DIR) + "/" + scenario + ".txt --record " + path +
                              " --no-pictures --quiet");
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }
    fs::path folder;
};

// The frame of the first event `wanted` picks, counted as the replay counts them.
int frameOf(const rec::Recording& r, const std::function<bool(const rec::Event&)>& wanted, size_t* index) {
    int frame = 1;
    for (size_t i = 0; i < r.events.size(); ++i) {
        if (wanted(r.events[i])) {
            *index = i;
            return frame;
        }
        if (r.events[i].kind == rec::EventKind::Resume) ++frame;
    }
    return -1;
}

TEST_F(ReplayCommand, APluginWithOneCallChangedStopsThereAndNamesBothCalls) {
    const std::string path = record("refill");
    rec::Recording r;
    std::string error;
    ASSERT_TRUE(rec::readRecording(path, &r, &error)) << error;
    size_t at = 0;
    const int frame = frameOf(
        r,
        [](const rec::Event& e) {
            return e.kind == rec::EventKind::Native && e.hash == natives::MoneyDecrementCashBalance;
        },
        &at);
    ASSERT_GT(frame, 0);
    const int32_t charged = (int32_t)r.events[at].args[0];

    // The build that recorded it replays it to the end.
    Outcome same = run("--replay " + path + " --no-pictures --quiet");
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_NE(same.out.find("no difference"), std::string::npos) << same.out;

    const Outcome changed = run("--replay " + path + " --plugin " + CHANGED_PLUGIN + " --no-pictures");
    EXPECT_EQ(changed.status, 1) << changed.out << changed.err;
    const std::string f = "frame " + std::to_string(frame) + "  ";
    EXPECT_NE(changed.out.find("departs from the recording at frame " + std::to_string(frame) + ","),
              std::string::npos)
        << changed.out;
    EXPECT_NE(changed.out.find("  recorded: " + f + hashText(natives::MoneyDecrementCashBalance) +
                               " MONEY::_MONEY_DECREMENT_CASH_BALANCE(" + std::to_string(charged) + ")\n"),
              std::string::npos)
        << changed.out;
    EXPECT_NE(changed.out.find("  made:     " + f + hashText(natives::MoneyDecrementCashBalance) +
                               " MONEY::_MONEY_DECREMENT_CASH_BALANCE(" + std::to_string(charged + 100) +
                               ")\n"),
              std::string::npos)
        << changed.out;
    // And what the native is to the plug-in.
    EXPECT_NE(changed.out.find(")\n  MONEY::_MONEY_DECREMENT_CASH_BALANCE: the refill price, in cents\n"),
              std::string::npos)
        << changed.out;
    // The calls before it are told, the last of them the one just before the charge.
    EXPECT_NE(changed.out.find("the calls before it"), std::string::npos);
    EXPECT_NE(
        changed.err.find(path + ": the plug-in departs from the recording at frame " + std::to_string(frame)),
        std::string::npos)
        << changed.err;
}

// A recording torn at its end (the game killed while writing it): every whole block
// is replayed with no difference, then the torn block is named, with exit status 2.
// One broken in the middle is bad: refused before the plug-in runs, nothing replayed.
TEST_F(ReplayCommand, ATornRecordingIsReplayedUpToItsLastWholeBlockABrokenOneNotAtAll) {
    const struct {
        const char* what;
        bool torn;
        std::function<void(const std::string& path)> breakIt;
    } cases[] = {
        {"cut inside its last block", true,
         [](const std::string& path) { fs::resize_file(path, fs::file_size(path) - 7); }},
        {"a bit flipped in a middle block", false,
         [](const std::string& path) {
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             const std::streamoff at = (std::streamoff)(fs::file_size(path) / 2);
             f.seekg(at);
             char c = 0;
             f.get(c);
             f.seekp(at);
             f.put((char)(c ^ 0x10));
         }},
    };
    const std::string whole = record("drink-by-key");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (folder / "broken.rec").string();
        fs::copy_file(whole, path, fs::copy_options::overwrite_existing);
        c.breakIt(path);
        // What the reader makes of it, event by event: the events before the problem.
        rec::Recording head;
        std::string error;
        size_t events = 0;
        const bool ok = rec::readRecordingEvents(
            path, &head,
            [&](const rec::Event&) {
                ++events;
                return true;
            },
            &error);
        ASSERT_EQ(ok, c.torn);
        const std::string problem = ok ? head.tornTail : error;
        ASSERT_FALSE(problem.empty());
        ASSERT_GT(events, 0u);

        const Outcome r = run("--replay " + path + " --no-pictures");
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_EQ(r.err, problem + "\n");
        EXPECT_EQ(r.out.find("departs"), std::string::npos) << r.out;
        if (c.torn)
            EXPECT_NE(r.out.find("replayed to the recording's last whole block: " + std::to_string(events) +
                                 " events, no difference"),
                      std::string::npos)
                << r.out;
        else
            EXPECT_EQ(r.out, "");
        // The dump says the same, after the whole blocks' events for a torn one.
        const Outcome dump = run("--dump " + path);
        EXPECT_EQ(dump.status, 2);
        EXPECT_EQ(dump.err, problem + "\n");
        EXPECT_EQ(dump.out.find("# the recording ends with a torn block") != std::string::npos, c.torn);
    }
}

// A long recording: an idle session's first frames, then its last frame repeated by
// runs for thousands of frames. Its length is told before the first frame, counted
// as the replay counts frames (--max-frames at its length replays it, one less
// refuses it), and the replay shows its progress, of that many frames.
TEST_F(ReplayCommand, ALongRecordingSaysHowLongItIsAndShowsItsProgress) {
    rec::Recording r;
    std::string error;
    ASSERT_TRUE(rec::readRecording(record("refill"), &r, &error)) << error;
    // The first ten frames, each event in full: a repeat then repeats the tenth.
    std::vector<rec::Event> first;
    int frames = 1;
    size_t tenth = 0;
    for (const rec::Event& e : r.events) {
        if (frames > 10) break;
        first.push_back(e);
        if (e.kind == rec::EventKind::Resume && ++frames == 10) tenth = first.size();
    }
    const size_t frameEvents = first.size() - tenth;
    r.ended = false;
    std::string bytes = enc::encode(r, first);
    // Long enough for the progress line to be drawn several times.
    const int repeats = 15000;
    for (int k = 0; k < repeats; k += 1000) bytes += enc::block(enc::same(frameEvents * 1000));
    const std::string path = (folder / "long.rec").string();
    std::ofstream(path, std::ios::binary) << bytes;
    const int length = 10 + repeats;
    const std::string counted = std::to_string(length) + " frames";

    // Progress is shown on a terminal only, after two seconds; forced here, and then
    // shown from the start. It is cleared before each line of the timeline, and at
    // the end.
    const Outcome replayed = run("--replay " + path + " --no-pictures --max-frames " + std::to_string(length),
                                 "TOLVENMIRE_PROGRESS=1 ");
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out.find("\n  " + counted + ", "), replayed.out.find('\n')) << replayed.out;
    EXPECT_NE(replayed.out.find("replayed to the end of the recording"), std::string::npos);
    EXPECT_NE(replayed.err.find("\rreplaying " + path + ": frame "), std::string::npos) << replayed.err;
    EXPECT_NE(replayed.err.find(" of 15,010 ("), std::string::npos) << replayed.err;
    EXPECT_EQ(replayed.err.substr(replayed.err.size() - 4), "\r\x1b[K");

    const Outcome refused =
        run("--replay " + path + " --no-pictures --max-frames " + std::to_string(length - 1));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(counted), std::string::npos) << refused.err;
}

// A replay stopped by its frame limit before the recording's end gives no verdict:
// neither a difference nor the recording's end.
TEST_F(ReplayCommand, AReplayStoppedAtItsFrameLimitGivesNoVerdict) {
    rec::Recording r;
    std::string error;
    ASSERT_TRUE(rec::readRecording(record("refill"), &r, &error)) << error;
    player::PlayOptions options;
    player::ReplayOutcome outcome;
    ASSERT_TRUE(player::replay({{"refill.rec", &r, nullptr, 0}}, options, &outcome, 50));
    EXPECT_TRUE(outcome.cutOff);
    EXPECT_FALSE(outcome.status.diverged);
    EXPECT_FALSE(outcome.status.exhausted);
    EXPECT_EQ(outcome.session.frames, 51);
}

// The game's folder removed at once, as a second Ctrl-C removes it before the
// command ends: with the files the plug-in and the host leave there.
TEST(GameFolderNow, ASecondInterruptLeavesNoFolderBehind) {
    player::GameFolder folder;
    std::string error;
    ASSERT_TRUE(folder.make(&error)) << error;
    for (const char* name : {"Tolvenmire.ini", "Tolvenmire.dat", "Tolvenmire.dat.tmp"})
        std::ofstream(fs::path(folder.path()) / name) << "1";
    player::removeGameFolderNow();
    EXPECT_FALSE(fs::exists(folder.path()));
}

} // namespace
