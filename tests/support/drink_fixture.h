// Drinking through the stand-in host: a session in which the game timer is set
// frame by frame, the sobering clock stands still until a test moves it, the
// drinking scenario runs as soon as it is asked for, and the drink key is at hand.
#pragma once

#include "file_text.h"
#include "plugin_test.h"
#include "standin/game_hashes.h"
#include "standin/native_table.h"

#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace drink {

// The game timer's reading (ms) the cases play from.
inline constexpr int32_t T = 200000;

// The natives the tests' call sequences name, by the game's names.
using natives::AnimpostfxIsRunning;
using natives::ClearPedTasks;
using natives::DisableControlAction;
using natives::DrawSprite;
using natives::GetControlNormal;
using natives::GetEntityMaxHealth;
using natives::GetGameTimer;
using natives::GetInteriorFromEntity;
using natives::GetMissionFlag;
using natives::GetSecondsSinceBaseYear;
using natives::HasStreamedTxdLoaded;
using natives::IsControlJustReleased;
using natives::IsPedOnFoot;
using natives::IsPedUsingScenarioHash;
using natives::IsPlayerFreeAiming;
using natives::IsUsingKeyboardAndMouse;
using natives::PlayerPedId;
using natives::RequestStreamedTextureDict;
using natives::RestorePedStamina;
using natives::SetAttributeCoreValue;
using natives::SetEntityHealth;
using natives::SetPlayerHealthRechargeMultiplier;
using natives::SetPlayerStaminaRechargeMultiplier;
using natives::TaskStartScenarioInPlaceHash;
using natives::UiPromptDelete;
using natives::UiPromptHasHoldModeCompleted;
using natives::UiPromptRegisterBegin;
using natives::UiPromptRegisterEnd;
using natives::UiPromptSetControlAction;
using natives::UiPromptSetEnabled;
using natives::UiPromptSetHoldMode;
using natives::UiPromptSetPriority;
using natives::UiPromptSetText;
using natives::UiPromptSetVisible;
using natives::VarString;
const uint64_t GlobalWrite = 0; // stands for an access of the intensity global in a call sequence

const uint32_t DrinkFlask = hashes::WorldHumanDrinkFlask;
const uint32_t StopControlA = hashes::InputMoveUd;
const uint32_t StopControlB = hashes::InputMoveLr;
const uint32_t DeadeyeControlA = hashes::InputSpecialAbility;
const uint32_t DeadeyeControlB = hashes::InputSpecialAbilitySecondary;
const int32_t IntensityGlobal = 1935445;
const int32_t Player = 1001;            // the stand-in game's player character
const uint32_t Intensity0 = 0x3EFEB19F; // the intensity of a sober drunkLevel
const uint32_t One = 0x3F800000;        // 1.0f

// One expected argument slot: a number exactly as pushed, or a string by content.
struct Arg {
    bool isText = false;
    uint64_t slot = 0;
    std::string text;
    Arg(int32_t v) : slot((uint32_t)v) {}
    Arg(uint32_t v) : slot(v) {}
    Arg(float f) {
        uint32_t b;
        memcpy(&b, &f, sizeof b);
        slot = b;
    }
    Arg(const char* s) : isText(true), text(s) {}
    static Arg whole(uint64_t v) {
        Arg a(0);
        a.slot = v;
        return a;
    }
};
struct Native {
    uint64_t hash;
    std::vector<Arg> args;
};

// Concatenates call sequences.
inline std::vector<Native> seq(std::initializer_list<std::vector<Native>> parts) {
    std::vector<Native> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// How every TickUpdate starts, and how a frame ends with the deadeye lock armed,
// the game's deadeye condition true and the player outside the saloons.
inline std::vector<Native> frameStart() {
    return {{GetMissionFlag, {}}, {PlayerPedId, {}}, {GetGameTimer, {}}};
}
inline std::vector<Native> frameEnd() {
    return {{IsPlayerFreeAiming, {0}},
            {DisableControlAction, {0, DeadeyeControlA, 1}},
            {DisableControlAction, {0, DeadeyeControlB, 1}},
            {GetInteriorFromEntity, {Player}}};
}

// "0xHASH(slot, 'text', ...)"; `texts` tells which arguments are strings.
inline std::string render(uint64_t hash, int argc, const uint64_t* slots, const std::string* strings,
                          const std::vector<Arg>* texts) {
    std::ostringstream s;
    s << std::hex << std::uppercase << "0x" << std::setw(16) << std::setfill('0') << hash << std::setfill(' ')
      << "(";
    for (int k = 0; k < argc; ++k) {
        const bool text = texts && k < (int)texts->size() && (*texts)[(size_t)k].isText;
        s << (k ? ", " : "");
        if (text)
            s << "'" << strings[k] << "'";
        else
            s << "0x" << slots[k];
    }
    return s.str() + ")";
}

// The calls are the expected natives one for one, arguments included.
inline ::testing::AssertionResult sameNatives(const std::vector<sim::Call>& got,
                                              const std::vector<Native>& want) {
    std::string g, w;
    for (size_t i = 0; i < got.size(); ++i) {
        const sim::Call& c = got[i];
        const uint64_t index = (uint64_t)c.globalIndex;
        const std::string line =
            c.kind == sim::CallKind::GlobalPtr
                ? render(GlobalWrite, 1, &index, c.text, nullptr)
                : render(c.hash, c.argc, c.args, c.text, i < want.size() ? &want[i].args : nullptr);
        g.append("    ").append(line).append("\n");
    }
    for (const Native& n : want) {
        std::vector<uint64_t> slots;
        std::vector<std::string> texts;
        for (const Arg& a : n.args) {
            slots.push_back(a.slot);
            texts.push_back(a.text);
        }
        w.append("    ")
            .append(render(n.hash, (int)n.args.size(), slots.data(), texts.data(), &n.args))
            .append("\n");
    }
    if (g == w) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n  expected:\n" << w << "  made:\n" << g;
}

class DrinkTest : public PluginTest {
  protected:
    // Starts a session and plays its first frame, in which the script loads the
    // flask. The scenario test answers from `scenarioAnswers`, then 1.
    void begin(const char* settings = nullptr, const char* save = nullptr) {
        startSession(settings, save);
        sim::playFrames(1);
    }
    // The same without playing a frame: the script has not run yet.
    void startSession(const char* settings = nullptr, const char* save = nullptr) {
        start(settings, save);
        world().clockPerSecond = 0.0;
        world().clock = 0;
        world().autoPassOut = false;
        world().overrides[IsPedUsingScenarioHash] = [this](const sim::Call&, uint64_t* r) {
            int32_t answer = 1;
            if (!scenarioAnswers.empty()) {
                answer = scenarioAnswers.front();
                scenarioAnswers.pop_front();
            }
            r[0] = (uint32_t)answer;
            return true;
        };
        sim::freezeTickCount(true);
        sim::setTickCount(1000000);
    }

    // Plays one frame whose game timer reads `now`; returns its number. The frame
    // starts with TickUpdate, which keeps `now`.
    static int tickAt(int32_t now) {
        world().timer = (uint32_t)now - world().frameMs;
        sim::playFrames(1);
        EXPECT_EQ(state().now, now) << "frame " << sim::frame();
        return sim::frame();
    }
    // A frame at `now` in which the drink key has just been pressed.
    static int pressKeyAt(int32_t now) {
        sim::keyEvent(79, 0, 0, 1);
        return tickAt(now);
    }
    // Starts a drink at `now`; the scenario runs at once.
    static void startDrinkAt(int32_t now) {
        pressKeyAt(now);
        ASSERT_TRUE(state().drinking);
        ASSERT_EQ(state().sipStartTime, now + 5500);
    }
    // Frames 121 ms apart, one sip each, until intakeLevel reaches `target`; `t` is
    // the time of the last frame played.
    static void sipUntil(int32_t target, int32_t& t) {
        for (int guard = 0; state().intakeLevel < target && guard < 400; ++guard) {
            t += 121;
            tickAt(t);
            ASSERT_TRUE(state().drinking);
        }
        ASSERT_EQ(state().intakeLevel, target);
    }
    // A frame at `now` in which the first stop control is pushed.
    static int stopAt(int32_t now) {
        world().analog[StopControlA] = 1.0f;
        const int f = tickAt(now);
        world().analog[StopControlA] = 0.0f;
        return f;
    }

    static std::vector<sim::Call> callsOf(int frame, uint64_t hash) {
        std::vector<sim::Call> out;
        for (const sim::Call& c : nativesIn(frame))
            if (c.hash == hash) out.push_back(c);
        return out;
    }
    static int count(int frame, uint64_t hash) { return (int)callsOf(frame, hash).size(); }
    // The natives and the accesses of the intensity global of a frame, in order.
    static std::vector<sim::Call> nativesAndGlobalIn(int frame) {
        std::vector<sim::Call> out;
        for (const sim::Call& c : sim::callsInFrame(frame))
            if (c.kind == sim::CallKind::Native || c.kind == sim::CallKind::GlobalPtr) out.push_back(c);
        return out;
    }
    // The last `n` natives of a frame (all of them when there are fewer).
    static std::vector<sim::Call> lastOf(int frame, size_t n) {
        std::vector<sim::Call> calls = nativesIn(frame);
        if (calls.size() > n) calls.erase(calls.begin(), calls.end() - (long)n);
        return calls;
    }
    // Writes of the intensity global in a frame.
    static int globalWrites(int frame) {
        int n = 0;
        for (const sim::Call& c : sim::callsInFrame(frame))
            if (c.kind == sim::CallKind::GlobalPtr && c.globalIndex == IntensityGlobal) ++n;
        return n;
    }

    // An out-of-play hold: the frame that enters it, then frames until TickUpdate
    // runs again, which is returned.
    static int holdOnce() {
        world().missionFlag = true;
        sim::playFrames(1);
        world().missionFlag = false;
        for (int guard = 0; guard < 400; ++guard) { // up to 3000 ms of waiting
            const int f = nextFrame();
            if (count(f, PlayerPedId) == 1) return f;
        }
        ADD_FAILURE() << "the hold did not end";
        return 0;
    }

    static std::string path(const char* name) { return sim::workDir() + "/" + name; }
    static std::optional<std::string> readFile(const char* name) { return fileText(path(name)); }
    static void writeFile(const char* name, const std::string& bytes) {
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    std::deque<int32_t> scenarioAnswers;
};

} // namespace drink
