// The stand-in host itself: fresh loads, its tick count in the plug-in, the
// script's waits, the protocol checks and the model's computed answers.
#include "plugin_test.h"
#include "native_text.h"
#include "standin/native_table.h"

#include <filesystem>
#include <thread>

namespace {

using sim::CallKind;

// Sessions of the probe plug-in, which does what its settings file names.
class Probe : public ::testing::Test {
  protected:
    void start(const char* mode) {
        sim::StartOptions o;
        o.pluginPath = SIM_PROBE_PLUGIN;
        o.withSettings = true;
        o.settings = mode;
        std::string error;
        ASSERT_TRUE(sim::start(o, &error)) << error;
    }
    void TearDown() override {
        if (sim::running()) sim::stop();
    }
    // The faults found since the last look.
    std::vector<std::string> newFaults() {
        const std::vector<std::string>& all = sim::violations();
        std::vector<std::string> out(all.begin() + (long)seen, all.end());
        seen = all.size();
        return out;
    }
    static int32_t noted(const char* name) { return sim::world().effects[name]; }
    size_t seen = 0;
};

testing::AssertionResult oneFault(const std::vector<std::string>& faults, const std::string& containing) {
    if (faults.size() == 1 && faults[0].find(containing) != std::string::npos)
        return testing::AssertionSuccess();
    testing::AssertionResult r = testing::AssertionFailure()
                                 << "wanted one fault with \"" << containing << "\", got";
    for (const std::string& f : faults) r << " [" << f << "]";
    if (faults.empty()) r << " none";
    return r;
}

class Host : public PluginTest {};

TEST_F(Host, EverySessionLoadsThePluginAfresh) {
    start("[SETTINGS]\nTOLVENMIRE_KEY=80\n", "42");
    const std::string firstFolder = sim::workDir();
    EXPECT_TRUE(std::filesystem::exists(firstFolder + "/Tolvenmire.ini"));
    sim::playFrames(2);
    ASSERT_EQ(state().flaskLevel, 42);
    ASSERT_EQ(settings().drinkKey, 80);
    sim::stop();
    EXPECT_TRUE(sim::violations().empty()) << "the plug-in must have been unmapped";
    EXPECT_FALSE(std::filesystem::exists(firstFolder)) << "the session's folder is removed";
    EXPECT_EQ(sim::pluginState(), nullptr);

    start();
    EXPECT_NE(sim::workDir(), firstFolder);
    EXPECT_EQ(state().flaskLevel, 99) << "static state survived the unload";
    EXPECT_EQ(state().playerPed, 0);
    EXPECT_EQ(settings().drinkKey, 79) << "the settings were not read again";
    sim::playFrames(1);
    EXPECT_EQ(state().flaskLevel, 99);
}

TEST_F(Host, ThePluginReadsTheHostsTickCount) {
    start();
    world().onFoot = 0; // a trigger shows as one condition query
    sim::freezeTickCount(true);
    sim::playFrames(1);
    auto triggersAt = [](uint32_t tick) {
        sim::setTickCount(tick);
        for (const sim::Call& c : nativesIn(nextFrame()))
            if (c.hash == natives::IsPedOnFoot) return true;
        return false;
    };
    sim::setTickCount(7000);
    sim::keyEvent(79, 0, 0, 1);
    EXPECT_TRUE(triggersAt(7099));
    // On the real clock this event would be a few microseconds old, and trigger.
    sim::setTickCount(8000);
    sim::keyEvent(79, 0, 0, 1);
    EXPECT_FALSE(triggersAt(8100));
#ifndef _WIN32
    // Here the host's GetTickCount takes the system's place in the whole process;
    // on Windows only the plug-in's import of it is pointed at the host.
    EXPECT_EQ(GetTickCount(), 8100u);
#endif

    // Unfrozen, it moves with the frames.
    sim::freezeTickCount(false);
    sim::playFrames(3);
    EXPECT_EQ(sim::tickCount(), 8100u + 3 * world().frameMs);
}

TEST_F(Host, AWaitEndsAtTheFirstFrameItsTimeHasPassed) {
    world().missionFlag = true; // the script holds with waits of 3000 ms
    start();
    sim::playFrames(1);
    ASSERT_EQ(sim::resumes(), 1);
    EXPECT_TRUE(sim::scriptWaiting());
    EXPECT_EQ(sim::waitingFor(), 3000u);
    // 33 ms frames: 90 frames are 2970 ms, 91 are 3003 ms.
    sim::playFrames(90);
    EXPECT_EQ(sim::resumes(), 1);
    sim::playFrames(1);
    EXPECT_EQ(sim::resumes(), 2);
    EXPECT_EQ(sim::frame(), 92);
}

TEST_F(Host, DescribesACallOnOneLine) {
    start();
    sim::playFrames(1);
    std::vector<std::string> lines;
    for (const sim::Call& c : sim::callsInFrame(1)) lines.push_back(sim::describe(c));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "frame 1  " + hashText(natives::GetMissionFlag) + " MISC::GET_MISSION_FLAG() -> 0");
    EXPECT_EQ(lines[2], "frame 1  " + hashText(natives::GetGameTimer) + " MISC::GET_GAME_TIMER() -> 100033");
    EXPECT_EQ(lines.back(), "frame 1  scriptWait(0)");
    EXPECT_EQ(sim::describe(sim::calls()[0]).rfind("frame 0  scriptRegister(module 0x", 0), 0u);
}

TEST_F(Probe, EachProtocolFaultIsReported) {
    start("faults");
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "unknown native 0x0123456789ABCDEF"));
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "nativeInit(" + hashText(natives::GetGameTimer) + ") while native " +
                                          hashText(natives::GetGameTimer) + " is open"));
    sim::playFrames(1);
    std::vector<std::string> f = newFaults();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0], "nativePush64 without nativeInit");
    EXPECT_EQ(f[1], "nativeCall without nativeInit");
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "more than 12 arguments for native " + hashText(natives::DrawSprite)));
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "getGlobalPtr(42)"));
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "MISC::GET_GAME_TIMER) called with 1 arguments; it takes 0"));
    sim::playFrames(1);
    EXPECT_TRUE(oneFault(newFaults(), "0x00000000FFFFFFFE is not a sign-extended 32-bit value"));
    sim::playFrames(5);
    EXPECT_TRUE(newFaults().empty());
    // The unknown native is logged and answered with zeros.
    const sim::Call unknown = sim::callsInFrame(1)[0];
    EXPECT_EQ(unknown.hash, 0x0123456789ABCDEFu);
    EXPECT_EQ(unknown.result[0], 0u);
}

TEST_F(Probe, ScriptThreadFunctionsOutsideTheScriptAreReported) {
    start("attach-calls"); // a native, a wait and a global while loading
    std::vector<std::string> f = newFaults();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], "native " + hashText(natives::GetGameTimer) + " called off the script fiber");
    EXPECT_EQ(f[1], "scriptWait called off the script fiber");
    EXPECT_EQ(f[2], "getGlobalPtr(1935445) called off the script fiber");
    for (const sim::Call& c : sim::calls()) EXPECT_NE(c.kind, CallKind::Native) << "nothing answered";

    sim::playFrames(1);
    sim::keyEvent(1, 0, 0, 1); // a native
    EXPECT_TRUE(oneFault(newFaults(),
                         "native " + hashText(natives::GetGameTimer) + " called from the keyboard handler"));
    sim::keyEvent(2, 0, 0, 1); // a wait
    EXPECT_TRUE(oneFault(newFaults(), "scriptWait called from the keyboard handler"));
    sim::keyEvent(3, 0, 0, 1); // a registration
    EXPECT_TRUE(oneFault(newFaults(), "keyboardHandlerRegister called from the keyboard handler"));
    // The same from another thread.
    std::thread([] { sim::keyEvent(1, 0, 0, 1); }).join();
    EXPECT_TRUE(oneFault(newFaults(), "called from the keyboard handler"));
    std::thread([] { sim::keyEvent(9, 0, 0, 1); }).join();
    EXPECT_EQ(noted("probe.key"), 9);
    EXPECT_TRUE(newFaults().empty());
    // The script goes on as before.
    sim::playFrames(2);
    EXPECT_EQ(sim::resumes(), 3);
}

TEST_F(Probe, APluginThatRegistersNoScriptDoesNotStart) {
    sim::StartOptions o;
    o.pluginPath = SIM_PROBE_PLUGIN;
    o.withSettings = true;
    o.settings = "unregistered";
    std::string error;
    EXPECT_FALSE(sim::start(o, &error));
    EXPECT_NE(error.find("registered no script"), std::string::npos) << error;
    EXPECT_FALSE(sim::running());

    o.pluginPath = "/nonexistent/Tolvenmire.so";
    EXPECT_FALSE(sim::start(o, &error));
    EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
}

TEST_F(Probe, RegistrationsLeftAtUnloadAreReported) {
    start("stays-registered");
    sim::playFrames(1);
    sim::stop();
    std::vector<std::string> f = newFaults();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0], "the script is still registered after DLL_PROCESS_DETACH");
    EXPECT_EQ(f[1], "the keyboard handler is still registered after DLL_PROCESS_DETACH");
}

TEST_F(Probe, AScriptThatEndsIsNotResumedAgain) {
    start("returns");
    sim::playFrames(5);
    EXPECT_EQ(sim::resumes(), 2);
    EXPECT_FALSE(sim::scriptWaiting());
    EXPECT_TRUE(newFaults().empty());
}

TEST_F(Probe, TheModelComputesItsAnswers) {
    sim::world().target = 2001;
    sim::world().playerX = 5.0f;
    sim::world().playerY = -2.5f;
    sim::world().playerZ = 7.25f;
    sim::world().passOutAfterMs = 100; // four 33 ms frames at the top
    start("model");
    sim::playFrames(1);
    std::vector<sim::Call> c = sim::callsInFrame(1);
    ASSERT_EQ(c.size(), 7u); // five natives, the global, the wait
    EXPECT_EQ(c[0].resultInt(), 100033);
    EXPECT_EQ((uint32_t)c[1].result[0], 0x4CA3FEA4u) << "the game's hash of the name in lower case";
    EXPECT_EQ(c[1].str(0), "World_Human_Drink_Flask");
    float x, y, z;
    memcpy(&x, &c[2].result[0], 4);
    memcpy(&y, &c[2].result[1], 4);
    memcpy(&z, &c[2].result[2], 4);
    EXPECT_EQ(x, 5.0f);
    EXPECT_EQ(y, -2.5f);
    EXPECT_EQ(z, 7.25f);
    EXPECT_EQ(c[3].resultFloat(), 5.0f);
    EXPECT_EQ(c[4].resultInt(), 1);
    EXPECT_EQ(noted("probe.target"), 2001) << "written through the address";
    EXPECT_EQ(c[5].kind, CallKind::GlobalPtr);
    EXPECT_EQ(sim::world().intensityGlobal, 0x3F800000u);
    EXPECT_EQ(noted("probe.inHost.script"), 0) << "the plug-in's code runs outside the host";

    sim::playFrames(1);
    EXPECT_EQ(noted("probe.inHost.afterWait"), 0);
    EXPECT_FALSE(sim::inHost());
    EXPECT_EQ(sim::waitingFor(), 500u);
    // The global has held 1.0 since frame 1: the pass-out effect starts once that
    // has lasted 100 ms, and ends 8000 ms later.
    sim::playFrames(2);
    EXPECT_EQ(noted("PlayerDrunk01_PassOut"), 0);
    sim::playFrames(1);
    EXPECT_EQ(noted("PlayerDrunk01_PassOut"), 1);
    EXPECT_EQ(sim::world().passOuts, 1);
    sim::playMs(8000 - 33);
    EXPECT_EQ(noted("PlayerDrunk01_PassOut"), 1);
    sim::playFrames(1);
    EXPECT_EQ(noted("PlayerDrunk01_PassOut"), 0);
    EXPECT_TRUE(newFaults().empty());
}

TEST_F(Probe, TheObserverSeesEveryCallInsideTheHost) {
    sim::StartOptions o;
    o.pluginPath = SIM_PROBE_PLUGIN;
    o.withSettings = true;
    o.settings = "model";
    o.record = false;
    int seen = 0;
    bool allInHost = true;
    o.observer = [&](const sim::Call&) {
        ++seen;
        allInHost = allInHost && sim::inHost();
    };
    std::string error;
    ASSERT_TRUE(sim::start(o, &error)) << error;
    sim::playFrames(3);
    EXPECT_TRUE(sim::calls().empty()) << "nothing recorded";
    EXPECT_EQ(seen, 2 + 7 + 1); // the registrations, frame 1, frame 2's wait (frame 3 still waits)
    sim::stop();                // the unregistrations too, while `seen` lives
    EXPECT_EQ(seen, 12);
    EXPECT_TRUE(allInHost);
}

} // namespace
