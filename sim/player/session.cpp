#include "session.h"

#include "base/script_state.h"
#include "base/settings.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <queue>
#include <random>
#include <sstream>

namespace player {

const char* topicName(Topic topic) {
    switch (topic) {
    case Topic::Start:
        return "start";
    case Topic::Action:
        return "scenario";
    case Topic::Prompt:
        return "prompt";
    case Topic::Drink:
        return "drink";
    case Topic::Levels:
        return "levels";
    case Topic::Deadeye:
        return "deadeye";
    case Topic::PassOut:
        return "pass-out";
    case Topic::Refill:
        return "refill";
    case Topic::Hold:
        return "hold";
    case Topic::Restart:
        return "restart";
    case Topic::Expect:
        return "expect";
    case Topic::Warning:
        return "warning";
    }
    return "?";
}

int SessionResult::failures() const {
    int n = (int)violations.size();
    for (const ExpectResult& e : expectations) n += e.passed ? 0 : 1;
    return n;
}

std::string keyName(int64_t code) {
    if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9'))
        return std::string(1, (char)code) + " (" + std::to_string(code) + ")";
    return std::to_string(code);
}

namespace {

// The natives the player watches, by role.
const uint64_t OutOfPlayQuery = 0xB15CD1CF58771DE1;
const uint64_t PlayerPedQuery = 0x096275889B8E0EE0; // the first native of every TickUpdate
const uint64_t PromptCompleted = 0xE0F65F0640EF0617;
const uint64_t ControlValue = 0xEC3C9B8D5327B563;
const uint64_t PlayerControl = 0x4D51E59243281D80;
const uint64_t FadeOut = 0x40C719A5E410B9E4;
const uint64_t FadeIn = 0x6A053CF596F67DF7;
const uint64_t TakeCash = 0x466BC8769CF26A7A;
const uint64_t RestorePed = 0x675680D089BFA21F;

const char* const PassOutEffect = "PlayerDrunk01_PassOut";
const char* const DrinkLabel = "Drink From Flask";

float floatOf(uint64_t cell) {
    const uint32_t bits = (uint32_t)cell;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

std::string fixed(double v, int places) {
    char b[64];
    snprintf(b, sizeof b, "%.*f", places, v);
    return b;
}

// What one frame showed through the calls it made.
struct FrameSeen {
    bool tick = false;      // TickUpdate ran
    bool heldQuery = false; // the out-of-play query answered non-zero
    bool stopRead = false;  // a stop control read non-zero
    bool controlTaken = false, controlBack = false;
    bool fadeOut = false, fadeIn = false;
    bool restored = false;
    std::vector<int32_t> completed; // prompts whose completion test answered yes
    std::vector<int32_t> charges;
    void clear() {
        tick = heldQuery = stopRead = controlTaken = controlBack = fadeOut = fadeIn = restored = false;
        completed.clear();
        charges.clear();
    }
};

// The plug-in's and the world's state between two frames, for telling changes.
struct Snap {
    int32_t flask = 99, intake = 0, drunk = 0;
    bool drinking = false, passedOut = false, deadeye = false;
    bool drinkPrompt = false, refillPrompt = false;
    int32_t drinkPromptHandle = 0, refillPromptHandle = 0;
    int32_t nextSipTime = 0;
    uint64_t global = 0;
    bool passOutEffect = false;
    bool scenarioRunning = false;
    size_t speech = 0;
    int32_t nextPromptHandle = 1;
};

// A prompt's show-and-withdraw lines; a prompt toggled frame after frame (its
// control held) is told once, with a count.
struct PromptNoise {
    int lastFrame = -10;
    int run = 0;        // consecutive frames with a toggle
    int suppressed = 0; // toggles not told
};

// The game's folder for a whole session: the plug-in finds its settings and its
// save file there at every load, so it must outlive each load and go at the end,
// also when the session stops early.
class GameFolder {
  public:
    ~GameFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    bool make(std::string* error) {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec) {
            *error = "cannot find the folder for temporary files: " + ec.message();
            return false;
        }
        // A new name until one is free; making the folder is what claims it.
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[40];
            snprintf(name, sizeof name, "tolvenmire-sim-%08x", (unsigned)random());
            const std::filesystem::path folder = base / name;
            if (std::filesystem::create_directory(folder, ec)) {
                path_ = folder.string();
                return true;
            }
            if (ec) {
                *error = "cannot make a folder " + folder.string() + ": " + ec.message();
                return false;
            }
        }
        *error = "cannot make a folder under " + base.string() + ": every name tried is taken";
        return false;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The world of a game started again: time runs on, and the player, where he is,
// his money and health and the game's own settings are as they were; what the old
// plug-in's run had put into the game (prompts, the drinking scenario, screen
// effects, the intensity global, the loaded texture dictionaries) is not there.
sim::World carriedOver(const sim::World& old) {
    sim::World w;
    w.timer = old.timer;
    w.frameMs = old.frameMs;
    w.clock = old.clock;
    w.clockPerSecond = old.clockPerSecond;
    w.clockCarry = old.clockCarry;
    w.playerPed = old.playerPed;
    w.playerModel = old.playerModel;
    w.playerCondition = old.playerCondition;
    w.playerX = old.playerX;
    w.playerY = old.playerY;
    w.playerZ = old.playerZ;
    w.firstGuard = old.firstGuard;
    // The player's hands stay on the controls.
    w.promptControl = old.promptControl;
    w.analog = old.analog;
    w.scenarioStartFrames = old.scenarioStartFrames;
    w.scenarioNeverStarts = old.scenarioNeverStarts;
    w.textureLoadFrames = old.textureLoadFrames;
    w.interior = old.interior;
    w.peds = old.peds;
    w.target = old.target;
    w.distanceIsNaN = old.distanceIsNaN;
    w.cash = old.cash;
    w.charges = old.charges;
    w.speech = old.speech; // what has been said in the session, for `expect spoken`
    w.healingRate[0] = old.healingRate[0];
    w.healingRate[1] = old.healingRate[1];
    w.restoreCalls = old.restoreCalls;
    w.playerValue = old.playerValue;
    for (int i = 0; i < 3; ++i) w.coreValues[i] = old.coreValues[i];
    w.deadeyeCondition = old.deadeyeCondition;
    w.autoPassOut = old.autoPassOut;
    w.passOutAfterMs = old.passOutAfterMs;
    w.passOutDurationMs = old.passOutDurationMs;
    w.passOuts = old.passOuts;
    w.overrides = old.overrides;
    return w;
}

struct Queued {
    Millis at;
    int seq;
    const Event* event; // null: the end of an out-of-play spell
    bool operator>(const Queued& o) const { return at != o.at ? at > o.at : seq > o.seq; }
};

class Session {
  public:
    Session(const Scenario& s, const PlayOptions& o, SessionResult* r) : sc(s), opt(o), res(r) {}
    bool run();

  private:
    const Scenario& sc;
    const PlayOptions& opt;
    SessionResult* res;

    GameFolder folder;
    bool broken = false; // the plug-in could not be loaded again: the session ends
    uint32_t startTimer = 0;
    int frameMs = 33;
    FrameSeen seen;
    Snap last;
    bool scriptStarted = false;
    bool live = false;

    std::priority_queue<Queued, std::vector<Queued>, std::greater<Queued>> queue;
    int seq = 0;
    std::vector<std::function<void()>> afterFrame;
    Millis spellEnd = -1; // the open out-of-play spell's end; -1 none
    bool held = false;    // the script is in its out-of-play hold
    Millis heldSince = 0;

    // Drinks.
    Millis drinkStart = 0;
    std::string drinkLabel;
    int drinkSips = 0;
    int32_t drinkFlask = 0;
    bool drinkScenarioSeen = false;
    // The levels' lines.
    int64_t second = 0;
    bool busy = false;
    int secondSips = 0;
    Snap told; // the levels last told
    // Refill.
    bool refilling = false;
    Millis refillStart = 0;
    int32_t refillFlask = 0;
    int64_t refillCharged = 0;
    bool thanked = false;
    std::string refillSaloon;
    // The pass-out effect.
    Millis passOutStart = 0;
    // Prompts.
    PromptNoise drinkNoise, refillNoise;
    // The out-of-play spell under way, for the chart.
    Millis spellStart = 0;
    std::string spellLabel;
    // The HUD picture's moment; -1: the last frame with sprites.
    Millis hudFrom = -1;

    sim::World& w() { return sim::world(); }
    const ScriptState& st() { return *sim::pluginState(); }
    Millis elapsed() { return (Millis)(uint32_t)(w().timer - startTimer); }
    Millis sinceStart(int32_t gameTime) { return (Millis)(int32_t)((uint32_t)gameTime - startTimer); }

    void say(Topic t, const std::string& text, int line = 0, bool failed = false) {
        say(elapsed(), t, text, line, failed);
    }
    void say(Millis at, Topic t, const std::string& text, int line = 0, bool failed = false) {
        Entry e;
        e.at = at;
        e.topic = t;
        e.text = text;
        e.line = line;
        e.failed = failed;
        if (opt.onEntry) opt.onEntry(e);
    }

    void onCall(const sim::Call& c);
    bool load(bool first, std::string* error);
    void unload();
    void restart(const Event& e, Millis at);
    void apply(const Event& e, Millis at);
    void endSpell(Millis at);
    void playFrame();
    void observe();
    void tellPrompts();
    void tellFlicker(Millis at, bool drink, const char* after);
    void tellPrompt(const char* label, PromptNoise& noise, const std::string& text);
    void tellLevels(bool boundary);
    void sample();
    void expect(const Event& e, Millis at);
    std::string readSave(bool* exists);
    std::string levelsText(const Snap& now, const Snap& before, bool withSips);
    Snap snapshot();
};

Snap Session::snapshot() {
    Snap s;
    const ScriptState& p = st();
    s.flask = p.flaskLevel;
    s.intake = p.intakeLevel;
    s.drunk = p.drunkLevel;
    s.drinking = p.drinking;
    s.passedOut = p.passedOut;
    s.deadeye = p.deadeyeLock;
    s.drinkPrompt = p.drinkPromptActive;
    s.refillPrompt = p.refillPromptActive;
    s.drinkPromptHandle = p.drinkPrompt;
    s.refillPromptHandle = p.refillPrompt;
    s.nextSipTime = p.nextSipTime;
    const sim::World& world = w();
    s.global = world.intensityGlobal;
    auto effect = world.effects.find(PassOutEffect);
    s.passOutEffect = world.passOutLeftMs > 0 || (effect != world.effects.end() && effect->second != 0);
    s.scenarioRunning = world.scenarioRunning;
    s.speech = world.speech.size();
    s.nextPromptHandle = world.nextPromptHandle;
    return s;
}

void Session::onCall(const sim::Call& c) {
    if (!live) return;
    if (opt.onTrace)
        opt.onTrace(formatTime((Millis)(uint32_t)(c.timer - startTimer)) + "  " + sim::describe(c));
    if (c.kind != sim::CallKind::Native) return;
    switch (c.hash) {
    case OutOfPlayQuery:
        if (c.resultInt() != 0) seen.heldQuery = true;
        break;
    case PlayerPedQuery:
        seen.tick = true;
        break;
    case PromptCompleted:
        if (c.resultInt() != 0) seen.completed.push_back(c.i32(0));
        break;
    case ControlValue: {
        const float v = c.resultFloat();
        if (v < 0.0f || v > 0.0f) seen.stopRead = true;
        break;
    }
    case PlayerControl:
        (c.i32(1) == 0 ? seen.controlTaken : seen.controlBack) = true;
        break;
    case FadeOut:
        seen.fadeOut = true;
        break;
    case FadeIn:
        seen.fadeIn = true;
        break;
    case TakeCash:
        seen.charges.push_back(c.i32(0));
        break;
    case RestorePed:
        seen.restored = true;
        break;
    default:
        break;
    }
}

std::string Session::readSave(bool* exists) {
    std::ifstream in(sim::workDir() + "/Tolvenmire.dat", std::ios::binary);
    *exists = (bool)in;
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

void Session::apply(const Event& e, Millis at) {
    using K = Event::Kind;
    sim::World& world = w();
    switch (e.kind) {
    case K::PressKey: {
        const int64_t key = e.number >= 0 ? e.number : (int64_t)(uint32_t)sim::pluginSettings()->drinkKey;
        say(at, Topic::Action, e.written + (e.number < 0 ? " — " + keyName(key) : ""), e.line);
        sim::keyEvent((uint32_t)key, 0, 0, 1);
        break;
    }
    case K::PressControl: {
        say(at, Topic::Action, e.written, e.line);
        const uint32_t control = (uint32_t)e.number;
        world.analog[control] = 1.0f;
        afterFrame.push_back([this, control] { w().analog[control] = 0.0f; });
        break;
    }
    case K::PromptControl:
        say(at, Topic::Action, e.written, e.line);
        world.promptControl = e.number == 2 ? 0 : 1;
        if (e.number == 0) afterFrame.push_back([this] { w().promptControl = 0; });
        break;
    case K::Complete: {
        const bool drink = e.name == "drink";
        const bool shown = drink ? st().drinkPromptActive : st().refillPromptActive;
        const int32_t handle = drink ? st().drinkPrompt : st().refillPrompt;
        auto it = world.prompts.find(handle);
        if (!shown || it == world.prompts.end() || !it->second.alive) {
            say(at, Topic::Warning,
                e.written + ": no " + (drink ? "drink" : "refill") +
                    " prompt is shown, so there is nothing to complete",
                e.line);
            break;
        }
        say(at, Topic::Action, e.written, e.line);
        // The player completes it once: the completion test answers yes in the next
        // frame only.
        it->second.completed = true;
        afterFrame.push_back([this, handle] {
            auto p = w().prompts.find(handle);
            if (p != w().prompts.end()) p->second.completed = false;
        });
        break;
    }
    case K::OutOfPlay: {
        const std::string what = e.name == "death"      ? "the player dies"
                                 : e.name == "cutscene" ? "a cutscene plays"
                                                        : "out of play";
        say(at, Topic::Action,
            e.written + " — " + what +
                (e.duration ? " for " + formatDuration(e.duration) : " until back-in-play"),
            e.line);
        if (!world.outOfPlay) {
            spellStart = at;
            spellLabel = e.name;
            ++res->counts.spells;
        }
        world.outOfPlay = true;
        spellEnd = e.duration ? std::max(spellEnd, at + e.duration) : -2;
        if (e.duration) queue.push({at + e.duration, seq++, nullptr});
        break;
    }
    case K::BackInPlay:
        say(at, Topic::Action, e.written, e.line);
        endSpell(at);
        break;
    case K::Enter: {
        const Saloon* s = saloonAt((int32_t)e.number);
        say(at, Topic::Action,
            e.written + (s ? " — interior " + std::to_string(s->interior) + ", bartender " + s->voice
                           : std::string(" — not a saloon")),
            e.line);
        world.interior = (int32_t)e.number;
        break;
    }
    case K::Leave:
        say(at, Topic::Action, e.written, e.line);
        world.interior = 0;
        break;
    case K::Target: {
        if (e.name == "none") {
            say(at, Topic::Action, e.written, e.line);
            world.target = 0;
            break;
        }
        sim::Ped ped;
        std::string who;
        if (e.name == "bartender") {
            const Saloon* s = saloonAt(e.number ? (int32_t)e.number : world.interior);
            if (!s) {
                say(at, Topic::Warning,
                    e.written + ": the player is in no saloon; say which: target bartender of NAME", e.line);
                break;
            }
            ped.handle = 3000 + (int32_t)(s - saloons().data());
            ped.model = s->bartender;
            ped.promptGroup = 700 + (int32_t)(s - saloons().data());
            who = std::string("the bartender of ") + s->name;
        } else {
            ped.handle = 4000;
            ped.model = 0x5A5A5A5A;
            ped.promptGroup = 799;
            who = "a stranger";
        }
        ped.x = world.playerX + (float)e.value;
        ped.y = world.playerY;
        ped.z = world.playerZ;
        world.peds[ped.handle] = ped;
        world.target = ped.handle;
        say(at, Topic::Action, e.written + " — " + who + ", " + fixed(e.value, 1) + " away", e.line);
        break;
    }
    case K::Cash:
        say(at, Topic::Action, e.written, e.line);
        world.cash = e.number;
        break;
    case K::Model:
        say(at, Topic::Action, e.written, e.line);
        world.playerModel = (uint32_t)e.number;
        break;
    case K::ClockRate:
        say(at, Topic::Action, e.written, e.line);
        world.clockPerSecond = e.value;
        break;
    case K::Clock:
        say(at, Topic::Action, e.written, e.line);
        world.clock = (int32_t)e.number;
        break;
    case K::Knob: {
        say(at, Topic::Action, e.written, e.line);
        const std::string& k = e.name;
        const int32_t v = (int32_t)e.value;
        if (k == "player-condition")
            world.playerCondition = v;
        else if (k == "first-guard")
            world.firstGuard = v;
        else if (k == "hud-wheel")
            world.effects["WheelHUDIn"] = v;
        else if (k == "deadeye-condition")
            world.deadeyeCondition = v;
        else if (k == "scenario-start-frames")
            world.scenarioStartFrames = v;
        else if (k == "scenario-never-starts")
            world.scenarioNeverStarts = v != 0;
        else if (k == "texture-load-frames")
            world.textureLoadFrames = v;
        else if (k == "auto-pass-out")
            world.autoPassOut = v != 0;
        else if (k == "pass-out-after")
            world.passOutAfterMs = (uint32_t)e.value;
        else if (k == "pass-out-duration")
            world.passOutDurationMs = (uint32_t)e.value;
        else if (k == "pass-out-effect")
            world.effects[PassOutEffect] = v;
        else if (k == "distance-nan")
            world.distanceIsNaN = v != 0;
        break;
    }
    case K::Expect:
        expect(e, at);
        break;
    case K::Restart:
        restart(e, at);
        break;
    case K::End:
        break;
    }
}

bool Session::load(bool first, std::string* error) {
    sim::StartOptions o;
    o.pluginPath = opt.pluginPath;
    o.workDir = folder.path();
    // The scenario's files go into the folder once; a game started again finds
    // them as the last load left them.
    o.withSettings = first && sc.withSettings;
    o.settings = sc.settings;
    o.withSave = first && sc.withSave;
    o.save = sc.save;
    o.record = false;
    o.observer = [this](const sim::Call& c) { onCall(c); };
    return sim::start(o, error);
}

// DllMain(DETACH) and the unload; the faults the host saw in this load are kept.
void Session::unload() {
    sim::stop();
    for (const std::string& v : sim::violations()) res->violations.push_back(v);
}

void Session::restart(const Event& e, Millis at) {
    const Snap was = last;
    say(at, Topic::Restart, "the game quits (nothing is saved on the way out) and starts again", e.line);
    if (drinkNoise.suppressed > 0) tellFlicker(at, true, "until the game quit");
    if (refillNoise.suppressed > 0) tellFlicker(at, false, "until the game quit");
    // What was under way ends with the old load.
    if (was.drinking) {
        res->recording.drinks.push_back({drinkStart, at, drinkLabel});
        say(at, Topic::Drink,
            "drink cut off by the quit after " + formatDuration(at - drinkStart) + ": " +
                std::to_string(drinkSips) + (drinkSips == 1 ? " sip" : " sips") + ", flask " +
                std::to_string(drinkFlask) + " → " + std::to_string(was.flask) + ", not saved");
    }
    if (refilling) {
        res->recording.refills.push_back({refillStart, at, "refill (cut off)"});
        say(at, Topic::Refill, "the service is cut off by the quit");
    }
    if (was.passOutEffect) res->recording.passOuts.push_back({passOutStart, at, "passed out"});
    if (w().outOfPlay) {
        res->recording.outOfPlay.push_back({spellStart, at, spellLabel});
        say(at, Topic::Hold, "the game starts again with the player in play");
    }
    bool exists = false;
    const std::string save = readSave(&exists);
    say(at, Topic::Restart,
        "unloaded with flask " + std::to_string(was.flask) + ", intake " + std::to_string(was.intake) +
            ", drunk " + std::to_string(was.drunk) + " in memory; " +
            (exists ? "the save file holds " + quoted(save) : std::string("there is no save file")));

    const sim::World old = w();
    const uint32_t ticks = sim::tickCount();
    unload();
    sim::world() = carriedOver(old);
    sim::setTickCount(ticks); // the machine's clock does not stop for a game
    std::string error;
    if (!load(false, &error)) {
        broken = true;
        res->error = "the plug-in could not be started again after the restart at " + formatTime(at) +
                     (error.empty() ? std::string() : ": " + error);
        return;
    }
    ++res->counts.restarts;
    res->recording.restarts.push_back({at, "restart", false});

    // The new load's script starts at the next frame, from the plug-in's state at load.
    scriptStarted = false;
    held = false;
    spellEnd = -1;
    seen.clear();
    drinkSips = 0;
    drinkScenarioSeen = false;
    refilling = false;
    thanked = false;
    drinkNoise = PromptNoise();
    refillNoise = PromptNoise();
    busy = false;
    secondSips = 0;
    last = snapshot();
    told = last;
}

void Session::endSpell(Millis at) {
    if (!w().outOfPlay) return;
    w().outOfPlay = false;
    spellEnd = -1;
    res->recording.outOfPlay.push_back({spellStart, at, spellLabel});
    say(at, Topic::Hold,
        "back in play in the game; the script sees it at its next look (every 3 s while held)");
}

void Session::expect(const Event& e, Millis at) {
    using S = Expectation::Subject;
    using Op = Expectation::Op;
    const Expectation& x = e.expect;
    const ScriptState& p = st();
    const sim::World& world = w();
    double value = 0;
    bool numeric = true;
    bool flag = false;
    std::string got;
    auto money = [&](int64_t v) {
        value = (double)v;
        got = formatMoney(v);
    };
    auto number = [&](int64_t v) {
        value = (double)v;
        got = std::to_string(v);
    };
    auto on = [&](bool v, bool prompt) {
        numeric = false;
        flag = v;
        got = prompt ? (v ? "shown" : "hidden") : (v ? "on" : "off");
    };
    bool passed = false;
    switch (x.subject) {
    case S::Flask:
        number(p.flaskLevel);
        break;
    case S::Intake:
        number(p.intakeLevel);
        break;
    case S::Drunk:
        number(p.drunkLevel);
        break;
    case S::Cash:
        money(world.cash);
        break;
    case S::Charged:
        money(res->counts.charged);
        break;
    case S::Intensity:
        value = world.intensityGlobal == 0 ? 0.0 : (double)floatOf(world.intensityGlobal);
        got = world.intensityGlobal == 0 ? "0 (cleared)" : fixed(value, 7);
        break;
    case S::Drinks:
        number(res->counts.drinks);
        break;
    case S::Sips:
        number(res->counts.sips);
        break;
    case S::PassOuts:
        number(res->counts.passOuts);
        break;
    case S::Refills:
        number(res->counts.refills);
        break;
    case S::DrinkPrompt:
        on(p.drinkPromptActive, true);
        break;
    case S::RefillPrompt:
        on(p.refillPromptActive, true);
        break;
    case S::Drinking:
        on(p.drinking, false);
        break;
    case S::DeadeyeLock:
        on(p.deadeyeLock, false);
        break;
    case S::PassedOut:
        on(p.passedOut, false);
        break;
    case S::OutOfPlay:
        on(world.outOfPlay, false);
        break;
    case S::Save: {
        numeric = false;
        bool exists = false;
        const std::string content = readSave(&exists);
        got = exists ? quoted(content) : "none (no save file)";
        passed = x.present ? exists && content == x.text : !exists;
        break;
    }
    case S::Spoken:
    case S::NotSpoken: {
        numeric = false;
        int times = 0;
        for (const sim::Speech& s : world.speech) times += s.line == x.text ? 1 : 0;
        got = times == 0 ? "never spoken"
                         : "spoken " + std::to_string(times) + (times == 1 ? " time" : " times");
        passed = (times > 0) == (x.subject == S::Spoken);
        break;
    }
    }
    if (x.subject == S::DrinkPrompt || x.subject == S::RefillPrompt || x.subject == S::Drinking ||
        x.subject == S::DeadeyeLock || x.subject == S::PassedOut || x.subject == S::OutOfPlay)
        passed = flag == x.flag;
    else if (numeric) {
        const double tol = x.tolerance;
        switch (x.op) {
        case Op::Eq:
            passed = std::fabs(value - x.low) <= tol;
            break;
        case Op::Ne:
            passed = std::fabs(value - x.low) > tol;
            break;
        case Op::Lt:
            passed = value < x.low;
            break;
        case Op::Le:
            passed = value <= x.low + tol;
            break;
        case Op::Gt:
            passed = value > x.low;
            break;
        case Op::Ge:
            passed = value >= x.low - tol;
            break;
        case Op::Range:
            passed = value >= x.low - tol && value <= x.high + tol;
            break;
        }
    }
    ExpectResult r;
    r.at = at;
    r.line = e.line;
    r.written = x.written;
    r.passed = passed;
    r.got = got;
    res->expectations.push_back(r);
    res->recording.expectations.push_back({at, x.written, !passed});
    say(at, Topic::Expect, (passed ? "ok    " : "FAILED ") + x.written + (passed ? "" : " — got " + got),
        e.line, !passed);
}

std::string Session::levelsText(const Snap& now, const Snap& before, bool withSips) {
    auto arrow = [](int32_t a, int32_t b) { return a > b ? " ↑" : a < b ? " ↓" : "  "; };
    char b[200];
    snprintf(b, sizeof b, "intake %3d%s  drunk %3d%s  flask %2d%s  intensity %s", now.intake,
             arrow(now.intake, before.intake), now.drunk, arrow(now.drunk, before.drunk), now.flask,
             arrow(now.flask, before.flask),
             now.global == 0 ? "0 (cleared)" : fixed(floatOf(now.global), 4).c_str());
    std::string out = b;
    if (withSips && secondSips > 0)
        out += "  · " + std::to_string(secondSips) + (secondSips == 1 ? " sip" : " sips");
    return out;
}

void Session::tellLevels(bool boundary) {
    const Snap& now = last;
    if (!boundary) return;
    const bool changed = now.intake != told.intake || now.drunk != told.drunk || now.flask != told.flask;
    bool tell = false;
    if (busy) {
        tell = changed; // a line a second while drinking or served
    } else if (changed) {
        // Otherwise the tens, and the way down to zero.
        tell = now.intake / 10 != told.intake / 10 || now.drunk / 10 != told.drunk / 10 ||
               (now.intake == 0) != (told.intake == 0) || (now.drunk == 0) != (told.drunk == 0) ||
               now.flask != told.flask;
    }
    if (tell) {
        say(Topic::Levels, levelsText(now, told, busy));
        if (now.intake == 0 && now.drunk == 0 && (told.intake != 0 || told.drunk != 0))
            say(Topic::Levels, "sober again");
        told = now;
    }
    secondSips = 0;
    busy = now.drinking || refilling;
}

void Session::tellPrompt(const char* label, PromptNoise& noise, const std::string& text) {
    const int frame = sim::frame();
    noise.run = frame - noise.lastFrame <= 1 ? noise.run + 1 : 1;
    noise.lastFrame = frame;
    if (noise.run > 2) {
        ++noise.suppressed;
        return;
    }
    say(Topic::Prompt, std::string("\"") + label + "\" " + text);
}

void Session::tellPrompts() {
    const Snap now = last; // already the new state
    // Flicker that ended: told once.
    for (auto* n : {&drinkNoise, &refillNoise}) {
        if (n->suppressed > 0 && sim::frame() - n->lastFrame > 1) {
            const bool drink = n == &drinkNoise;
            tellFlicker(elapsed(), drink,
                        (drink ? now.drinkPrompt : now.refillPrompt) ? "now shown" : "now hidden");
        }
    }
}

void Session::tellFlicker(Millis at, bool drink, const char* after) {
    PromptNoise& n = drink ? drinkNoise : refillNoise;
    say(at, Topic::Prompt,
        std::string("\"") + (drink ? DrinkLabel : "Refill Flask") + "\" toggled " +
            std::to_string(n.suppressed) + " more times, once a frame" +
            (drink ? " (its control was held)" : "") + "; " + after);
    n.suppressed = 0;
}

void Session::sample() {
    Sample s;
    // The first sample stands for the start: the save file is read in the first frame.
    s.at = res->recording.samples.empty() ? 0 : elapsed();
    s.intake = last.intake;
    s.drunk = last.drunk;
    s.flask = last.flask;
    s.intensity = last.global == 0 ? 0.0f : floatOf(last.global);
    std::vector<Sample>& v = res->recording.samples;
    if (!v.empty() && v.back().intake == s.intake && v.back().drunk == s.drunk && v.back().flask == s.flask &&
        v.back().intensity == s.intensity)
        return;
    v.push_back(s);
}

void Session::playFrame() {
    seen.clear();
    sim::playFrames(1);
    ++res->frames;
    observe();
    for (auto& f : afterFrame) f();
    afterFrame.clear();
}

void Session::observe() {
    const Snap before = last;
    const Snap now = snapshot();
    last = now;
    const Millis t = elapsed();
    sim::World& world = w();
    const ScriptState& p = st();

    const bool startedNow = !scriptStarted && (seen.tick || seen.heldQuery);
    const bool resetNow = (seen.heldQuery && !held) || (!now.passedOut && before.passedOut);
    if (startedNow) {
        scriptStarted = true;
        bool exists = false;
        const std::string save = readSave(&exists);
        say(Topic::Start,
            "script started: flask " + std::to_string(now.flask) +
                (exists ? " (save file " + quoted(save) + ")" : " (no save file: a full flask)"));
        told = now;
    }

    // The out-of-play hold.
    if (seen.heldQuery && !held) {
        held = true;
        heldSince = t;
        if (before.intake || before.drunk)
            say(Topic::Hold, "script held; intoxication reset (intake " + std::to_string(before.intake) +
                                 " → 0, drunk " + std::to_string(before.drunk) + " → 0)");
        else
            say(Topic::Hold, "script held; intoxication reset");
        told.intake = now.intake;
        told.drunk = now.drunk;
    }
    if (held && seen.tick) {
        held = false;
        say(Topic::Hold, "script runs again after " + formatDuration(t - heldSince) + " held" +
                             (now.drinking ? "; still drinking" : ""));
    }

    // Prompts created this frame, and prompts withdrawn.
    for (int32_t h = before.nextPromptHandle; h < now.nextPromptHandle; ++h) {
        auto it = world.prompts.find(h);
        if (it == world.prompts.end()) continue;
        const sim::Prompt& pr = it->second;
        const bool drink = pr.label == DrinkLabel;
        PromptNoise& noise = drink ? drinkNoise : refillNoise;
        if (pr.alive)
            tellPrompt(pr.label.c_str(), noise, "shown");
        else {
            const bool completed =
                std::find(seen.completed.begin(), seen.completed.end(), h) != seen.completed.end();
            tellPrompt(pr.label.c_str(), noise,
                       completed ? "shown and completed at once" : "shown and withdrawn at once");
        }
    }
    auto withdrawn = [&](bool was, bool is, int32_t handle, PromptNoise& noise, const char* why) {
        if (!was || is || handle >= now.nextPromptHandle) return;
        if (handle >= before.nextPromptHandle) return; // told above
        auto it = world.prompts.find(handle);
        const std::string label = it != world.prompts.end() ? it->second.label : std::string("prompt");
        const bool completed =
            std::find(seen.completed.begin(), seen.completed.end(), handle) != seen.completed.end();
        tellPrompt(label.c_str(), noise, completed ? "completed" : std::string("withdrawn") + why);
    };
    withdrawn(before.drinkPrompt, now.drinkPrompt, before.drinkPromptHandle, drinkNoise,
              now.drinking || before.drinking ? "" : " by its control");
    withdrawn(before.refillPrompt, now.refillPrompt, before.refillPromptHandle, refillNoise,
              world.target == 0 ? " (no target)" : " (the target is not this saloon's bartender)");
    tellPrompts();

    // Drinks.
    if (now.drinking && !before.drinking) {
        const bool byPrompt = std::find(seen.completed.begin(), seen.completed.end(),
                                        before.drinkPromptHandle) != seen.completed.end() ||
                              std::find(seen.completed.begin(), seen.completed.end(),
                                        now.drinkPromptHandle) != seen.completed.end();
        ++res->counts.drinks;
        ++(byPrompt ? res->counts.drinksByPrompt : res->counts.drinksByKey);
        drinkStart = t;
        drinkLabel = byPrompt ? "drink (prompt)" : "drink (key)";
        drinkSips = 0;
        drinkFlask = now.flask;
        drinkScenarioSeen = now.scenarioRunning;
        say(Topic::Drink, std::string("drink started by the ") + (byPrompt ? "prompt" : "drink key") +
                              (now.scenarioRunning ? "" : "; waiting for the drinking scenario"));
    }
    if (now.drinking && now.scenarioRunning && !drinkScenarioSeen) {
        drinkScenarioSeen = true;
        say(Topic::Drink,
            "the drinking scenario runs; sips count from " + formatTime(sinceStart(p.sipStartTime)));
    }
    if (now.nextSipTime != before.nextSipTime) {
        ++res->counts.sips;
        ++drinkSips;
        ++secondSips;
    }
    if (!now.drinking && before.drinking) {
        std::string why;
        if (seen.stopRead)
            why = "a stop control";
        else if (now.flask < 1)
            why = "the flask is empty";
        else if (now.intake > 120)
            why = "intake is above 120";
        else if (!drinkScenarioSeen)
            why = "the drinking scenario never started";
        else
            why = "stopped by the plug-in";
        bool exists = false;
        const std::string save = readSave(&exists);
        say(Topic::Drink, "drink stopped after " + formatDuration(t - drinkStart) + " (" + why +
                              "): " + std::to_string(drinkSips) + (drinkSips == 1 ? " sip" : " sips") +
                              ", flask " + std::to_string(drinkFlask) + " → " + std::to_string(now.flask) +
                              ", saved " + (exists ? quoted(save) : "nothing (no save file)"));
        res->recording.drinks.push_back({drinkStart, t, drinkLabel});
        busy = true;
    }

    // The deadeye lock.
    if (now.deadeye != before.deadeye && scriptStarted) {
        const int32_t threshold = sim::pluginSettings()->deadeyeLockThreshold;
        std::string why;
        if (startedNow)
            why = "armed at script start, threshold " + std::to_string(threshold);
        else if (resetNow && now.deadeye)
            why = "re-armed by the reset";
        else
            why = "drunk " + std::to_string(before.drunk) + (now.deadeye ? " ≤ " : " > ") + "threshold " +
                  std::to_string(threshold);
        say(Topic::Deadeye, std::string("deadeye lock ") + (now.deadeye ? "on" : "off") + " (" + why + ")");
    }

    // The pass-out.
    if (now.passOutEffect && !before.passOutEffect) {
        passOutStart = t;
        say(Topic::PassOut, "the game plays the pass-out effect (intensity held at 1.0 for " +
                                formatDuration(world.passOutAfterMs) + ")");
    }
    if (!now.passOutEffect && before.passOutEffect) {
        res->recording.passOuts.push_back({passOutStart, t, "passed out"});
        say(Topic::PassOut, "the pass-out effect is over after " + formatDuration(t - passOutStart));
    }
    if (now.passedOut && !before.passedOut)
        say(Topic::PassOut, "the plug-in sees the pass-out (drunk " + std::to_string(now.drunk) + ")");
    if (!now.passedOut && before.passedOut) {
        ++res->counts.passOuts;
        say(Topic::PassOut, std::string("recovered: ") +
                                (seen.restored ? "the player is restored (health, core values); "
                                               : "no healing (HEAL_WHEN_DRUNK is 0); ") +
                                "intoxication reset (intake " + std::to_string(before.intake) +
                                " → 0, drunk " + std::to_string(before.drunk) + " → 0)");
        told.intake = now.intake;
        told.drunk = now.drunk;
    }

    // The refill.
    if (seen.controlTaken && !refilling) {
        refilling = true;
        busy = true;
        thanked = false;
        refillStart = t;
        refillFlask = before.flask;
        refillCharged = 0;
        const Saloon* s = saloonAt(world.interior);
        refillSaloon = s ? s->name : "?";
        say(Topic::Refill, "the bartender of " + refillSaloon + " serves; the player's control is taken");
    }
    for (size_t i = before.speech; i < now.speech && i < world.speech.size(); ++i) {
        const sim::Speech& s = world.speech[i];
        const bool player = s.speaker == world.playerPed;
        if (player) thanked = true;
        say(Topic::Refill, std::string(player ? "the player says " : "the bartender says ") + s.line +
                               " (voice " + (s.voice.empty() ? "none" : s.voice) + ")");
    }
    if (seen.fadeOut) say(Topic::Refill, "the screen fades out");
    if (refilling && now.flask != before.flask) {
        bool exists = false;
        const std::string save = readSave(&exists);
        say(Topic::Refill, "flask " + std::to_string(before.flask) + " → " + std::to_string(now.flask) +
                               ", saved " + (exists ? quoted(save) : "nothing"));
    }
    if (seen.fadeIn) say(Topic::Refill, "the screen fades in");
    if (seen.controlBack) say(Topic::Refill, "the player's control is given back");
    for (int32_t amount : seen.charges) {
        res->counts.charged += amount;
        refillCharged += amount;
        say(Topic::Refill, "charged " + formatMoney(amount) + ": cash " + formatMoney(world.cash + amount) +
                               " → " + formatMoney(world.cash));
    }
    // The transaction yields frames without running TickUpdate; the first frame that
    // runs it again is the first after the service.
    if (refilling && seen.tick && !seen.controlTaken) {
        refilling = false;
        ++res->counts.refills;
        res->recording.refills.push_back({refillStart, t, "refill " + formatMoney(refillCharged)});
        say(Topic::Refill, "served in " + formatDuration(t - refillStart) + ": flask " +
                               std::to_string(refillFlask) + " → " + std::to_string(now.flask) +
                               (thanked ? ""
                                        : "; no thanks from the player (drunk " + std::to_string(now.drunk) +
                                              ", 25 or more)"));
    }

    // The levels.
    const int64_t sec = t / 1000;
    busy = busy || now.drinking || refilling;
    tellLevels(sec != second);
    second = sec;
    if (startedNow || now.global != before.global || now.intake != before.intake ||
        now.drunk != before.drunk || now.flask != before.flask)
        sample();

    // The HUD picture.
    const bool wanted = hudFrom >= 0 ? t >= hudFrom && !res->recording.hud.taken : !world.sprites.empty();
    if (wanted) {
        HudShot& h = res->recording.hud;
        h.taken = true;
        h.at = t;
        h.frame = res->frames; // the session's, across restarts
        h.flask = now.flask;
        h.intake = now.intake;
        h.sprites = world.sprites;
    }
}

bool Session::run() {
    const auto wallStart = std::chrono::steady_clock::now();
    std::string error;
    if (!folder.make(&error)) {
        res->error = error;
        return false;
    }

    // The world as the scenario sets it up, before the load.
    frameMs = std::max(1, (int)std::lround(1000.0 / sc.fps));
    sim::world().frameMs = (uint32_t)frameMs;
    // The load's registrations are traced too; the world keeps its timer across it.
    startTimer = w().timer;
    live = true;
    if (!load(true, &error)) {
        live = false;
        res->error = error.empty() ? "the plug-in could not be started" : error;
        return false;
    }
    hudFrom = opt.hasHudAt ? opt.hudAt : sc.hasHudAt ? sc.hudAt : -1;

    const Settings& s = *sim::pluginSettings();
    char b[400];
    snprintf(b, sizeof b,
             "drink key %s · deadeye lock up to drunk %d · %s · refill %s · sobering 1 intake per %d clock "
             "units",
             keyName(s.drinkKey).c_str(), s.deadeyeLockThreshold,
             s.healWhenDrunk ? "heals when drunk" : "no healing when drunk",
             formatMoney((int64_t)s.refillPrice * 100).c_str(), s.soberUpInterval);
    res->settings = b;

    {
        const sim::World& world = w();
        char line[300];
        snprintf(
            line, sizeof line, "%d fps (%d ms frames) · cash %s · game clock %g units/s%s", sc.fps, frameMs,
            formatMoney(world.cash).c_str(), world.clockPerSecond,
            s.soberUpInterval > 0 && world.clockPerSecond > 0
                ? (" (sobering: 1 intake every " + fixed(s.soberUpInterval / world.clockPerSecond, 1) + " s)")
                      .c_str()
                : "");
        say(0, Topic::Start, res->settings);
        say(0, Topic::Start, line);
    }
    for (const Event& e : sc.setup) apply(e, 0);
    last = snapshot();
    told = last;

    for (const Event& e : sc.events) queue.push({e.at, seq++, &e});
    // Lines due by the next frame take effect before it; expectations look at the
    // state after it, so that an expectation beside an action sees its effect.
    std::vector<Queued> expects;
    for (;;) {
        const Millis next = elapsed() + frameMs;
        while (!queue.empty() && queue.top().at <= next) {
            const Queued q = queue.top();
            queue.pop();
            if (q.event && q.event->kind == Event::Kind::Expect)
                expects.push_back(q);
            else if (q.event)
                apply(*q.event, q.at);
            else if (w().outOfPlay && spellEnd >= 0 && q.at >= spellEnd)
                endSpell(q.at);
            if (broken) {
                live = false;
                return false;
            }
        }
        if (next > sc.end) break;
        playFrame();
        for (const Queued& q : expects) expect(*q.event, q.at);
        expects.clear();
    }
    for (const Queued& q : expects) expect(*q.event, q.at);
    // What is still open at the end.
    const Millis t = elapsed();
    if (last.drinking) res->recording.drinks.push_back({drinkStart, t, drinkLabel});
    if (last.passOutEffect) res->recording.passOuts.push_back({passOutStart, t, "passed out"});
    if (refilling) res->recording.refills.push_back({refillStart, t, "refill"});
    if (w().outOfPlay) res->recording.outOfPlay.push_back({spellStart, t, spellLabel});
    sample();
    res->recording.end = std::max<Millis>(sc.end, t);

    res->flask = last.flask;
    res->intake = last.intake;
    res->drunk = last.drunk;
    res->intensity = last.global == 0 ? 0.0f : floatOf(last.global);
    res->cash = w().cash;
    res->save = readSave(&res->saveExists);
    unload();
    live = false;
    for (const std::string& v : res->violations)
        say(t, Topic::Warning, "host: protocol fault: " + v, 0, true);
    res->wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return true;
}

} // namespace

bool play(const Scenario& scenario, const PlayOptions& options, SessionResult* result) {
    *result = SessionResult();
    result->recording.title = scenario.path;
    result->recording.subtitle =
        (scenario.withSettings ? "settings: " + scenario.settingsSource : std::string("default settings")) +
        " · " + (scenario.withSave ? "save file \"" + scenario.save + "\"" : std::string("no save file")) +
        " · " + std::to_string(scenario.fps) + " fps";
    Session s(scenario, options, result);
    return s.run();
}

} // namespace player
