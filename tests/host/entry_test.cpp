// Loading, registration and unloading of the plug-in, and that every load starts
// fresh.
#include "plugin_test.h"
#include "standin/native_table.h"

#include <filesystem>

namespace {

using sim::CallKind;

std::vector<sim::Call> registrations() {
    std::vector<sim::Call> out;
    for (const sim::Call& c : sim::calls())
        if (c.kind != CallKind::Native && c.kind != CallKind::Wait && c.kind != CallKind::GlobalPtr)
            out.push_back(c);
    return out;
}

class Entry : public PluginTest {};

TEST_F(Entry, RegistersScriptThenKeyboardAndUnregistersInTheSameOrder) {
    start();
    std::vector<sim::Call> r = registrations();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].kind, CallKind::ScriptRegister);
    EXPECT_EQ(r[1].kind, CallKind::KeyboardRegister);
    // Nothing but the registration happens at load: the script has not run yet.
    EXPECT_EQ(sim::calls().size(), 2u);
    const uint64_t module = r[0].pointer;
    const uint64_t handler = r[1].pointer;
    EXPECT_NE(module, 0u);
    EXPECT_NE(handler, 0u);

    sim::playFrames(3);
    sim::stop();
    r = registrations();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[2].kind, CallKind::ScriptUnregister);
    EXPECT_EQ(r[2].pointer, module);
    EXPECT_EQ(r[3].kind, CallKind::KeyboardUnregister);
    EXPECT_EQ(r[3].pointer, handler);
}

TEST_F(Entry, ThreadNotificationsChangeNothing) {
    start();
    const size_t before = sim::calls().size();
    EXPECT_TRUE(sim::notifyThreadAttachDetach());
    EXPECT_EQ(sim::calls().size(), before);
    // The script still runs as usual afterwards.
    sim::playFrames(2);
    EXPECT_EQ(sim::resumes(), 2);
}

TEST_F(Entry, NothingIsSavedOnUnload) {
    const std::string dir = ::testing::TempDir() + "tolvenmire-unload-" +
                            std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    sim::StartOptions o;
    o.workDir = dir;
    startWith(o);
    sim::playFrames(5);
    sim::stop();
    EXPECT_FALSE(std::filesystem::exists(dir + "/Tolvenmire.dat"));
    std::filesystem::remove_all(dir);
}

TEST_F(Entry, EveryLoadStartsFresh) {
    // The first session changes the state: a saved level, a drinking frame, a
    // pending key event.
    start(nullptr, "7");
    sim::freezeTickCount(true);
    sim::setTickCount(50000);
    sim::playFrames(2);
    ASSERT_EQ(state().flaskLevel, 7);
    ASSERT_NE(state().playerPed, 0);
    ASSERT_NE(state().now, 0);
    sim::keyEvent(79, 0, 0, 1); // stored, never consumed in this session
    sim::stop();

    // The second load sees everything as at load, and re-reads the settings.
    start("[SETTINGS]\nREFILL_PRICE=3\n");
    const ScriptState& s = state();
    EXPECT_EQ(s.flaskLevel, 99);
    const ScriptState zero{}; // all zero but a full flask
    EXPECT_EQ(memcmp(&s, &zero, sizeof zero), 0) << "state left over from the first load";
    EXPECT_EQ(settings().refillPrice, 3);

    // The key event of the first session is gone with it: a fresh tick count
    // within its window triggers nothing.
    world().onFoot = 0; // a trigger would show as one condition query
    sim::freezeTickCount(true);
    sim::setTickCount(50010);
    const int f = nextFrame();
    for (const sim::Call& c : nativesIn(f)) EXPECT_NE(c.hash, natives::IsPedOnFoot);
}

} // namespace
