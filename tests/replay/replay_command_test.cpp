// tolvenmire-sim --replay as a command: a recording of this build replayed with a
// plug-in built with one call changed stops at that call and names it, and a
// recording torn at its end is replayed up to its last whole block and then named.
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

Outcome run(const std::string& args) { return runSim(args); }

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

// A recording torn at its end, or broken in the middle: every whole block before
// the problem is replayed with no difference, then the problem is told as the reader
// tells it, with exit status 2.
TEST_F(ReplayCommand, ABrokenRecordingIsReplayedUpToItsLastWholeBlockThenNamed) {
    const struct {
        const char* what;
        std::function<void(const std::string& path)> breakIt;
    } cases[] = {
        {"cut inside its last block",
         [](const std::string& path) { fs::resize_file(path, fs::file_size(path) - 7); }},
        {"a bit flipped in a middle block",
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
        const std::string problem = ok ? head.tornTail : error;
        ASSERT_FALSE(problem.empty());
        ASSERT_GT(events, 0u);

        const Outcome r = run("--replay " + path + " --no-pictures");
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_EQ(r.err, problem + "\n");
        EXPECT_NE(r.out.find("replayed to the recording's last whole block: " + std::to_string(events) +
                             " events, no difference"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("departs"), std::string::npos) << r.out;
    }
}

} // namespace
