// The generator of randomized sessions and the invariants it checks after every
// frame. Everything random comes from one generator seeded with the session's seed,
// and every choice depends only on it and on what the plug-in did, so a seed plays
// the same session every time (key events sent from a second thread included: that
// thread delivers them in step with the frames; the free-running thread of some
// seeds sends events of other keys only, which the plug-in stores and never reads).
#include "stress/random_session.h"

#include "stress/hostile_checks.h"
#include "sim.h"
#include "standin/native_table.h"

#include "base/decimal_text.h"
#include "base/script_state.h"
#include "base/settings.h"
#include "flask/intoxication.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace stress {

std::string SessionResult::describe() const {
    std::string s = "seed " + std::to_string(seed) + ", frame " + std::to_string(frame) + ": " + failure;
    if (!recent.empty()) s += "\n  last actions:\n" + recent;
    if (hostileRate > 0.0 && !passed) {
        char command[96];
        std::snprintf(command, sizeof command, "tolvenmire-soak --hostile %g --seed %llu --actions",
                      hostileRate, (unsigned long long)seed);
        s += (recent.empty() ? "\n" : "") + std::string("  replay: ") + command;
    }
    return s;
}

namespace {

// Natives the checks follow.
const uint64_t OutOfPlayQuery = natives::OutOfPlay;
const uint64_t ControlValue = natives::ControlValue;
const uint64_t ClearTasks = natives::ClearTasks;
const uint64_t ScenarioStart = natives::ScenarioStart;
const uint64_t PlayerControl = natives::PlayerControl;
const uint64_t EffectRunning = natives::EffectRunning;
const uint32_t StopControls[2] = {0xFDA83190, 0x4D8FB4C1};
const char* const PassOut = "PlayerDrunk01_PassOut";

const char* const DrinkLabel = "Drink From Flask";
const char* const RefillLabel = "Refill Flask";

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

// xoshiro256**, seeded through splitmix64: the same numbers on every platform.
class Rng {
  public:
    explicit Rng(uint64_t seed) {
        for (uint64_t& w : s_) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            w = z ^ (z >> 31);
        }
    }
    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // 0 .. n-1
    uint32_t below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(next() % n); }
    // lo .. hi
    int64_t range(int64_t lo, int64_t hi) { return lo + (int64_t)(next() % (uint64_t)(hi - lo + 1)); }
    bool oneIn(uint32_t n) { return below(n) == 0; }
    template <typename T, size_t N> const T& pick(const T (&items)[N]) { return items[below((uint32_t)N)]; }

  private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

// Sends key events from a thread of its own, one at a time, each when the session
// asks and before it goes on: another thread, the same order every time.
class KeyboardThread {
  public:
    KeyboardThread() : thread_([this] { run(); }) {}
    ~KeyboardThread() {
        {
            std::lock_guard<std::mutex> lock(m_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void send(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
        std::unique_lock<std::mutex> lock(m_);
        key_ = key;
        fifth_ = fifth;
        sixth_ = sixth;
        seventh_ = seventh;
        pending_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return !pending_; });
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return pending_ || quit_; });
            if (quit_) return;
            sim::keyEvent(key_, fifth_, sixth_, seventh_);
            pending_ = false;
            cv_.notify_all();
        }
    }
    std::mutex m_;
    std::condition_variable cv_;
    bool pending_ = false, quit_ = false;
    uint32_t key_ = 0;
    int32_t fifth_ = 0, sixth_ = 0, seventh_ = 0;
    std::thread thread_;
};

// Key events of every key but the drink key, as fast as a keyboard could never
// send them, while the script runs.
class NoiseThread {
  public:
    NoiseThread(uint64_t seed, uint32_t drinkKey)
        : thread_([this, seed, drinkKey] {
              Rng rng(seed);
              while (!quit_.load(std::memory_order_relaxed)) {
                  uint32_t key = rng.below(400);
                  if (key == drinkKey) key = 255;
                  sim::keyEvent(key, (int32_t)rng.below(2), (int32_t)rng.below(2), (int32_t)rng.below(2));
                  std::this_thread::sleep_for(std::chrono::microseconds(100));
              }
          }) {}
    ~NoiseThread() {
        quit_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string canonical(int64_t value) {
    if (value < INT32_MIN || value > INT32_MAX) return "(out of range)";
    char text[12];
    formatFlaskLevel((int32_t)value, text);
    return text;
}

std::string shown(const std::optional<std::string>& s) {
    if (!s) return "(no file)";
    std::string out = "\"";
    for (char c : *s) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\')
            out += c;
        else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", (unsigned char)c);
            out += b;
        }
    }
    return out + "\"";
}

class Session {
  public:
    Session(uint64_t seed, const SessionOptions& options) : rng_(seed), options_(options) {
        result_.seed = seed;
    }
    SessionResult run();

  private:
    // Setting up.
    std::string makeSettings();
    std::string makeSave();
    void setUpWorld();
    // One frame of changes, then the frame, then the checks.
    void act();
    void pickFrameLength();
    void pressKeys();
    void completePrompts();
    void changeGuards();
    void pressStopControls();
    void changeOutOfPlay();
    void changeClockRate();
    void changeScenarioAndFiles();
    void sendKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);
    void pressKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);
    void sendBurst(int32_t seventh);
    void deliverHeldKeys();
    std::string recordingSettings(bool withSettings, const std::string& settings) const;
    void changeSaloon();
    void changeTarget();
    void changeClock();
    void setFileReadOnly(bool on);
    void setFolderReadOnly(bool on);
    void observe(const sim::Call& c);
    bool checkFrame();
    bool checkSaveFile();
    bool countWhatHappened();
    void wound(); // puts the folder's permissions back
    bool fail(const std::string& what);
    void log(const std::string& what);

    Rng rng_;
    SessionOptions options_;
    SessionResult result_;
    std::deque<std::string> recent_;
    std::optional<KeyboardThread> keyboard_;
    std::optional<NoiseThread> noise_;
    std::optional<HostileGame> hostile_;
    // KeyDelivery::InsideFrames: the presses waiting for a native call.
    struct Press {
        uint32_t key;
        int32_t fifth, sixth, seventh;
    };
    std::vector<Press> heldKeys_;
    fs::path recordFolder_; // recording: the session's folder, kept past the unload

    // The session's traits, drawn once.
    uint32_t drinkKey_ = 79;
    bool driftingFrames_ = false;
    bool binge_ = false; // drinks often and long: intoxication up to the pass-out
    uint32_t maxFrameMs_ = 0;
    bool folderReadOnlyAllowed_ = false;

    // Changes that last a few frames.
    std::vector<std::pair<int32_t, int>> completions_; // prompt handle, frames left
    int stopFrames_ = 0;
    int promptControlFrames_ = 0;
    int outOfPlayFrames_ = 0;
    uint32_t outOfPlayUntil_ = 0;
    bool outOfPlayByTime_ = false;

    // What the observer saw in the current frame.
    std::string observed_; // a fault seen inside a call
    bool controlValueSeen_ = false;
    bool stopSeen_ = false;       // a clearing call after the stop controls: drinking stopped
    bool refillSaveSeen_ = false; // the refill's scenario start, right before its save
    bool controlOff_ = false;
    uint32_t controlTakenAt_ = 0;
    uint32_t lastLoopQuery_ = 0;
    uint64_t digest_ = 1469598103934665603ull;
    bool passOutSeen_ = false;
    size_t charges_ = 0;

    // The save file as the last frame left it.
    std::optional<std::string> saveContent_;
    bool fileReadOnly_ = false, folderReadOnly_ = false;
    bool wasDrinking_ = false, wasHeld_ = false;
};

void Session::log(const std::string& what) {
    const std::string line = "frame " + std::to_string(sim::frame()) + ": " + what;
    if (options_.onAction) options_.onAction(line);
    recent_.push_back(line);
    if (recent_.size() > 25) recent_.pop_front();
}

bool Session::fail(const std::string& what) {
    if (!result_.failure.empty()) return false;
    result_.passed = false;
    result_.failure = what;
    result_.frame = sim::frame();
    for (const std::string& l : recent_) result_.recent += "    " + l + "\n";
    return false;
}

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
    w.deadeyeCondition = rng_.oneIn(5) ? 0 : 1;
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

void Session::sendKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    log("key " + std::to_string(key) + " (" + std::to_string(fifth) + ", " + std::to_string(sixth) + ", " +
        std::to_string(seventh) + ")" + (keyboard_ ? " from the keyboard thread" : ""));
    if (hostile_) hostile_->keySent(key, seventh, drinkKey_);
    if (keyboard_)
        keyboard_->send(key, fifth, sixth, seventh);
    else
        sim::keyEvent(key, fifth, sixth, seventh);
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
    if (ec) return;
    fileReadOnly_ = on;
    log(on ? "the save file made read-only" : "the save file made writable");
}

void Session::setFolderReadOnly(bool on) {
    std::error_code ec;
    fs::permissions(sim::workDir(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    on ? fs::perm_options::remove : fs::perm_options::add, ec);
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
    changeOutOfPlay();
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

// Keys: the drink key, mostly with its seventh flag, and others.
void Session::pressKeys() {
    if (rng_.oneIn(binge_ ? 60 : 150))
        pressKey(drinkKey_, (int32_t)rng_.below(2), (int32_t)rng_.below(2), rng_.oneIn(5) ? 0 : 1);
    if (rng_.oneIn(60)) pressKey(rng_.below(300), 0, 0, 1);
}

// A press, as the session's way of delivering keys has it.
void Session::pressKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh) {
    switch (options_.keys) {
    case KeyDelivery::InsideFrames:
        heldKeys_.push_back({key, fifth, sixth, seventh});
        return;
    case KeyDelivery::Bursts:
        if (key == drinkKey_) sendBurst(seventh);
        return;
    default:
        sendKey(key, fifth, sixth, seventh);
        return;
    }
}

// 300 events of the drink key in a row, the last one with `seventh`: the table keeps
// the last, whatever the others were.
void Session::sendBurst(int32_t seventh) {
    for (int k = 0; k < 299; ++k)
        sendKey(drinkKey_, (int32_t)rng_.below(2), (int32_t)rng_.below(2), (int32_t)rng_.below(2));
    sendKey(drinkKey_, 0, 1, seventh);
}

// Called inside a native call of the frame: the held presses, now and then.
void Session::deliverHeldKeys() {
    if (heldKeys_.empty() || !rng_.oneIn(6)) return;
    const std::vector<Press> presses = std::move(heldKeys_);
    heldKeys_.clear();
    for (const Press& p : presses) sendKey(p.key, p.fifth, p.sixth, p.seventh);
}

// The settings file with RECORD_SESSION=1 where the plug-in reads it first: after
// the first settings section's header, or in a section of its own before any.
std::string Session::recordingSettings(bool withSettings, const std::string& settings) const {
    const std::string line = "RECORD_SESSION=1\n";
    if (!withSettings) return "[SETTINGS]\n" + line;
    std::string lower = settings;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return (char)std::tolower(c); });
    size_t header = lower.find("settings");
    const size_t bracket = header == std::string::npos ? std::string::npos : lower.rfind('[', header);
    const size_t eol = bracket == std::string::npos ? std::string::npos : settings.find('\n', header);
    if (eol == std::string::npos) return "[SETTINGS]\n" + line + settings;
    return settings.substr(0, eol + 1) + line + settings.substr(eol + 1);
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

// The drink prompt's guards and the player's condition.
void Session::changeGuards() {
    sim::World& w = sim::world();
    if (promptControlFrames_ > 0 && --promptControlFrames_ == 0) w.promptControl = 0;
    if (rng_.oneIn(50)) {
        w.promptControl = 1;
        promptControlFrames_ = (int)rng_.range(1, 4);
    }
    if (rng_.oneIn(400)) {
        w.firstGuard = w.firstGuard ? 0 : 1;
        log("first prompt guard " + std::to_string(w.firstGuard));
    }
    if (rng_.oneIn(500)) {
        w.effects["WheelHUDIn"] = w.effects["WheelHUDIn"] ? 0 : 1;
        log("the wheel HUD " + std::string(w.effects["WheelHUDIn"] ? "opens" : "closes"));
    }
    if (rng_.oneIn(700)) {
        w.playerCondition = w.playerCondition ? 0 : 1;
        log("player condition " + std::to_string(w.playerCondition));
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
        char b[64];
        std::snprintf(b, sizeof b, "stop control 0x%08X at %g", control, (double)w.analog[control]);
        log(b);
    }
}

// Out of play: short or long spells at any moment, and deaths while passed out; the
// pass-out effect by hand when the game does not run it.
void Session::changeOutOfPlay() {
    sim::World& w = sim::world();
    if (outOfPlayFrames_ > 0 && --outOfPlayFrames_ == 0 && !outOfPlayByTime_) {
        w.outOfPlay = false;
        log("back in play");
    }
    if (outOfPlayByTime_ && (int32_t)(w.timer - outOfPlayUntil_) >= 0) {
        outOfPlayByTime_ = false;
        w.outOfPlay = false;
        log("back in play");
    }
    if (!w.outOfPlay) {
        const bool passedOut = w.effects.count(PassOut) && w.effects[PassOut] != 0;
        if (rng_.oneIn(binge_ ? 4000 : 900) || (passedOut && rng_.oneIn(60))) {
            w.outOfPlay = true;
            if (rng_.oneIn(3)) {
                outOfPlayFrames_ = (int)rng_.range(1, 3);
                log(passedOut ? "dies while passed out, for a frame or so" : "out of play for a frame or so");
            } else {
                outOfPlayByTime_ = true;
                outOfPlayUntil_ = w.timer + (uint32_t)rng_.range(100, 12000);
                log(passedOut ? "dies while passed out" : "out of play for a while");
            }
        }
    }
    if (!w.autoPassOut && rng_.oneIn(400)) {
        w.effects[PassOut] = w.effects[PassOut] ? 0 : 1;
        log(std::string("the pass-out effect ") + (w.effects[PassOut] ? "runs" : "ends"));
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

// The scenario, the deadeye condition, the files.
void Session::changeScenarioAndFiles() {
    sim::World& w = sim::world();
    if (rng_.oneIn(1500)) {
        w.scenarioNeverStarts = !w.scenarioNeverStarts;
        log(w.scenarioNeverStarts ? "the drinking scenario never starts"
                                  : "the drinking scenario starts again");
    }
    if (rng_.oneIn(500)) w.deadeyeCondition = w.deadeyeCondition ? 0 : 1;
    // A read-only save file, on Linux only: Wine, run as root as the tests are,
    // replaces a read-only file where Windows refuses to.
    if (rng_.oneIn(700) && ReadOnlySaveFile) setFileReadOnly(!fileReadOnly_);
    if (folderReadOnlyAllowed_ && rng_.oneIn(1200)) setFolderReadOnly(!folderReadOnly_);
}

// Seen inside the host, on the script fiber, as each call happens.
void Session::observe(const sim::Call& c) {
    if (c.kind != sim::CallKind::Native) return;
    const sim::World& w = sim::world();
    // The digest: what was called with what, and the answer. Addresses vary from
    // load to load; the text they point to does not.
    const sim::NativeInfo* info = sim::findNative(c.hash);
    auto mix = [this](uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            digest_ ^= (v >> (8 * i)) & 0xFF;
            digest_ *= 1099511628211ull;
        }
    };
    mix(c.hash);
    for (int k = 0; k < c.argc; ++k) {
        const char kind = info && info->args[k] ? info->args[k] : 'x';
        if (kind == 's' || kind == 'r') {
            for (char ch : c.text[k]) mix((uint8_t)ch);
        } else if (kind != 'p') {
            mix(c.args[k]);
        }
    }
    mix(c.result[0]);
    mix(c.result[1]);
    mix(c.result[2]);

    if (!c.onScriptFiber && observed_.empty())
        observed_ = "a native called off the script fiber: " + sim::describe(c);
    if (c.hash == OutOfPlayQuery) lastLoopQuery_ = w.timer;
    if (c.hash == EffectRunning && c.text[0] == PassOut && c.resultInt() != 0 && !passOutSeen_) {
        passOutSeen_ = true;
        ++result_.passOuts;
    }
    if (c.hash == EffectRunning && c.text[0] == PassOut && c.resultInt() == 0) passOutSeen_ = false;
    if (c.hash == ControlValue) controlValueSeen_ = true;
    if (c.hash == ClearTasks && controlValueSeen_) stopSeen_ = true;
    if (c.hash == ScenarioStart && c.i32(2) == 10) refillSaveSeen_ = true;
    if (c.hash == PlayerControl) {
        const bool give = c.i32(1) != 0;
        if (give == !controlOff_ && observed_.empty())
            observed_ = give ? "player control given back without being taken" : "player control taken twice";
        controlOff_ = !give;
        controlTakenAt_ = w.timer;
    }
}

bool Session::checkSaveFile() {
    const fs::path folder = sim::workDir();
    std::error_code ec;
    if (fs::exists(folder / "Tolvenmire.dat.tmp", ec)) return fail("Tolvenmire.dat.tmp left in the folder");
    const std::optional<std::string> now = readFile(folder / "Tolvenmire.dat");
    const ScriptState& s = *sim::pluginState();
    const bool saved = stopSeen_ || refillSaveSeen_;
    const bool writable = !fileReadOnly_ && !folderReadOnly_;
    // What a save of this frame may have written: the flask as the frame left it; one
    // unit more when a sip took one after a stop in the same frame; a full flask for
    // the refill.
    std::vector<std::string> allowed;
    if (refillSaveSeen_) allowed.push_back(canonical(99));
    if (stopSeen_) {
        allowed.push_back(canonical(s.flaskLevel));
        allowed.push_back(canonical((int64_t)s.flaskLevel + 1));
    }
    auto isAllowed = [&](const std::optional<std::string>& c) {
        if (!c) return false;
        for (const std::string& a : allowed)
            if (*c == a) return true;
        return false;
    };
    if (now != saveContent_) {
        if (!saved)
            return fail("the save file changed without a save: " + shown(saveContent_) + " became " +
                        shown(now));
        if (!writable)
            return fail("a save replaced a read-only save file (or wrote into a read-only folder): " +
                        shown(saveContent_) + " became " + shown(now));
        if (!isAllowed(now))
            return fail("the save file holds " + shown(now) + ", not the flask level saved (flask now " +
                        std::to_string(s.flaskLevel) + ")");
    } else if (saved && writable && !isAllowed(now)) {
        return fail("a save left the save file as it was (" + shown(now) + "), flask " +
                    std::to_string(s.flaskLevel));
    }
    if (saved && !writable) ++result_.failedSaves;
    // Whatever it holds once a save has written it reads back as that number.
    if (now && saved && writable) {
        const FlaskParse p = parseFlaskLevelText(now->data(), now->size());
        if (p.kind != FlaskRead::Value || canonical(p.value) != *now)
            return fail("the save file " + shown(now) + " does not read back as the number written");
    }
    saveContent_ = now;
    return true;
}

bool Session::checkFrame() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    if (!sim::violations().empty()) return fail("protocol: " + sim::violations().front());
    if (!observed_.empty()) return fail(observed_);

    if (s.intakeLevel < 0 || s.intakeLevel > 121) return fail("intakeLevel " + std::to_string(s.intakeLevel));
    if (s.drunkLevel < 0 || s.drunkLevel > 121) return fail("drunkLevel " + std::to_string(s.drunkLevel));
    if (s.sipCounter < 0 || s.sipCounter > 3) return fail("sipCounter " + std::to_string(s.sipCounter));

    // Sober again, by a step or a reset, means healing as usual.
    if (s.drunkLevel == 0 && (w.healingRate[0] != 1.0f || w.healingRate[1] != 1.0f))
        return fail("sober, yet the healing rates are " + std::to_string(w.healingRate[0]) + " and " +
                    std::to_string(w.healingRate[1]));

    // Under a hostile game the prompts, the global's cell and the game timer are the
    // game's to garble: its own invariants take the place of these (hostile_checks.h).
    if (hostile_) {
        const std::string broken = hostile_->checkFrame();
        if (!broken.empty()) return fail("hostile: " + broken);
        return checkSaveFile() && countWhatHappened();
    }

    // Prompts: at most one of each alive, and its flag says so.
    int drinkPrompts = 0, refillPrompts = 0;
    for (const auto& [handle, p] : w.prompts) {
        if (!p.alive) continue;
        if (p.label == DrinkLabel)
            ++drinkPrompts;
        else if (p.label == RefillLabel)
            ++refillPrompts;
        else
            return fail("a prompt with the label \"" + p.label + "\"");
    }
    if (drinkPrompts > 1) return fail(std::to_string(drinkPrompts) + " drink prompts alive");
    if (refillPrompts > 1) return fail(std::to_string(refillPrompts) + " refill prompts alive");
    auto aliveWith = [&w](int32_t handle, const char* label) {
        auto it = w.prompts.find(handle);
        return it != w.prompts.end() && it->second.alive && it->second.label == label;
    };
    if (s.drinkPromptActive != (drinkPrompts == 1 && aliveWith(s.drinkPrompt, DrinkLabel)))
        return fail(std::string("drinkPromptActive is ") + (s.drinkPromptActive ? "true" : "false") +
                    " with " + std::to_string(drinkPrompts) + " drink prompt(s) alive");
    if (s.refillPromptActive != (refillPrompts == 1 && aliveWith(s.refillPrompt, RefillLabel)))
        return fail(std::string("refillPromptActive is ") + (s.refillPromptActive ? "true" : "false") +
                    " with " + std::to_string(refillPrompts) + " refill prompt(s) alive");

    // The intensity global: 0, or the entry of drunkLevel.
    const uint64_t entry = IntensityTable[(size_t)s.drunkLevel];
    if (w.intensityGlobal != 0 && w.intensityGlobal != entry) {
        char b[128];
        std::snprintf(b, sizeof b, "the intensity global holds 0x%016llX; drunkLevel %d's entry is 0x%08llX",
                      (unsigned long long)w.intensityGlobal, s.drunkLevel, (unsigned long long)entry);
        return fail(b);
    }

    // Control comes back within the refill's own waits; the script never stalls
    // for longer than a start wait and a refill in one frame.
    const uint32_t slack = 10 * maxFrameMs_ + 1000;
    if (controlOff_ && w.timer - controlTakenAt_ > 4500 + slack)
        return fail("player control still taken " + std::to_string(w.timer - controlTakenAt_) +
                    " ms after a refill took it");
    if (controlOff_ != !w.playerControl) return fail("the game's player control does not match the calls");
    if (w.timer - lastLoopQuery_ > 5000 + 7500 + 3000 + slack)
        return fail("the script has not come round its loop for " + std::to_string(w.timer - lastLoopQuery_) +
                    " ms");

    if (!checkSaveFile()) return false;
    return countWhatHappened();
}

// What the session went through.
bool Session::countWhatHappened() {
    const sim::World& w = sim::world();
    const ScriptState& s = *sim::pluginState();
    if (w.charges.size() > charges_) {
        result_.refills += (int)(w.charges.size() - charges_);
        charges_ = w.charges.size();
    }
    if (s.drinking && !wasDrinking_) ++result_.drinks;
    wasDrinking_ = s.drinking;
    if (w.outOfPlay && !wasHeld_) ++result_.holds;
    wasHeld_ = w.outOfPlay;
    return true;
}

void Session::wound() {
    if (folderReadOnly_) setFolderReadOnly(false);
    if (fileReadOnly_) setFileReadOnly(false);
}

SessionResult Session::run() {
    result_.passed = false;
    if (sim::running()) {
        result_.failure = "a session is already running";
        return result_;
    }
    setUpWorld();
    sim::StartOptions o;
    o.pluginPath = options_.pluginPath;
    o.record = false;
    o.withSettings = !rng_.oneIn(5);
    if (o.withSettings) o.settings = makeSettings();
    o.withSave = !rng_.oneIn(4);
    if (o.withSave) o.save = makeSave();
    if (options_.hostileRate > 0.0) {
        hostile_.emplace(result_.seed, options_.hostileRate);
        hostile_->setUp();
        result_.hostileRate = options_.hostileRate;
    }
    o.observer = [this](const sim::Call& c) {
        if (c.kind == sim::CallKind::Native && options_.keys == KeyDelivery::InsideFrames) deliverHeldKeys();
        observe(c);
        if (hostile_) hostile_->observe(c);
    };
    if (o.withSave) saveContent_ = o.save;
    if (!options_.recordTo.empty()) {
        o.settings = recordingSettings(o.withSettings, o.settings);
        o.withSettings = true;
        // A folder of the session's own: the recording outlives the unload there.
        recordFolder_ = fs::temp_directory_path() / ("tolvenmire-random-" + std::to_string(result_.seed) +
                                                     "-" + std::to_string((uintptr_t)this));
        std::error_code ec;
        fs::remove_all(recordFolder_, ec);
        fs::create_directories(recordFolder_, ec);
        o.workDir = recordFolder_.string();
    }
    log("settings " + (o.withSettings ? shown(o.settings) : std::string("(no file)")) + ", save " +
        (o.withSave ? shown(o.save) : std::string("(no file)")));
    std::string error;
    if (!sim::start(o, &error)) {
        result_.failure = "cannot start the plug-in: " + error;
        return result_;
    }
    drinkKey_ = (uint32_t)sim::pluginSettings()->drinkKey;
    if (rng_.oneIn(4)) {
        // The tick count close to its wrap.
        const uint32_t tick = 0xFFFFFFFFu - (uint32_t)rng_.range(0, 60000);
        sim::setTickCount(tick);
        log("tick count " + std::to_string(tick));
    }
    result_.keyboardThread = rng_.oneIn(4);
    if (result_.keyboardThread) keyboard_.emplace();
    if (rng_.oneIn(4)) noise_.emplace(rng_.next(), drinkKey_);
    lastLoopQuery_ = sim::world().timer;
    if (options_.keys == KeyDelivery::BeforeStart) sendBurst(1);

    // The game time played, frame by frame: a hostile game's timer jumps do not count.
    uint64_t played = 0;
    bool ok = true;
    while (ok && played < options_.gameMs) {
        act();
        if (hostile_) hostile_->act([this](const std::string& line) { log(line); });
        played += sim::world().frameMs;
        controlValueSeen_ = stopSeen_ = refillSaveSeen_ = false;
        sim::playFrames(1);
        ok = checkFrame();
    }
    // The end: back in play and left alone until every sequence has run out.
    if (ok) {
        sim::World& w = sim::world();
        if (hostile_) hostile_->calm();
        w.outOfPlay = false;
        outOfPlayByTime_ = false;
        outOfPlayFrames_ = 0;
        w.frameMs = 33;
        // (a minute under a hostile game: a pass of the loop may take 44.5 s of it)
        const uint32_t until = w.timer + (hostile_ ? 60000 : 20000);
        while (ok && w.timer - until > 0x80000000u) {
            controlValueSeen_ = stopSeen_ = refillSaveSeen_ = false;
            sim::playFrames(1);
            ok = checkFrame();
        }
        if (ok && !w.playerControl) ok = fail("player control not given back at the end of the session");
    }
    noise_.reset();
    keyboard_.reset();
    wound();
    const int frames = sim::frame();
    sim::stop();
    if (ok && !sim::violations().empty()) ok = fail("protocol, at unload: " + sim::violations().front());
    if (!recordFolder_.empty()) {
        std::error_code ec;
        fs::remove(options_.recordTo, ec);
        fs::copy_file(recordFolder_ / "Tolvenmire.rec", options_.recordTo, ec);
        if (ok && ec) ok = fail("the recording cannot be kept as " + options_.recordTo + ": " + ec.message());
        fs::remove_all(recordFolder_, ec);
    }
    result_.digest = digest_;
    if (hostile_) {
        const HostileFigures& f = hostile_->figures();
        result_.hostileAnswers = f.answersReplaced;
        result_.hostileChecks = f.checks;
        result_.hostileSpells = f.spells;
        result_.maxCallsBetweenWaits = f.maxCallsBetweenWaits;
    }
    if (ok) {
        result_.passed = true;
        result_.frame = frames;
    }
    return result_;
}

} // namespace

bool parseKeyDelivery(const std::string& text, KeyDelivery* out) {
    const std::pair<const char*, KeyDelivery> names[] = {{"between", KeyDelivery::BetweenFrames},
                                                         {"inside", KeyDelivery::InsideFrames},
                                                         {"bursts", KeyDelivery::Bursts},
                                                         {"before-start", KeyDelivery::BeforeStart}};
    for (const auto& [name, keys] : names)
        if (text == name) return *out = keys, true;
    return false;
}

SessionResult playRandomSession(uint64_t seed, const SessionOptions& options) {
    Session session(seed, options);
    return session.run();
}

uint64_t playSeeds(uint64_t first, uint64_t last, const SessionOptions& options, FILE* out) {
    const auto started = std::chrono::steady_clock::now();
    uint64_t passed = 0, failed = 0, frames = 0;
    uint64_t answers = 0, checks = 0, spells = 0;
    int maxCalls = 0;
    for (uint64_t seed = first;; ++seed) {
        SessionOptions o = options;
        if (!o.recordTo.empty() && first != last) o.recordTo += "." + std::to_string(seed);
        const SessionResult r = playRandomSession(seed, o);
        answers += r.hostileAnswers;
        checks += r.hostileChecks;
        spells += r.hostileSpells;
        maxCalls = std::max(maxCalls, r.maxCallsBetweenWaits);
        if (r.passed) {
            ++passed;
            frames += (uint64_t)r.frame;
        } else {
            ++failed;
            std::fprintf(out, "FAILED %s\n", r.describe().c_str());
        }
        if ((seed - first + 1) % 100 == 0 || seed == last) {
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::fprintf(out, "seeds %llu..%llu: %llu passed, %llu failed (%llu frames, %.0f s)\n",
                         (unsigned long long)first, (unsigned long long)seed, (unsigned long long)passed,
                         (unsigned long long)failed, (unsigned long long)frames, s);
            std::fflush(out);
        }
        if (seed == last) break;
    }
    if (options.hostileRate > 0.0) {
        const uint64_t sessions = passed + failed;
        std::fprintf(out,
                     "hostile game at %g: %llu frames passed, %llu answers replaced (%.0f a session), %llu "
                     "whole-session faults, %llu invariants checked, at most %d calls between two waits\n",
                     options.hostileRate, (unsigned long long)frames, (unsigned long long)answers,
                     (double)answers / (double)sessions, (unsigned long long)spells,
                     (unsigned long long)checks, maxCalls);
    }
    std::fprintf(out, "%llu passed, %llu failed\n", (unsigned long long)passed, (unsigned long long)failed);
    return failed;
}

static bool parseSeed(const std::string& text, uint64_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        return false;
    *out = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

bool parseSeeds(const std::string& text, uint64_t* first, uint64_t* last) {
    const size_t dots = text.find("..");
    if (dots == std::string::npos) {
        if (!parseSeed(text, first)) return false;
        *last = *first;
        return true;
    }
    return parseSeed(text.substr(0, dots), first) && parseSeed(text.substr(dots + 2), last) &&
           *first <= *last;
}

} // namespace stress
