// What the generator of a randomized session does to the world (seeded_session.h):
// the settings file and the save file it starts with, the world it starts in, and
// one frame of changes after another, each drawn from the seed's generator in a
// fixed order, so that a seed plays the same session every time.
#include "stress/seeded_session.h"
#include "standin/game_hashes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace stress {

namespace {

const uint32_t StopControls[2] = {hashes::InputMoveUd, hashes::InputMoveLr};

struct Saloon {
    int32_t interior;
    uint32_t bartender;
};
const Saloon Saloons[8] = {
    {5634, 0xD31B229F},  {21250, 0xB733CF0F}, {37378, 0x0D1298F7}, {39426, 0x3E471440},
    {41218, 0x8E81C857}, {53762, 0x1EE53C9C}, {54274, 0x23DA7E9F}, {56834, 0xDD6D1B34},
};
#ifdef _WIN32
const bool ReadOnlySaveFile = false;
#else
const bool ReadOnlySaveFile = true;
#endif

// Peds of the world: a bartender per saloon (handles 3000 + row) and a stranger.
const int32_t FirstBartender = 3000;
const int32_t Stranger = 3100;

} // namespace

std::string Session::makeSettings() {
    const char* const headers[] = {"[SETTINGS]", "[SETTINGS]", "[settings]", "  [ SETTINGS ]  ", "[OTHER]"};
    const char* const values[] = {"0",        "1",   "-1",          "2",           "9",          "10",
                                  "60",       "79",  "80",          "100",         "120",        "254",
                                  "255",      "256", "0x4F",        "  81  ",      "'82'",       "\"83\"",
                                  "79abc",    "",    "99999999999", "-2147483648", "4294967295", "2147483647",
                                  "21474837", "abc", "-0",          "1000",        "0x7FFFFFFF", "-100"};
    const char* const keys[] = {"TOLVENMIRE_KEY", "DEADEYE_LOCK_THRESHOLD", "HEAL_WHEN_DRUNK", "REFILL_PRICE",
                                "SOBER_UP_TIME"};
    std::string text;
    if (rng_.oneIn(4)) text += "; Tolvenmire\r\n";
    text += rng_.pick(headers);
    text += rng_.oneIn(3) ? "\r\n" : "\n";
    for (const char* key : keys) {
        if (rng_.oneIn(3)) continue;
        if (rng_.oneIn(8)) text += "garbage line\n";
        text += key;
        text += rng_.oneIn(5) ? " = " : "=";
        // The drink key is mostly a real one, so that drinks happen.
        if (std::string(key) == "TOLVENMIRE_KEY" && !rng_.oneIn(4))
            text += rng_.oneIn(2) ? "79" : "80";
        else
            text += rng_.pick(values);
        text += "\n";
    }
    if (rng_.oneIn(6)) text += "[SETTINGS]\nREFILL_PRICE=77\n";
    return text;
}

std::string Session::makeSave() {
    const char* const saves[] = {
        "99",         "0",           "1",     "42\n",  "  7",         "150",
        "-3",         "abc",         "",      " \n\t", "99999999999", "-99999999999",
        "2147483647", "-2147483648", "12abc", "+5",    "-",           "\0325" /* Ctrl-Z, then 5 */};
    return rng_.pick(saves);
}

void Session::setUpWorld() {
    sim::World& w = sim::world();
    // The timer: a usual start, or one near the top of the signed range.
    const uint32_t start = rng_.below(6);
    if (start == 0)
        w.timer = (uint32_t)INT32_MAX - (uint32_t)rng_.range(0, 200000);
    else if (start == 1)
        w.timer = (uint32_t)rng_.range(0, 5000);
    else
        w.timer = (uint32_t)rng_.range(50000, 5000000);
    w.frameMs = 33;
    w.clock = rng_.oneIn(5) ? INT32_MAX - (int32_t)rng_.range(0, 3000) : (int32_t)rng_.range(-1000, 100000);
    const double clockRates[] = {0.0, 1.0, 30.0, 30.0, 30.0, 200.0, 5000.0};
    w.clockPerSecond = rng_.pick(clockRates);
    w.scenarioStartFrames = (int)rng_.range(0, 8);
    w.scenarioNeverStarts = rng_.oneIn(10);
    w.textureLoadFrames = (int)rng_.range(0, 5);
    w.autoPassOut = !rng_.oneIn(4);
    w.passOutAfterMs = (uint32_t)rng_.range(500, 6000);
    w.passOutDurationMs = (uint32_t)rng_.range(1, 12000);
    w.freeAiming = rng_.oneIn(5) ? 0 : 1;
    w.playerModel = rng_.pick({0x0D7114C9u, 0x00B69710u, 0x12345678u});
    w.cash = rng_.range(-1000, 1000000);
    for (int i = 0; i < 8; ++i) {
        sim::Ped p;
        p.handle = FirstBartender + i;
        p.model = Saloons[i].bartender;
        p.x = 2.0f;
        p.promptGroup = (int32_t)rng_.range(-5, 5);
        w.peds[p.handle] = p;
    }
    sim::Ped stranger;
    stranger.handle = Stranger;
    stranger.model = 0x11111111;
    stranger.x = 1.0f;
    w.peds[Stranger] = stranger;
    driftingFrames_ = rng_.oneIn(3);
    binge_ = rng_.oneIn(3);
#ifndef _WIN32
    // A folder without write permission stops no one with root's rights.
    folderReadOnlyAllowed_ = geteuid() != 0;
#endif
}

void Session::changeSaloon() {
    sim::World& w = sim::world();
    const uint32_t r = rng_.below(10);
    if (r < 4)
        w.interior = 0;
    else if (r < 9)
        w.interior = rng_.pick(Saloons).interior;
    else
        w.interior = (int32_t)rng_.range(-100000, 100000);
    log("interior " + std::to_string(w.interior));
}

void Session::changeTarget() {
    sim::World& w = sim::world();
    int row = -1;
    for (int i = 0; i < 8; ++i)
        if (Saloons[i].interior == w.interior) row = i;
    const uint32_t r = rng_.below(10);
    if (r < 3)
        w.target = 0;
    else if (r < 7 && row >= 0)
        w.target = FirstBartender + row;
    else if (r < 9)
        w.target = FirstBartender + (int32_t)rng_.below(8);
    else
        w.target = Stranger;
    // Distances around the reach of 5.0.
    const float distances[] = {0.5f, 3.0f, 4.99f, 4.9999995f, 5.0f, 5.0000005f, 5.01f, 12.0f};
    const float d = rng_.pick(distances);
    if (w.peds.count(w.target)) w.peds[w.target].x = w.playerX + d;
    w.distanceIsNaN = rng_.oneIn(12);
    char b[96];
    std::snprintf(b, sizeof b, "target %d at %.7g%s", w.target, (double)d,
                  w.distanceIsNaN ? " (distance NaN)" : "");
    log(b);
}

void Session::changeClock() {
    sim::World& w = sim::world();
    switch (rng_.below(5)) {
    case 0:
        w.clock = (int32_t)((uint32_t)w.clock + (uint32_t)rng_.range(1, 1000000));
        break;
    case 1:
        w.clock = (int32_t)((uint32_t)w.clock - (uint32_t)rng_.range(1, 1000000));
        break;
    case 2:
        w.clock = INT32_MAX - (int32_t)rng_.range(0, 500);
        break;
    case 3:
        w.clock = INT32_MIN + (int32_t)rng_.range(0, 500);
        break;
    default:
        w.clock = (int32_t)rng_.range(-10, 10);
        break;
    }
    log("game clock set to " + std::to_string(w.clock));
}

void Session::setFileReadOnly(bool on) {
    const fs::path save = fs::path(sim::workDir()) / "Tolvenmire.dat";
    std::error_code ec;
    if (!fs::exists(save, ec)) return;
    fs::permissions(save, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    on ? fs::perm_options::remove : fs::perm_options::add, ec);
    saveFileRead_ = false; // read after the next frame, whatever the plug-in does
    if (ec) return;
    fileReadOnly_ = on;
    log(on ? "the save file made read-only" : "the save file made writable");
}

void Session::setFolderReadOnly(bool on) {
    std::error_code ec;
    fs::permissions(sim::workDir(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    on ? fs::perm_options::remove : fs::perm_options::add, ec);
    saveFileRead_ = false;
    if (ec) return;
    folderReadOnly_ = on;
    log(on ? "the folder made read-only" : "the folder made writable");
}

// One frame of changes. The steps draw from the generator in this order, which
// is what makes a seed play the same session: new steps go at the end.
void Session::act() {
    pickFrameLength();
    pressKeys();
    completePrompts();
    changeGuards();
    pressStopControls();
    changeMission();
    if (rng_.oneIn(400)) changeSaloon();
    if (rng_.oneIn(120)) changeTarget();
    changeClockRate();
    changeScenarioAndFiles();
}

// The frame's length: steady, drifting, or a hitch now and then.
void Session::pickFrameLength() {
    sim::World& w = sim::world();
    const uint32_t r = rng_.below(1000);
    if (r < 10)
        w.frameMs = (uint32_t)rng_.range(1000, 4000);
    else if (r < 30)
        w.frameMs = (uint32_t)rng_.range(100, 600);
    else if (driftingFrames_ || r < 100)
        w.frameMs = (uint32_t)rng_.range(1, 50);
    else
        w.frameMs = 33;
    if (w.frameMs > 600) log("a frame of " + std::to_string(w.frameMs) + " ms");
    maxFrameMs_ = std::max(maxFrameMs_, w.frameMs);
}

// Prompts completed by the player: a completion lasts a frame or three.
void Session::completePrompts() {
    sim::World& w = sim::world();
    for (auto it = completions_.begin(); it != completions_.end();) {
        if (--it->second > 0) {
            ++it;
            continue;
        }
        auto p = w.prompts.find(it->first);
        if (p != w.prompts.end()) p->second.completed = false;
        it = completions_.erase(it);
    }
    for (auto& [handle, prompt] : w.prompts) {
        if (!prompt.alive || prompt.completed) continue;
        const bool drink = prompt.label == DrinkLabel;
        if (rng_.oneIn(drink ? 40 : 50)) {
            prompt.completed = true;
            completions_.emplace_back(handle, (int)rng_.range(1, 3));
            log(std::string("the player completes the ") + (drink ? "drink" : "refill") + " prompt " +
                std::to_string(handle));
        }
    }
}

// The drink prompt's guards (the input in use, the satchel control's release, a
// selection wheel) and whether the player is on foot.
void Session::changeGuards() {
    sim::World& w = sim::world();
    if (satchelFrames_ > 0 && --satchelFrames_ == 0) w.satchelReleased = 0;
    if (rng_.oneIn(50)) {
        w.satchelReleased = 1;
        satchelFrames_ = (int)rng_.range(1, 4);
    }
    if (rng_.oneIn(400)) {
        w.keyboardAndMouse = w.keyboardAndMouse ? 0 : 1;
        log(w.keyboardAndMouse ? "keyboard and mouse" : "a controller");
    }
    if (rng_.oneIn(500)) {
        w.effects[sim::WheelEffect] = w.effects[sim::WheelEffect] ? 0 : 1;
        log("the wheel HUD " + std::string(w.effects[sim::WheelEffect] ? "opens" : "closes"));
    }
    if (rng_.oneIn(700)) {
        w.onFoot = w.onFoot ? 0 : 1;
        log(w.onFoot ? "on foot" : "mounted");
    }
}

// Stop controls, with odd values too (a NaN counts as 0.0).
void Session::pressStopControls() {
    sim::World& w = sim::world();
    if (stopFrames_ > 0 && --stopFrames_ == 0) w.analog.clear();
    if (rng_.oneIn(binge_ ? 2500 : 250)) {
        const float values[] = {1.0f, -0.5f, 1e-30f, std::numeric_limits<float>::quiet_NaN(), 0.0f, -0.0f};
        const uint32_t control = rng_.pick(StopControls);
        w.analog[control] = rng_.pick(values);
        stopFrames_ = (int)rng_.range(1, 5);
        char b[80];
        std::snprintf(b, sizeof b, "stop control %s at %g", hashes::find(control)->name,
                      (double)w.analog[control]);
        log(b);
    }
}

// The mission flag: short or long missions at any moment, and while passed out; the
// pass-out effect by hand when the game does not run it.
void Session::changeMission() {
    sim::World& w = sim::world();
    if (missionFrames_ > 0 && --missionFrames_ == 0 && !missionByTime_) {
        w.missionFlag = false;
        log("the mission ends");
    }
    if (missionByTime_ && (int32_t)(w.timer - missionUntil_) >= 0) {
        missionByTime_ = false;
        w.missionFlag = false;
        log("the mission ends");
    }
    if (!w.missionFlag) {
        const bool passedOut = w.effects.count(sim::PassOutEffect) && w.effects[sim::PassOutEffect] != 0;
        if (rng_.oneIn(binge_ ? 4000 : 900) || (passedOut && rng_.oneIn(60))) {
            w.missionFlag = true;
            if (rng_.oneIn(3)) {
                missionFrames_ = (int)rng_.range(1, 3);
                log(passedOut ? "a mission starts while passed out, for a frame or so"
                              : "a mission for a frame or so");
            } else {
                missionByTime_ = true;
                missionUntil_ = w.timer + (uint32_t)rng_.range(100, 12000);
                log(passedOut ? "a mission starts while passed out" : "a mission for a while");
            }
        }
    }
    if (!w.autoPassOut && rng_.oneIn(400)) {
        w.effects[sim::PassOutEffect] = w.effects[sim::PassOutEffect] ? 0 : 1;
        log(std::string("the pass-out effect ") + (w.effects[sim::PassOutEffect] ? "runs" : "ends"));
    }
}

// The game clock jumps, also backwards, and changes its pace.
void Session::changeClockRate() {
    sim::World& w = sim::world();
    if (rng_.oneIn(400)) changeClock();
    if (rng_.oneIn(2000)) {
        const double rates[] = {0.0, 1.0, 30.0, 1000.0};
        w.clockPerSecond = rng_.pick(rates);
        log("game clock runs at " + std::to_string((int)w.clockPerSecond) + " a second");
    }
}

// The scenario, free aiming (the deadeye lock's condition), the files.
void Session::changeScenarioAndFiles() {
    sim::World& w = sim::world();
    if (rng_.oneIn(1500)) {
        w.scenarioNeverStarts = !w.scenarioNeverStarts;
        log(w.scenarioNeverStarts ? "the drinking scenario never starts"
                                  : "the drinking scenario starts again");
    }
    if (rng_.oneIn(500)) w.freeAiming = w.freeAiming ? 0 : 1;
    // A read-only save file, on Linux only: Wine, run as root as the tests are,
    // replaces a read-only file where Windows refuses to.
    if (rng_.oneIn(700) && ReadOnlySaveFile) setFileReadOnly(!fileReadOnly_);
    if (folderReadOnlyAllowed_ && rng_.oneIn(1200)) setFolderReadOnly(!folderReadOnly_);
}

} // namespace stress
