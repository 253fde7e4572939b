// The recordings the Windows kill tests left (save_kill_test --record --keep DIR,
// one file a kill), replayed by the Linux build, as kill_and_replay.sh runs it: each
// must read whole, or with a torn last block (a file cut inside its 12-byte head,
// killed as it began, has nothing to replay), and replay up to its last whole block
// with no difference against this build's plug-in. Recordings replay across the
// builds (WindowsPackage.*Replay*), so the check is the one the Windows replay made,
// natively: a fraction of its time under Wine.
//
//   kill_replay killed|exited DIR
#include "replay/recording_reader.h"
#include "sim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Totals {
    int files = 0, faults = 0;
    int recordings = 0, torn = 0, headless = 0;
    long long blocks = 0, events = 0;
};

bool fault(Totals& t, const fs::path& path, const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", path.filename().string().c_str(), why.c_str());
    ++t.faults;
    return false;
}

// One recording left by a kill: read, and replayed in this process against this
// build's plug-in, up to its last whole block.
bool replayLeft(Totals& t, const fs::path& path) {
    rec::Recording r;
    std::string error;
    std::error_code ec;
    if (!rec::readRecording(path.string(), &r, &error)) {
        // Killed while the file's head was being written: nothing to replay.
        if (fs::file_size(path, ec) < 12) return ++t.headless, true;
        return fault(t, path, "the recording left cannot be read: " + error);
    }
    ++t.recordings;
    t.blocks += r.blocks;
    t.events += (long long)r.events.size();
    if (!r.tornTail.empty()) ++t.torn;
    sim::StartOptions o;
    o.replay = &r;
    o.record = false;
    if (!sim::start(o, &error)) return fault(t, path, "cannot start the replay: " + error);
    for (int n = 0; n < 10000000 && !sim::replayOver(); ++n) sim::playFrames(1);
    sim::stop();
    const sim::ReplayStatus& s = sim::replayStatus();
    if (s.diverged)
        return fault(t, path,
                     "the recording departs from its replay at frame " + std::to_string(s.frame) + " (block " +
                         std::to_string(s.block) + "): recorded " + s.recorded + "; made " + s.made);
    if (s.next != r.events.size())
        return fault(t, path,
                     "the replay ended after " + std::to_string(s.next) + " of " +
                         std::to_string(r.events.size()) + " events");
    if (!sim::violations().empty()) return fault(t, path, "the replay's host saw: " + sim::violations()[0]);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "killed") != 0 && std::strcmp(argv[1], "exited") != 0)) {
        std::fprintf(stderr, "usage: %s killed|exited DIR\n", argv[0]);
        return 2;
    }
    const bool exited = std::strcmp(argv[1], "exited") == 0;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(argv[2], ec))
        if (e.path().extension() == ".rec") files.push_back(e.path());
    if (ec || files.empty()) {
        std::fprintf(stderr, "error: %s: no recordings left by the kills%s\n", argv[2],
                     ec ? (" (" + ec.message() + ")").c_str() : "");
        return 1;
    }
    std::sort(files.begin(), files.end());
    Totals t;
    for (const fs::path& f : files) {
        ++t.files;
        replayLeft(t, f);
    }
    std::printf("%s mid-recording: %d recordings replayed on Linux (%lld blocks, %lld events), %d with a torn "
                "last block, %d cut in their head\n",
                exited ? "Exited" : "Killed", t.recordings, t.blocks, t.events, t.torn, t.headless);
    std::printf("%d passed, %d failed\n", t.files - t.faults, t.faults);
    return t.faults == 0 ? 0 : 1;
}
