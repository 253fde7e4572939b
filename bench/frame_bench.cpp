// The cost of one frame of the plug-in: TickUpdate in five steady states, and one
// keyboard event, against the flat host. Each state is set up once; before each
// frame the few fields that the frame itself moves on (a sip, a step) are put back,
// so that every measured frame does the same work.
//
//   tolvenmire_bench                      Google Benchmark, with natives per frame as
//                                         a counter
//   tolvenmire_bench --frames STATE N     plays N frames of STATE and nothing else
//                                         (for callgrind: bench/callgrind.sh)
//   tolvenmire_bench --frames STATE N --recording
//                                         the same while the session is recorded (into
//                                         a temporary folder), each frame ending with
//                                         the script loop's wait
//   tolvenmire_bench --list               the states
#include "flat_host.h"
#include "standin/native_table.h"

#include "base/keyboard_table.h"
#include "base/script_state.h"
#include "base/settings.h"
#include "flask/flask_level.h"
#include "hook/hook_table.h"
#include "host/tick_update.h"
#include "record/recorder.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const int32_t Now = 100000;
const int32_t ValentineSaloon = 21250;
const uint32_t ValentineBartender = 0xB733CF0F;

// The game as the player finds it in free roam: no prompt control pressed, deadeye
// available, outside every saloon; the settings at their defaults and the deadeye
// lock armed as the script's start arms it.
void setUpWorld() {
    flat::clearAnswers();
    flat::answer(natives::PlayerPedId, 1001);
    flat::answer(natives::GetGameTimer, (uint32_t)Now);
    flat::answer(natives::IsPedOnFoot, 1);
    flat::answer(natives::IsPlayerFreeAiming, 1);
    flat::answer(natives::GetSecondsSinceBaseYear, 5000);
    flat::answer(natives::HasStreamedTxdLoaded, 1);
    flat::answerFloat(natives::Vdist, 10.0f);
    gState = ScriptState{};
    gState.deadeyeLock = gSettings.deadeyeLockThreshold != 0;
}

struct FrameState {
    const char* name;
    const char* what;
    void (*setUp)();
    void (*beforeFrame)(); // puts back what the last frame moved on; may be null
    int natives;           // natives the frame's algorithm makes in this world
};

void idleOutside() { setUpWorld(); }

void idleInSaloonNoTarget() {
    setUpWorld();
    flat::answer(natives::GetInteriorFromEntity, (uint32_t)ValentineSaloon);
}

void idleInSaloonOutOfReach() {
    idleInSaloonNoTarget();
    flat::answer(natives::GetPlayerInteractionTargetEntity, 1);
    flat::answer(natives::GetEntityModel, ValentineBartender);
}

void drinking() {
    setUpWorld();
    gState.drinking = true;
    gState.sipStartTime = Now - 6000;
}
// A sip is due in every frame: the intake rises by one, every fourth sip takes a
// unit from the flask.
void drinkingBeforeFrame() {
    gState.intakeLevel = 30;
    gState.drunkLevel = 30;
    gState.flaskLevel = 50;
    gState.nextSipTime = 0;
    gState.nextDrunkStepTime = Now + 1000;
}

void intoxicated() { setUpWorld(); }
// An intoxication step is due in every frame, with healing rates, a sobering step
// and the pass-out watch (drunkLevel above 90): the heaviest step there is short of
// the recovery.
void intoxicatedBeforeFrame() {
    gState.intakeLevel = 96;
    gState.drunkLevel = 95;
    gState.nextDrunkStepTime = 0;
    gState.nextSoberUpClock = 0;
}

const FrameState States[] = {
    {"idle_outside", "idle frame outside the saloons", idleOutside, nullptr, 9},
    {"idle_saloon_no_target", "idle frame in a saloon, targeting nobody", idleInSaloonNoTarget, nullptr, 10},
    {"idle_saloon_out_of_reach", "idle frame in a saloon, the bartender out of reach", idleInSaloonOutOfReach,
     nullptr, 14},
    {"drinking", "drinking frame: meters, stop controls, a sip", drinking, drinkingBeforeFrame, 17},
    {"intoxicated_step", "intoxicated frame with a step", intoxicated, intoxicatedBeforeFrame, 10},
};

const FrameState* findState(const char* name) {
    for (const FrameState& s : States)
        if (std::strcmp(s.name, name) == 0) return &s;
    return nullptr;
}

void playFrame(const FrameState& s) {
    if (s.beforeFrame) s.beforeFrame();
    TickUpdate();
}

void BM_Frame(benchmark::State& bs, const FrameState* s) {
    s->setUp();
    playFrame(*s); // settles the state (a first step, a first withdrawal)
    flat::resetCounts();
    for (auto _ : bs) playFrame(*s);
    const double frames = (double)bs.iterations();
    bs.counters["natives"] = (double)flat::counts().natives / frames;
    bs.counters["globals"] = (double)flat::counts().globals / frames;
    if (flat::counts().natives != (uint64_t)s->natives * bs.iterations())
        bs.SkipWithError("the frame made another number of natives than its algorithm asks for");
}

void BM_KeyboardEvent(benchmark::State& bs) {
    for (auto _ : bs) onKeyboardEvent(79, 1, 0x18, 0, 0, 0, 1);
}

// The save that ends every drink and every refill: the number written aside, made
// durable, and swapped in. Its cost is the disk's: it runs in the frame that stops
// the drink.
void BM_SaveFlaskLevel(benchmark::State& bs) {
    namespace fs = std::filesystem;
    const fs::path before = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / ("tolvenmire-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    gState.flaskLevel = 42;
    for (auto _ : bs) saveFlaskLevel();
    fs::current_path(before);
    fs::remove_all(folder);
}

void registerAll() {
    for (const FrameState& s : States)
        benchmark::RegisterBenchmark((std::string("TickUpdate/") + s.name).c_str(), BM_Frame, &s);
    benchmark::RegisterBenchmark("onKeyboardEvent", BM_KeyboardEvent);
    benchmark::RegisterBenchmark("saveFlaskLevel", BM_SaveFlaskLevel)->UseRealTime();
}

int playFrames(const char* name, const char* count, bool recording) {
    char* end = nullptr;
    const long n = std::strtol(count, &end, 10);
    if (n <= 0 || *end != '\0') {
        std::fprintf(stderr, "error: --frames: \"%s\" is not a positive number of frames\n", count);
        return 2;
    }
    if (std::strcmp(name, "keyboard_event") == 0) {
        for (long i = 0; i < n; ++i) onKeyboardEvent(79, 1, 0x18, 0, 0, 0, 1);
        return 0;
    }
    const FrameState* s = findState(name);
    if (!s) {
        std::fprintf(stderr, "error: --frames: no state \"%s\" (--list names them)\n", name);
        return 2;
    }
    s->setUp();
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("tolvenmire-bench-" + std::to_string(::getpid()));
    if (recording) {
        fs::create_directories(folder);
        fs::current_path(folder);
        const char* const texts[SettingsKeys] = {gSettingTexts[0], gSettingTexts[1], gSettingTexts[2],
                                                 gSettingTexts[3], gSettingTexts[4], gSettingTexts[5]};
        recordStart(gSettings.answers, texts);
        if (!recordingOn()) {
            std::fprintf(stderr, "error: --recording: cannot record into %s\n", folder.string().c_str());
            return 1;
        }
    }
    playFrame(*s);
    flat::resetCounts();
    for (long i = 0; i < n; ++i) {
        playFrame(*s);
        if (recording) hookWait(0);
    }
    if (recording) fs::remove_all(folder);
    std::printf("%s: %ld frames, %.2f natives per frame\n", name, n,
                (double)flat::counts().natives / (double)n);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const FrameState& s : States) std::printf("%-26s %s\n", s.name, s.what);
        std::printf("%-26s %s\n", "keyboard_event", "one keyboard event through onKeyboardEvent");
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--frames") == 0) {
        const bool recording = argc == 5 && std::strcmp(argv[4], "--recording") == 0;
        if (argc != 4 && !recording) {
            std::fprintf(stderr, "usage: %s --frames STATE COUNT [--recording]\n", argv[0]);
            return 2;
        }
        return playFrames(argv[2], argv[3], recording);
    }
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
