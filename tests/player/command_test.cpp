// The command itself: what it prints and the exit status it ends with.
#include "scratch_folder.h"
#include "native_text.h"
#include "sim_command.h"

#include <gtest/gtest.h>

#include <expat.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

Outcome run(const std::string& args) { return runSim(args); }

class Command : public ScratchFolder {};

TEST_F(Command, ABadScenarioNamesFileAndLineAndExitsWithTwo) {
    const std::string bad = write("bad.txt", "# a typo\n0:01 press drink-key\n0:02 drnk\n0:01 press stop\n");
    Outcome r = run("--check " + bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "nothing is played";
    EXPECT_EQ(r.err,
              bad + ":3: unknown event \"drnk\"\n" + bad +
                  ":4: time 0:01.0 is earlier than the line before it (0:02.0 on line 3); times must not go "
                  "backwards\n");

    const std::string number = write("number.txt", "flask lots\n0:01 end\n");
    r = run(number);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, number + ":1: bad number \"lots\" for the flask level (a whole number; 99 is full)\n");
}

TEST_F(Command, AMissingScenarioOrSettingsFileExitsWithTwo) {
    const std::string missing = (folder / "missing.txt").string();
    Outcome r = run(missing);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, missing + ": cannot open the scenario: No such file or directory\n");

    const std::string s = write("s.txt", "settings-file nowhere.ini\n0:01 end\n");
    r = run(s);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, s + ":1: cannot read settings file \"nowhere.ini\": No such file or directory\n");
}

// --settings: each file of tests/player/settings/ explained in the words of the .txt
// beside it (the player's Tolvenmire-check.exe must print the same under Wine:
// tests/windows/play_package.sh), with exit status 0 exactly when every line means
// what it says. After a change of the wording, make them again with
//   cd tests/player/settings && for f in *.ini; do
//     ../../../build/debug/tolvenmire-sim --settings "$f" >"${f%.ini}.txt"; done
TEST_F(Command, SettingsExplainsAFileAsThePluginReadsIt) {
    const std::filesystem::path dir = SETTINGS_FILES_DIR;
    // Each named as a player names the file beside them.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".ini") continue;
        ++files;
        const Outcome r = run("--settings " + e.path().filename().string());
        std::ifstream in(std::filesystem::path(e.path()).replace_extension(".txt"), std::ios::binary);
        const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(r.out, expected) << e.path();
        const bool clean = expected.find("\nEvery line means what it says.\n") != std::string::npos;
        EXPECT_EQ(r.status, clean ? 0 : 1) << e.path();
        EXPECT_EQ(r.err, "") << e.path();
    }
    EXPECT_GE(files, 10);
    std::filesystem::current_path(here);

    // The player's file as shipped means what it says; no file at all is told.
    Outcome r = run("--settings " + std::string(SHIPPED_SETTINGS));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\nEvery line means what it says.\n"), std::string::npos) << r.out;
    const std::string missing = (folder / "Tolvenmire.ini").string();
    r = run("--settings " + missing);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(missing + ", as the plug-in reads it:\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("no such file, so the plug-in takes every default."), std::string::npos) << r.out;
    // Not with a scenario.
    r = run("--settings " + missing + " " + write("s.txt", "0:01 end\n"));
    EXPECT_EQ(r.status, 2);
}

TEST_F(Command, CheckPrintsOnlyFailuresAndExitsWithOneOnThem) {
    const std::string good = write("good.txt", "0:01 press drink-key\n0:02 expect drinking on\n0:03 end\n");
    Outcome r = run("--check " + good);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(folder / "out")) << "no pictures unless --out is given";

    const std::string bad = write("fails.txt", "0:01 press drink-key\n0:02 expect drinking off\n0:03 end\n");
    r = run("--check " + bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, bad + ":2: at 0:02.0: expected drinking off, got on\n");
}

TEST_F(Command, PrintsATimelineASummaryAndWhereThePicturesAre) {
    const std::string s = write("short.txt", "0:01 press drink-key\n0:09 press stop\n0:10 end\n");
    const std::string out = (folder / "pictures").string();
    Outcome r = run("--out " + out + " " + s);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("> press drink-key — O (79)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("drink     drink stopped after 8.0 s (a stop control)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Played 10.0 s of game time (304 frames)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  chart: " + out + "/short-chart.svg"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(folder / "pictures" / "short-chart.svg"));
    EXPECT_TRUE(std::filesystem::exists(folder / "pictures" / "short-hud.svg"));

    r = run("--quiet --no-pictures " + s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("> press"), std::string::npos) << "the summary only";
    EXPECT_EQ(r.out.rfind("Played 10.0 s", 0), 0u) << r.out;

    r = run("--trace --no-pictures " + s);
    EXPECT_NE(r.out.find("frame 31  " + hashText(natives::TaskStartScenarioInPlaceHash) +
                         " TASK::TASK_START_SCENARIO_IN_PLACE_HASH(1001, WORLD_HUMAN_DRINK_FLASK, -1, 1, "),
              std::string::npos)
        << "the trace decodes each native";
}

// A scenario's own name is any bytes: it reaches the terminal escaped, so that it
// can hide no failure and overwrite no line.
TEST_F(Command, TheScenariosNameCannotForgeTheOutput) {
    const std::string name = "ok\x1b[8m\r\xE2\x80\xAE.txt";
    const std::string shown = (folder / "ok\\x1b[8m\\r\\u{202E}.txt").string();
    const std::string s = write(name, "0:01 expect drinking on\n0:02 end\n");
    Outcome r = run("--check '" + s + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, shown + ":1: at 0:01.0: expected drinking on, got off\n");
    r = run("--no-pictures '" + s + "'");
    EXPECT_EQ(r.out.rfind("tolvenmire-sim: " + shown + " with ", 0), 0u) << r.out;
    write(name, "0:01 drnk\n");
    r = run("'" + s + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, shown + ":1: unknown event \"drnk\"\n");
}

// --html adds a page and a line saying where it is; everything else the command
// prints is as without it. A page that cannot be written is told, with status 3.
TEST_F(Command, HtmlWritesAPageAndChangesNothingElse) {
    const std::string s = write("short.txt", "0:01 press drink-key\n0:09 press stop\n0:10 end\n");
    const std::string page = (folder / "pages" / "short.html").string();
    const Outcome plain = run("--no-pictures " + s);
    const Outcome with = run("--no-pictures --html " + page + " " + s);
    EXPECT_EQ(with.status, 0) << with.err;
    auto timeless = [](std::string out) { // the wall time of the run differs
        const size_t at = out.find(" in "), end = out.find(" s.\n", at);
        return at == std::string::npos || end == std::string::npos ? out : out.erase(at, end - at);
    };
    EXPECT_EQ(timeless(with.out), timeless(plain.out) + "  page:  " + page + " (open it in a web browser)\n");
    std::ifstream in(page);
    std::string head;
    std::getline(in, head);
    EXPECT_EQ(head, "<!DOCTYPE html>");

    const Outcome bad = run("--no-pictures --html " + folder.string() + " " + s); // a folder
    EXPECT_EQ(bad.status, 3);
    EXPECT_EQ(bad.err, "tolvenmire-sim: cannot write " + folder.string() + "\n");
    EXPECT_EQ(run("--html x.html --random --seeds 1").status, 2);
}

// Past two seconds a session shows its progress on standard error when that is a
// terminal (TOLVENMIRE_PROGRESS=1 shows it anyway, from the first frames, however fast
// the build plays), and clears it at the end.
TEST_F(Command, ALongSessionShowsItsProgress) {
    const std::string s = write("long.txt", "0:01 press drink-key\n2:00:00 end\n");
    setenv("TOLVENMIRE_PROGRESS", "1", 1);
    const Outcome shown = run("--quiet --no-pictures " + s);
    unsetenv("TOLVENMIRE_PROGRESS");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.err.find("\rplaying long.txt: frame "), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find(" of 218,182 ("), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\x1b[K") << "the line is cleared at the end";
    EXPECT_EQ(shown.out.rfind("Played 2:00:00 of game time", 0), 0u) << "standard output as ever";
}

TEST_F(Command, OptionsAreCheckedAndListed) {
    Outcome r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--trace", "--quiet", "--out", "--hud-at", "--plugin", "--check", "SCENARIO"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;

    const std::string s = write("s.txt", "0:01 end\n");
    r = run("--hud-at soon " + s);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("bad time \"soon\" for --hud-at"), std::string::npos) << r.err;
    EXPECT_EQ(run("--frobnicate " + s).status, 2);
    EXPECT_EQ(run("").status, 2) << "a scenario is required";

    r = run("--no-pictures --plugin " + (folder / "nothing.so").string() + " " + s);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("nothing.so"), std::string::npos) << r.err;
}

// A run of the command with its own folder for temporary files, a ceiling on its
// processor time (a session that never ends is killed by SIGXCPU, not waited for)
// and its peak memory read back.
struct Limited {
    Outcome outcome;
    long peakKb = 0;
    int signal = 0;          // the signal that ended it
    int folderMode = -1;     // interrupted: the session folder's permissions, as seen
    bool folderGone = false; // interrupted: no session folder left behind
};

Limited runLimited(const std::vector<std::string>& args, const std::filesystem::path& tmp, bool interrupt) {
    namespace fs = std::filesystem;
    Limited r;
    fs::create_directories(tmp);
    const fs::path outFile = tmp.parent_path() / "run.out", errFile = tmp.parent_path() / "run.err";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TMPDIR", tmp.c_str(), 1);
        const rlimit cpu{60, 60};
        setrlimit(RLIMIT_CPU, &cpu);
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{(char*)TOLVENMIRE_SIM};
        for (const std::string& a : args) argv.push_back((char*)a.c_str());
        argv.push_back(nullptr);
        execv(TOLVENMIRE_SIM, argv.data());
        _exit(127);
    }
    if (interrupt) {
        // Once the session's folder is there (and so the session under way).
        for (int i = 0; i < 1000 && r.folderMode < 0; ++i) {
            std::error_code ec;
            for (const fs::directory_entry& e : fs::directory_iterator(tmp, ec)) {
                struct stat st {};
                if (e.path().filename().string().rfind("tolvenmire-sim-", 0) == 0 &&
                    stat(e.path().c_str(), &st) == 0)
                    r.folderMode = (int)(st.st_mode & 07777);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGINT);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    r.peakKb = usage.ru_maxrss;
    auto read = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    r.outcome.out = read(outFile);
    r.outcome.err = withoutSanitizerLines(read(errFile));
    r.folderGone = fs::is_empty(tmp);
    return r;
}

bool wellFormedXml(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    XML_Parser parser = XML_ParserCreate("UTF-8");
    const bool ok = !xml.empty() && XML_Parse(parser, xml.data(), (int)xml.size(), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool MemoryMeasured = false; // a sanitizer's shadow memory and quarantine
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool MemoryMeasured = false;
#else
const bool MemoryMeasured = true;
#endif
#else
const bool MemoryMeasured = true;
#endif

// Every scenario a stranger could hand the command: it ends, within bounded time and
// memory, with a clear word naming the file and the line and exit status 2, or it
// plays as it should; nothing it holds reaches the terminal as a control byte or
// makes a picture unreadable; the session's folder is the user's alone and goes on
// Ctrl-C.
TEST_F(Command, EveryScenarioEndsWithinBoundsAndSaysWhatIsWrong) {
    namespace fs = std::filesystem;
    mkfifo((folder / "pipe.ini").c_str(), 0600);
    fs::create_directory(folder / "folder.ini");
    write("bom.ini", "\xEF\xBB\xBF[SETTINGS]\nREFILL_PRICE=12\n");
    write("spaced.ini", "[ settings ]\r\nRECORD_SESSION=0\r\nREFILL_PRICE=12\r\n");
    write("utf16.ini", std::string("\xFF\xFE[\0S\0E\0T\0T\0I\0N\0G\0S\0]\0\n\0", 24));
    std::string wraps; // 5200 x 999999999 h and 5 s: past 2^64 ms, and 5 s once wrapped
    for (int i = 0; i < 5200; ++i) wraps += "999999999h";
    wraps += "5s";
    const std::string megaWord(1000000, 'x');

    struct Input {
        const char* name;
        std::string scenario;
        std::vector<std::string> args; // before the scenario; {dir} is the test's folder
        int status;
        std::string says; // on the standard error (2) or output (1), each line after "PATH:"; "" any
        long peakMb = 64;
        bool interrupt = false;
        std::function<void(const std::string& dir)> also = nullptr; // more to check
    };
    const std::vector<Input> inputs = {
        {"last-frame-no-end",
         "0:05 press drink-key\n0:05 expect drinking off\n",
         {"--check"},
         1,
         "2: at 0:05.0: expected drinking off, got on\n"},
        {"last-frame-end",
         "0:05 press drink-key\n0:05 expect drinking off\n0:05 end\n",
         {"--check"},
         1,
         "2: at 0:05.0: expected drinking off, got on\n"},
        {"last-frame-true", "0:05 press drink-key\n0:05 expect drinking on\n", {"--check"}, 0, ""},
        {"session-too-long",
         "0:01 press drink-key\n1193:03:00 end\n",
         {"--check"},
         2,
         "2: time 1193:03:00.0 is longer than a session may last (24:00:00.0)\n"},
        {"too-many-frames",
         "fps 1000\n0:01 press drink-key\n2:00:00 end\n",
         {"--check"},
         2,
         "3: the session of 2:00:00 at 1000 fps is 7200001 frames, more than the 3000000 a session may "
         "play: make it shorter or lower fps\n"},
        // A prompt made and deleted every frame, 120,000 times: the game model's
        // memory stays flat (it grew by about 190 bytes a frame).
        {"prompt-every-frame", "fps 1000\n0:00 hold prompt-control\n2m end\n", {"--check"}, 0, "", 16},
        {"settings-zero",
         "settings-file /dev/zero\n0:01 end\n",
         {"--check"},
         2,
         "1: cannot read settings file \"/dev/zero\": it is not a regular file\n"},
        {"settings-pipe",
         "settings-file pipe.ini\n0:01 end\n",
         {"--check"},
         2,
         "1: cannot read settings file \"pipe.ini\": it is not a regular file\n"},
        {"settings-folder",
         "settings-file folder.ini\n0:01 end\n",
         {"--check"},
         2,
         "1: cannot read settings file \"folder.ini\": it is a folder\n"},
        {"pass-out-after-wraps",
         "set pass-out-after 1193:02:51.296\n0:05 end\n",
         {"--check"},
         2,
         "1: pass-out-after 1193:02:51.3 is longer than a session may last (24:00:00.0)\n"},
        {"time-past-64-bits",
         wraps + " end\n",
         {"--check"},
         2,
         "1: time \"" + wraps.substr(0, 60) +
             "...\" (52002 bytes) is longer than a session may last "
             "(24:00:00.0)\n"},
        {"nul-in-number",
         std::string("flask 9\0"
                     "9\n0:01 end\n",
                     18),
         {"--check"},
         2,
         "1: a control character (0x00) in a word: put odd bytes in quoted text\n"},
        {"nul-in-quoted-number",
         std::string("flask \"9\0"
                     "9\"\n0:01 end\n",
                     20),
         {"--check"},
         2,
         "1: bad number \"9\\x009\" for the flask level (a whole number; 99 is full)\n"},
        {"setup-twice",
         "flask 9\nflask 10\nfps 30\nfps 60\nhud-at 0:01\nhud-at 0:02\n0:05 end\n",
         {"--check"},
         2,
         "2: a second \"flask\" line (the first is on line 1)\n"
         "4: a second \"fps\" line (the first is on line 3)\n"
         "6: a second \"hud-at\" line (the first is on line 5)\n"},
        {"save-twice",
         "save \"1\"\nsave none\n0:05 end\n",
         {"--check"},
         2,
         "2: a second \"save\" line (the first is on line 1)\n"},
        {"forged-ok",
         "0:01 expect save \"\\r/x.txt:1: ok\"\n0:01 expect save \"\x1B[2K\x07\"\n0:02 end\n",
         {"--check"},
         1,
         "1: at 0:01.0: expected save \"\\r/x.txt:1: ok\", got none (no save file)\n"
         "2: at 0:01.0: expected save \"\\x1b[2K\\x07\", got none (no save file)\n"},
        {"not-utf8",
         "save \"caf\xE9 \xEF\xBF\xBE \xED\xA0\x80\"\n0:01 expect save \"\xC2\x9B\xFF\"\n0:02 end\n",
         {"--check", "--out", "{dir}/pictures"},
         1,
         "2: at 0:01.0: expected save \"\\xc2\\x9b\\xff\", got \"caf\\xe9 \xEF\xBF\xBE \\xed\\xa0\\x80\"\n",
         64,
         false,
         [](const std::string& dir) {
             EXPECT_TRUE(wellFormedXml(dir + "/pictures/not-utf8-chart.svg"));
             EXPECT_TRUE(wellFormedXml(dir + "/pictures/not-utf8-hud.svg"));
         }},
        {"out-empty", "0:01 end\n", {"--out", ""}, 2, ""},
        {"record-bom",
         "settings-file bom.ini\n0:01 press drink-key\n0:02 end\n",
         {"--check", "--record", "{dir}/bom.rec"},
         0,
         "",
         64,
         false,
         [](const std::string& dir) { EXPECT_TRUE(fs::exists(dir + "/bom.rec")); }},
        {"record-spaced-header",
         "settings-file spaced.ini\n0:02 end\n",
         {"--check", "--record", "{dir}/spaced.rec"},
         0,
         "",
         64,
         false,
         [](const std::string& dir) { EXPECT_TRUE(fs::exists(dir + "/spaced.rec")); }},
        {"record-utf16",
         "settings-file utf16.ini\n0:02 end\n",
         {"--check", "--record", "{dir}/utf16.rec"},
         0,
         "",
         64,
         false,
         [](const std::string& dir) { EXPECT_TRUE(fs::exists(dir + "/utf16.rec")); }},
        {"megabyte-word",
         "0:01 " + megaWord + "\n0:02 end\n",
         {"--check"},
         2,
         "1: unknown event \"" + megaWord.substr(0, 60) + "...\" (1000000 bytes)\n"},
        {"over-a-mebibyte", "# " + std::string(1100000, '#') + "\n0:01 end\n", {"--check"}, 2, ""},
        {"ctrl-c",
         "settings REFILL_PRICE=3\n0:01 press drink-key\n20:00:00 end\n",
         {"--check"},
         130,
         "",
         64,
         true},
    };
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.name);
        const std::string path = write(std::string(in.name) + ".txt", in.scenario);
        std::vector<std::string> args;
        for (std::string a : in.args) {
            if (a.rfind("{dir}", 0) == 0) a = folder.string() + a.substr(5);
            args.push_back(a);
        }
        args.push_back(path);
        const Limited r = runLimited(args, folder / "tmp", in.interrupt);
        EXPECT_EQ(r.signal, 0) << "ended by a signal (SIGXCPU: it never ended)";
        EXPECT_EQ(r.outcome.status, in.status) << r.outcome.err;
        if (in.status == 2) {
            EXPECT_EQ(r.outcome.out, "") << "nothing is played";
            EXPECT_FALSE(r.outcome.err.empty()) << "the command says why";
        }
        if (!in.says.empty()) {
            std::string expected; // each line with the scenario's path in front
            for (size_t at = 0, end; at < in.says.size(); at = end + 1) {
                end = in.says.find('\n', at);
                expected += path + ":" + in.says.substr(at, end + 1 - at);
            }
            EXPECT_EQ(in.status == 2 ? r.outcome.err : r.outcome.out, expected);
        }
        for (const std::string* text : {&r.outcome.out, &r.outcome.err})
            for (char c : *text)
                EXPECT_TRUE((unsigned char)c >= 0x20 || c == '\n')
                    << "a control byte " << (int)c << " in " << *text;
        if (MemoryMeasured) {
            EXPECT_LE(r.peakKb, in.peakMb * 1024) << "peak memory";
        }
        if (in.interrupt) {
            EXPECT_EQ(r.folderMode, 0700) << "the session's folder is the user's alone";
            EXPECT_EQ(r.outcome.err, "tolvenmire-sim: interrupted\n");
        }
        EXPECT_TRUE(r.folderGone) << "the session's folder is left behind";
        if (in.also) in.also(folder.string());
    }
}

} // namespace
