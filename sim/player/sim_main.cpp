// tolvenmire-sim: plays a scenario with the real plug-in in the stand-in host and
// tells what happened, as a timeline, a chart and a picture of the HUD.
#include "player/game_folder.h"
#include "player/pictures.h"
#include "stress/random_session.h"
#include "replay/recording_reader.h"
#include "replay/recording_stream.h"
#include "player/recorded_session.h"
#include "player/report.h"
#include "player/scenario.h"
#include "player/scenario_writer.h"
#include "player/play_session.h"
#include "player/session_page.h"
#include "player/settings_check.h"
#include "player/time_money_text.h"
#include "standin/progress.h"
#include "standin/printable_text.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;
using namespace player;

namespace {

// Exit statuses.
const int ExitFailed = 1;   // an expectation failed, or the host saw a protocol fault
const int ExitUsage = 2;    // a bad option or a bad scenario
const int ExitNoPlugin = 3; // the plug-in could not be started, or a picture not written

// Ctrl-C (or a SIGTERM) during a session: the session stops at the end of its
// frame and its folder goes, and the command ends as the signal would have ended
// it (128 + the signal). A second one ends it at once, its folder removed first.
volatile std::sig_atomic_t gSignal = 0;

extern "C" void onSignal(int sig) {
    if (gSignal != 0) {
        removeGameFolderNow();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    gSignal = sig;
}

void catchInterrupts(PlayOptions* options) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    options->interrupted = [] { return gSignal != 0; };
}

// After a session that stopped: the status for a signal that stopped it, else 0.
int interruptedStatus() {
    if (gSignal == 0) return 0;
    fprintf(stderr, "tolvenmire-sim: interrupted\n");
    return 128 + (int)gSignal;
}

bool writeFile(const fs::path& path, const std::string& content, std::string* error) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
    f.close();
    if (!f) {
        *error = "cannot write " + sim::printable(path.string());
        return false;
    }
    return true;
}

// A new file with `content`; false when it cannot be made, or is there already:
// what a player or a developer saved is never written over.
bool writeNewFile(const std::string& path, const std::string& content) {
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
#endif
    if (fd < 0) return false;
    size_t done = 0;
    while (done < content.size()) {
#ifdef _WIN32
        const int n = _write(fd, content.data() + done, (unsigned)(content.size() - done));
#else
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
#endif
        if (n <= 0) break;
        done += (size_t)n;
    }
#ifdef _WIN32
    const bool closed = _close(fd) == 0;
#else
    const bool closed = close(fd) == 0;
#endif
    return done == content.size() && closed;
}

void printLine(const std::string& s) {
    fwrite(s.data(), 1, s.size(), stdout);
    fputc('\n', stdout);
}

// The command line.
struct Options {
    std::string scenarioPath, pluginPath, outDir = "out", hudAtText;
    bool trace = false, quiet = false, check = false, noPictures = false;
    CLI::Option* out = nullptr; // --out, given or not
    // Randomized sessions instead of a scenario (sim/stress; docs/performance.md).
    bool random = false;
    std::string seedsText = "1";
    unsigned minutes = 3;
    std::string keysText = "between";
    // A session recording printed as text instead (docs/recordings.md).
    std::string dumpPath;
    // A recording made in the game (or with --record) replayed instead of a scenario.
    std::vector<std::string> replayPaths;
    std::string recordPath;
    // The session as one page to open in a web browser (session_page.h).
    std::string htmlPath;
    CLI::Option* html = nullptr;
    // The longest recording --replay and --dump take, in frames.
    uint64_t maxFrames = DefaultMaxFrames;
    // A settings file explained as the plug-in reads it.
    std::string settingsPath;
    // With --replay: the recording written as a scenario instead.
    std::string scenarioOut;
};

void addOptions(CLI::App& app, Options& o) {
    app.add_option("SCENARIO", o.scenarioPath, "the scenario file to play (see docs/scenarios.md)");
    app.add_option("--plugin", o.pluginPath, "the plug-in to load (default: " + sim::defaultPlugin() + ")")
        ->type_name("PATH");
    auto* traceOpt = app.add_flag("--trace", o.trace, "also print every call the plug-in makes, decoded");
    auto* quietOpt = app.add_flag("-q,--quiet", o.quiet, "print the summary only");
    auto* checkOpt =
        app.add_flag("--check", o.check,
                     "test the expectations: print only the failures; no pictures unless --out is given");
    o.out = app.add_option("--out", o.outDir, "the folder for the chart and the HUD picture (default: out)")
                ->type_name("DIR");
    app.add_option(
           "--hud-at", o.hudAtText,
           "the moment of the HUD picture, as 0:20 or 1:30.5 (default: the scenario's hud-at, else the "
           "last frame that drew sprites)")
        ->type_name("TIME");
    app.add_flag("--no-pictures", o.noPictures, "write no chart and no HUD picture");
    auto* randomOpt =
        app.add_flag("--random", o.random,
                     "play randomized sessions, every frame checked for the invariants, instead "
                     "of a scenario; a failure names the seed and the frame");
    app.add_option("--seed,--seeds", o.seedsText, "with --random: the seed, or the seeds A..B (default 1)")
        ->type_name("N|A..B");
    app.add_option("--minutes", o.minutes, "with --random: game minutes per session (default 3)")
        ->check(CLI::Range(1u, 600u));
    app.add_option("--keys", o.keysText,
                   "with --random: how key presses reach the plug-in: between (frames), inside (a native "
                   "call of the frame), bursts (of 300), before-start (and a burst before the first frame)")
        ->type_name("HOW");
    auto* replayOpt =
        app.add_option(
               "--replay", o.replayPaths,
               "replay a recording (Tolvenmire.rec) against the plug-in instead of playing a scenario; "
               "the recordings of the runs after a restart follow it (FILE FILE.2 ...)")
            ->type_name("FILE...")
            ->expected(1, -1);
    auto* recordOpt = app.add_option("--record", o.recordPath,
                                     "with a scenario: the plug-in records the session (RECORD_SESSION=1); "
                                     "its recording is kept as FILE, the runs after a restart as FILE.2 ...; "
                                     "with --random: each seed's session as FILE (FILE.SEED for several)")
                          ->type_name("FILE");
    o.html = app.add_option("--html", o.htmlPath,
                            "also write the session (a scenario's or a replay's) as one self-contained "
                            "HTML page: the chart, the timeline and every frame under a scrubber")
                 ->type_name("FILE");
    o.html->excludes(randomOpt);
    auto* toScenarioOpt =
        app.add_option(
               "--to-scenario", o.scenarioOut,
               "with --replay: write the recording as a scenario FILE (a new file) instead of telling "
               "it, and check it: played with the build, the stand-in world must answer as the game did; "
               "what it cannot is listed (exit status 3)")
            ->type_name("FILE");
    randomOpt->excludes(checkOpt);
    replayOpt->excludes(randomOpt)->excludes(checkOpt)->excludes(recordOpt);
    toScenarioOpt->needs(replayOpt)->excludes(traceOpt)->excludes(o.html);
    auto* dumpOpt =
        app.add_option("--dump", o.dumpPath,
                       "print the session recording FILE (Tolvenmire.rec) as text, one event a line, "
                       "instead of playing a scenario")
            ->type_name("FILE")
            ->excludes(randomOpt);
    dumpOpt->excludes(replayOpt)->excludes(recordOpt)->excludes(o.html);
    app.add_option("--max-frames", o.maxFrames,
                   "with --replay or --dump: the most frames a recording may hold (default 10000000, some 92 "
                   "hours at 30 frames a second); a longer one is refused (exit status 2)")
        ->type_name("N")
        ->check(CLI::Range((uint64_t)1, (uint64_t)1'000'000'000));
    auto* settingsOpt =
        app.add_option(
               "--settings", o.settingsPath,
               "explain the settings file FILE (Tolvenmire.ini) as the plug-in reads it: each setting's "
               "value and why, and every line that does not mean what it says; exit status 1 when one "
               "does not")
            ->type_name("FILE");
    for (CLI::Option* other :
         {randomOpt, replayOpt, recordOpt, dumpOpt, checkOpt, traceOpt, quietOpt, o.html})
        settingsOpt->excludes(other);
    app.set_version_flag("--version", "tolvenmire-sim " TOLVENMIRE_VERSION);
    checkOpt->excludes(quietOpt)->excludes(traceOpt);
    app.footer("Exit status: 0 all well; 1 an expectation failed (or the host saw a protocol fault), the\n"
               "replay departs from the recording, or a line of the --settings file does not mean what it\n"
               "says; 2 a bad option, scenario or recording; 3 the plug-in could not be started, or a\n"
               "picture or a recording not written; 130 (143) stopped by Ctrl-C (SIGTERM), the session's\n"
               "folder removed.\n"
               "The scenario format is described in docs/scenarios.md, recordings in docs/recordings.md.");
}

// The host's argument kinds of a native, which a recording's must match.
const char* nativeArguments(uint64_t hash) {
    const sim::NativeInfo* info = sim::findNative(hash);
    return info ? info->args : nullptr;
}

// How long the recordings are: their frames, their game time (from the game timer's
// first reading to its last, in each run), their runs.
std::string recordingLength(const std::vector<rec::Recording>& runs) {
    uint64_t frames = 0, gameMs = 0;
    bool timer = false;
    for (const rec::Recording& r : runs) {
        frames += r.frames;
        if (r.timerRead) gameMs += (uint32_t)(r.lastTimer - r.firstTimer);
        timer = timer || r.timerRead;
    }
    char b[160];
    snprintf(b, sizeof b, "%llu frame%s, %s, in %zu run%s", (unsigned long long)frames,
             frames == 1 ? "" : "s",
             timer ? (formatTime((Millis)gameMs) + " of game time").c_str() : "the game timer never read",
             runs.size(), runs.size() == 1 ? "" : "s");
    return b;
}

// Each recording read through before anything is done with it, without its events
// (rec::scanRecording): a bad one is refused at once (exit status 2), whatever its
// runs stand for, and so is one longer than --max-frames. False, having said why.
bool scanRecordings(const std::vector<std::string>& paths, uint64_t maxFrames,
                    std::vector<rec::Recording>* out) {
    out->assign(paths.size(), rec::Recording());
    uint64_t frames = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string error;
        if (!rec::scanRecording(paths[i], &(*out)[i], &error)) {
            // "FILE: block N: byte B: problem", as a bad scenario names its file and line.
            fprintf(stderr, "%s\n", sim::printable(error).c_str());
            return false;
        }
        frames += (*out)[i].frames;
    }
    if (frames > maxFrames) {
        fprintf(
            stderr, "%s: %s, more than --max-frames %llu: not read (give a larger --max-frames to take it)\n",
            sim::printable(paths[0]).c_str(), recordingLength(*out).c_str(), (unsigned long long)maxFrames);
        return false;
    }
    return true;
}

// The recording as text: its head, then one event a line, each with the frame it
// falls in (a frame ends with its resume). A file that is not a whole recording:
// its problem, naming the file and the block, and exit status 2 (a torn one after
// its whole blocks, as the replay replays them).
int dumpRecording(const std::string& path, uint64_t maxFrames) {
    std::vector<rec::Recording> scanned;
    if (!scanRecordings({path}, maxFrames, &scanned)) return ExitUsage;
    // The events are printed as they are read (a long recording does not fit in
    // memory whole), after the head, which the first block holds.
    rec::Recording r;
    std::string error;
    bool headPrinted = false;
    int frame = 0;
    auto printHead = [&] {
        if (headPrinted) return;
        headPrinted = true;
        printLine("# " + sim::printable(path) + ": format " + std::to_string(r.formatVersion) + ", plug-in " +
                  sim::printable(r.pluginVersion));
        char b[160];
        snprintf(b, sizeof b, "settings %u %u %u %u %u %u", r.settings[0], r.settings[1], r.settings[2],
                 r.settings[3], r.settings[4], r.settings[5]);
        printLine(b);
        if (r.settingTextsKept) {
            std::string texts = "settings-text";
            for (const std::string& t : r.settingTexts) texts += " \"" + sim::printable(t, true) + "\"";
            printLine(texts);
        }
        rec::Event bytes;
        bytes.kind = rec::EventKind::Save;
        bytes.save = r.saveBytes;
        printLine(r.saveFound ? "save-file " + rec::describeEvent(bytes).substr(5) : "save-file none");
    };
    const bool ok = rec::readRecordingEvents(
        path, &r,
        [&](const rec::Event& e) {
            printHead();
            char b[16];
            snprintf(b, sizeof b, "%6d  ", frame);
            printLine(b + rec::describeEvent(e, sim::findNative));
            if (e.kind == rec::EventKind::Resume) ++frame;
            return true;
        },
        &error);
    if (!ok) {
        fflush(stdout);
        fprintf(stderr, "%s\n", sim::printable(error).c_str());
        return ExitUsage;
    }
    printHead();
    printLine("# " + std::to_string(r.blocks) + " blocks");
    if (r.ended) printLine("# the end mark: the recording reached its size cap");
    fflush(stdout);
    if (!r.tornTail.empty()) {
        printLine("# the recording ends with a torn block: " + sim::printable(r.tornTail));
        fflush(stdout);
        fprintf(stderr, "%s\n", sim::printable(r.tornTail).c_str());
        return ExitUsage;
    }
    return 0;
}

int playRandom(const Options& o) {
    stress::SessionOptions r;
    uint64_t first = 0, last = 0;
    if (!stress::parseSeeds(o.seedsText, &first, &last)) {
        fprintf(stderr, "tolvenmire-sim: bad seeds \"%s\" for --seeds (a number, or A..B as in 1..500)\n",
                o.seedsText.c_str());
        return ExitUsage;
    }
    if (!stress::parseKeyDelivery(o.keysText, &r.keys)) {
        fprintf(stderr, "tolvenmire-sim: bad --keys \"%s\" (between, inside, bursts or before-start)\n",
                o.keysText.c_str());
        return ExitUsage;
    }
    r.pluginPath = o.pluginPath;
    r.recordTo = o.recordPath;
    r.gameMs = o.minutes * 60000u;
    if (o.trace) r.onAction = [](const std::string& line) { printLine("  " + line); };
    return stress::playSeeds(first, last, r, stdout) == 0 ? 0 : ExitFailed;
}

// The chart and the HUD picture into the --out folder; false (with *error) when
// one cannot be written.
bool writePictures(const Options& o, const std::string& source, const SessionResult& result,
                   std::string* error) {
    std::error_code ec;
    const fs::path out = fs::absolute(o.outDir, ec);
    if (ec) {
        *error = "cannot use the folder \"" + sim::printable(o.outDir, true) +
                 "\" for the pictures: " + ec.message();
        return false;
    }
    const std::string stem = fs::path(source).stem().string();
    const fs::path chartPath = fs::path(o.outDir) / (stem + "-chart.svg");
    const fs::path hudPath = fs::path(o.outDir) / (stem + "-hud.svg");
    fs::create_directories(out, ec);
    if (!writeFile(out / chartPath.filename(), chartSvg(result.recording), error) ||
        !writeFile(out / hudPath.filename(), hudSvg(result.recording.hud, source), error))
        return false;
    if (!o.check) {
        printLine("  chart: " + sim::printable(chartPath.string()));
        printLine("  HUD:   " + sim::printable(hudPath.string()) +
                  (result.recording.hud.taken ? " (at " + formatTime(result.recording.hud.at) + ")"
                                              : " (no frame at that moment)"));
        printLine("  (SVG pictures: open them in a web browser)");
    }
    return true;
}

// The session page, made while the session plays when --html asks for it, and the
// progress of a long session on standard error; the timeline's lines, when they go
// to the same terminal, clear the progress line first.
struct SessionOutput {
    std::unique_ptr<SessionPage> page;
    sim::Progress progress;
    uint64_t frames = 0;

    void line(const std::string& s) {
        sim::progressClear(&progress); // shown again at its next turn
        printLine(s);
    }
    // The page and the progress follow the session's calls, frames and entries;
    // the timeline and the trace are printed as before.
    void follow(PlayOptions* options, bool timeline, bool trace) {
        if (timeline) options->onEntry = [this](const Entry& e) { line(formatEntry(e)); };
        if (timeline && trace)
            options->onTrace = [this](const std::string& s) { line("            · " + s); };
        options->onFrame = [this](const FrameSnapshot& f) {
            sim::progressAt(&progress, ++frames);
            if (page) page->frame(f);
        };
        if (!page) return;
        options->onCall = [this](const sim::Call& c, int) { page->call(c); };
        options->onEntry = [this, timeline](const Entry& e) {
            if (timeline) line(formatEntry(e));
            page->entry(e);
        };
    }
    void end() { sim::progressEnd(&progress); }
};

// The page into its file; false (with *error) when it cannot be written.
bool writePage(const Options& o, SessionOutput& out, const SessionResult& result, const PageEnding& ending,
               std::string* error) {
    const fs::path path = o.htmlPath;
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    if (!writeFile(path, out.page->html(result, ending), error)) return false;
    if (!o.check) printLine("  page:  " + sim::printable(o.htmlPath) + " (open it in a web browser)");
    return true;
}

// The options a scenario and a replay share: the plug-in and the HUD picture's
// moment. False, having said why, for a bad --hud-at.
bool playOptionsFrom(const Options& o, PlayOptions* options) {
    options->pluginPath = o.pluginPath;
    if (o.hudAtText.empty()) return true;
    if (!parseTime(o.hudAtText, &options->hudAt)) {
        fprintf(stderr, "tolvenmire-sim: bad time \"%s\" for --hud-at (as in 0:20, 1:30.5 or 2500ms)\n",
                o.hudAtText.c_str());
        return false;
    }
    options->hasHudAt = true;
    return true;
}

int playScenario(const Options& o) {
    PlayOptions options;
    if (!playOptionsFrom(o, &options)) return ExitUsage;
    Scenario scenario;
    std::vector<ParseError> errors;
    if (!loadScenario(o.scenarioPath, &scenario, &errors)) {
        for (const ParseError& e : errors) fprintf(stderr, "%s\n", e.text().c_str());
        return ExitUsage;
    }
    const bool timeline = !o.quiet && !o.check;
    if (timeline)
        printLine("tolvenmire-sim: " + sim::printable(o.scenarioPath) + " with " +
                  sim::printable(o.pluginPath.empty() ? sim::defaultPlugin() : o.pluginPath));
    SessionOutput out;
    if (!o.htmlPath.empty()) out.page = std::make_unique<SessionPage>();
    const int frameMs = frameLength(scenario.fps);
    sim::progressBegin(&out.progress,
                       "playing " + sim::printable(fs::path(o.scenarioPath).filename().string()),
                       (uint64_t)((scenario.end + frameMs - 1) / frameMs));
    out.follow(&options, timeline, o.trace);
    options.recordTo = o.recordPath;
    catchInterrupts(&options);
    SessionResult result;
    const bool played = play(scenario, options, &result);
    out.end();
    if (!played) {
        if (const int status = interruptedStatus()) return status;
        fprintf(stderr, "tolvenmire-sim: %s\n", result.error.c_str());
        return ExitNoPlugin;
    }
    if (o.check) {
        for (const std::string& line : failureLines(scenario, result)) printLine(line);
    } else {
        if (timeline) printLine("");
        for (const std::string& line : summaryLines(scenario, result)) printLine(line);
    }
    std::string error;
    if (!o.noPictures && (!o.check || o.out->count() > 0) &&
        !writePictures(o, o.scenarioPath, result, &error)) {
        fprintf(stderr, "tolvenmire-sim: %s\n", error.c_str());
        return ExitNoPlugin;
    }
    if (out.page) {
        PageEnding ending;
        ending.summary = summaryLines(scenario, result);
        if (!writePage(o, out, result, ending, &error)) {
            fprintf(stderr, "tolvenmire-sim: %s\n", error.c_str());
            return ExitNoPlugin;
        }
    }
    if (!o.recordPath.empty()) {
        if (!o.check)
            for (const std::string& path : result.recordings)
                printLine("  recording: " + sim::printable(path));
        if (!result.recordError.empty()) {
            fprintf(stderr, "tolvenmire-sim: %s\n", result.recordError.c_str());
            return ExitNoPlugin;
        }
    }
    fflush(stdout);
    return result.failures() > 0 ? ExitFailed : 0;
}

// What ended the recordings short, once the replay is over: a torn tail (the game
// was killed while writing), or a problem that the reading as the replay went found
// and the reading before did not (the file changed meanwhile); "" for none, or when
// the replay departed or was cut off first.
struct Shortened {
    std::string problem;
    bool torn = false;
};
Shortened shortenedBy(const std::vector<std::unique_ptr<RecordingStream>>& streams,
                      const ReplayOutcome& outcome) {
    Shortened s;
    for (size_t i = 0; !outcome.status.diverged && !outcome.cutOff && i < streams.size(); ++i) {
        streams[i]->close();
        if (streams[i]->failed()) return {streams[i]->error(), false};
        if (!streams[i]->head().tornTail.empty()) return {streams[i]->head().tornTail, true};
    }
    return s;
}

// Replays the recordings (a run each) and tells what the plug-in did; at the first
// difference, where and what.
int playReplay(const Options& o) {
    // Read through first: a bad recording is told before the plug-in runs, and the
    // length is known.
    std::vector<rec::Recording> scanned;
    if (!scanRecordings(o.replayPaths, o.maxFrames, &scanned)) return ExitUsage;
    // Read again as the replay goes, so that a recording of any length replays.
    std::vector<std::unique_ptr<RecordingStream>> streams;
    std::vector<ReplayRun> runs;
    for (size_t i = 0; i < o.replayPaths.size(); ++i) {
        const std::string& path = o.replayPaths[i];
        std::string error;
        RecordingStream& stream = *streams.emplace_back(std::make_unique<RecordingStream>());
        if (!stream.open(path, &error)) {
            fprintf(stderr, "%s\n", sim::printable(error).c_str());
            return ExitUsage;
        }
        runs.push_back(
            {path, &stream.head(), [&stream](rec::Event* e) { return stream.next(e); }, scanned[i].frames});
    }
    PlayOptions options;
    if (!playOptionsFrom(o, &options)) return ExitUsage;
    const bool timeline = !o.quiet;
    if (timeline) {
        printLine("tolvenmire-sim: replaying " + sim::printable(o.replayPaths[0]) + " (Tolvenmire " +
                  sim::printable(streams[0]->head().pluginVersion) + ") with " +
                  (o.pluginPath.empty() ? sim::defaultPlugin() : o.pluginPath));
        printLine("  " + recordingLength(scanned));
        options.onEntry = [](const Entry& e) { printLine(formatEntry(e)); };
        if (o.trace) options.onTrace = [](const std::string& s) { printLine("            · " + s); };
    }
    SessionOutput out;
    if (!o.htmlPath.empty()) {
        out.page = std::make_unique<SessionPage>();
        out.follow(&options, timeline, o.trace);
    }
    catchInterrupts(&options);
    ReplayOutcome outcome;
    const bool replayed = replay(runs, options, &outcome, o.maxFrames);
    out.end();
    if (!replayed) {
        if (const int status = interruptedStatus()) return status;
        fprintf(stderr, "tolvenmire-sim: %s\n", outcome.session.error.c_str());
        return ExitNoPlugin;
    }
    const sim::ReplayStatus& status = outcome.status;
    const Shortened shortened = shortenedBy(streams, outcome);
    Scenario none;
    none.path = o.replayPaths[0];
    if (timeline) printLine("");
    for (const std::string& line : summaryLines(none, outcome.session)) printLine(line);
    char b[200];
    if (status.diverged) {
        for (const std::string& line : differenceLines(outcome, runs[outcome.run])) printLine(line);
    } else if (outcome.cutOff) {
        snprintf(b, sizeof b,
                 "  stopped past --max-frames %llu with the recording not at its end: no verdict",
                 (unsigned long long)o.maxFrames);
        printLine(b);
    } else {
        snprintf(b, sizeof b, "  replayed to the %s: %zu events, no difference",
                 shortened.problem.empty() ? "end of the recording"
                 : shortened.torn          ? "recording's last whole block"
                                           : "recording's first bad item",
                 outcome.events);
        printLine(b);
    }
    std::string error;
    if (!o.noPictures && !writePictures(o, o.replayPaths[0], outcome.session, &error)) {
        fprintf(stderr, "tolvenmire-sim: %s\n", error.c_str());
        return ExitNoPlugin;
    }
    if (out.page) {
        PageEnding ending;
        ending.summary = summaryLines(none, outcome.session);
        if (status.diverged) {
            ending.departs = true;
            ending.departureHostFrame = status.frame;
            ending.recorded = status.recorded;
            ending.made = status.made;
            ending.told = differenceLines(outcome, runs[outcome.run]);
        }
        if (!writePage(o, out, outcome.session, ending, &error)) {
            fprintf(stderr, "tolvenmire-sim: %s\n", error.c_str());
            return ExitNoPlugin;
        }
    }
    fflush(stdout);
    if (status.diverged) {
        fprintf(stderr, "tolvenmire-sim: %s: the plug-in departs from the recording at frame %d (block %d)\n",
                sim::printable(runs[outcome.run].path).c_str(), status.frame, status.block);
        return ExitFailed;
    }
    if (outcome.cutOff) {
        fprintf(stderr, "tolvenmire-sim: %s: longer than --max-frames %llu: no verdict\n",
                sim::printable(o.replayPaths[0]).c_str(), (unsigned long long)o.maxFrames);
        return ExitUsage;
    }
    if (!shortened.problem.empty()) {
        fprintf(stderr, "%s\n", sim::printable(shortened.problem).c_str());
        return ExitUsage;
    }
    return outcome.session.failures() > 0 ? ExitFailed : 0;
}

// The recordings written as a scenario into a new file, and checked by playing it:
// what could not be said is listed on standard error (and at the top of the file),
// with exit status 3. A bad recording gets status 2, as --replay gives it.
int writeScenarioOf(const Options& o) {
    std::vector<rec::Recording> scanned;
    if (!scanRecordings(o.replayPaths, o.maxFrames, &scanned)) return ExitUsage;
    std::error_code ec;
    if (fs::exists(o.scenarioOut, ec) || fs::is_symlink(o.scenarioOut, ec)) {
        fprintf(stderr,
                "tolvenmire-sim: %s is there already: give --to-scenario a new file (nothing is written "
                "over)\n",
                sim::printable(o.scenarioOut).c_str());
        return ExitUsage;
    }
    WriteOptions options;
    options.pluginPath = o.pluginPath;
    PlayOptions interrupts;
    catchInterrupts(&interrupts);
    options.interrupted = interrupts.interrupted;
    WrittenScenario w;
    if (!writeScenario(o.replayPaths, options, &w)) {
        if (const int status = interruptedStatus()) return status;
        fprintf(stderr, "tolvenmire-sim: %s\n", sim::printable(w.error).c_str());
        return ExitNoPlugin;
    }
    const fs::path out(o.scenarioOut);
    if (out.has_parent_path()) fs::create_directories(out.parent_path(), ec);
    if (!writeNewFile(o.scenarioOut, w.text)) {
        fprintf(stderr, "tolvenmire-sim: cannot write %s\n", sim::printable(o.scenarioOut).c_str());
        return ExitNoPlugin;
    }
    if (!o.quiet) {
        printLine("tolvenmire-sim: " + sim::printable(o.replayPaths[0]) + " written as " +
                  sim::printable(o.scenarioOut) + ": " + std::to_string(w.frames) + " frames, " +
                  formatTime(w.length) + " of game time, " + std::to_string(w.lines) + " lines, " +
                  std::to_string(w.expectations) + " expectations");
        if (w.leftOut.empty() && w.departure.empty())
            printLine("  played with " +
                      sim::printable(o.pluginPath.empty() ? sim::defaultPlugin() : o.pluginPath) +
                      ": the world answers every call as the game did, and every expectation holds");
        else
            printLine("  played with the build: " + std::to_string(w.expectations - w.failed) + " of " +
                      std::to_string(w.expectations) + " expectations hold" +
                      (w.failed ? "; the first to fail: " + w.firstFailed : std::string()));
    }
    for (const std::string& line : w.leftOut)
        fprintf(stderr, "%s: left out: %s\n", sim::printable(o.scenarioOut).c_str(),
                sim::printable(line).c_str());
    fflush(stdout);
    // A torn recording (the game stopped while it wrote) is written up to its last
    // whole block, as the replay replays it, and its tail told as the replay tells it.
    for (const rec::Recording& r : scanned)
        if (!r.tornTail.empty()) {
            fprintf(stderr, "%s\n", sim::printable(r.tornTail).c_str());
            return ExitUsage;
        }
    if (!w.departure.empty()) {
        fprintf(stderr,
                "tolvenmire-sim: the plug-in departs from the recording at %s: the scenario goes as far as "
                "that\n",
                sim::printable(w.departure).c_str());
        return ExitFailed;
    }
    return w.leftOut.empty() ? 0 : ExitNoPlugin;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app("Plays a Tolvenmire session: loads the real plug-in into the stand-in host, plays the\n"
                 "scenario frame by frame and prints a timeline of what the plug-in did. It writes a\n"
                 "chart of the levels and a picture of the heads-up display as SVG.",
                 "tolvenmire-sim");
    // Options are written --name on Windows too: CLI11 would otherwise take a path
    // that starts with '/' (as under Wine or MSYS) for a Windows-style /option.
    app.allow_windows_style_options(false);
    Options o;
    addOptions(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : ExitUsage;
    }
    if (o.out->count() > 0 && o.outDir.empty()) {
        fprintf(stderr, "tolvenmire-sim: --out needs a folder (it is \"\")\n");
        return ExitUsage;
    }
    rec::checkNativesWith(nativeArguments);
    if (!o.settingsPath.empty()) {
        if (!o.scenarioPath.empty()) {
            fprintf(stderr, "tolvenmire-sim: a scenario and --settings: give one or the other\n");
            return ExitUsage;
        }
        std::string text;
        const int status = explainSettings(o.settingsPath, o.settingsPath, &text);
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
        return status;
    }
    if (!o.dumpPath.empty()) return dumpRecording(o.dumpPath, o.maxFrames);
    if (o.random) return playRandom(o);
    if (!o.replayPaths.empty()) {
        if (!o.scenarioPath.empty()) {
            fprintf(stderr, "tolvenmire-sim: a scenario and --replay: give one or the other\n");
            return ExitUsage;
        }
        return o.scenarioOut.empty() ? playReplay(o) : writeScenarioOf(o);
    }
    if (o.scenarioPath.empty()) {
        fprintf(stderr, "tolvenmire-sim: no scenario given (a file, or --random)\n");
        return ExitUsage;
    }
    return playScenario(o);
}
