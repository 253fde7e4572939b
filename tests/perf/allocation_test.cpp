// The plug-in allocates nothing on the heap in a frame, in any state: idle, at a
// saloon, with the refill prompt, during a served refill, drinking with the meters,
// intoxicated, passing out and recovering, held out of play, and in the keyboard
// handler.
//
// This executable brings its own malloc family (on top of the C library's), which
// the plug-in's allocations reach too: operator new and the C library's own users
// go through malloc. An allocation is counted while a count is open, on the
// counting thread, and outside the stand-in host's functions: during playFrames
// that is the plug-in's code on the script fiber, since the host's own work (the
// game model, the call log) runs inside its functions.
#include "plugin_test.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <malloc.h>
#include <thread>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TOLVENMIRE_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOLVENMIRE_SANITIZER_ALLOCATOR 1
#endif

namespace {

std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
std::thread::id countingThread;
thread_local bool insideCount = false;

[[maybe_unused]] void noteAllocation() {
    if (!counting.load(std::memory_order_relaxed) || insideCount) return;
    insideCount = true;
    if (std::this_thread::get_id() == countingThread && !sim::inHost())
        allocations.fetch_add(1, std::memory_order_relaxed);
    insideCount = false;
}

} // namespace

#ifndef TOLVENMIRE_SANITIZER_ALLOCATOR
// The C library's allocator under its own names; this malloc only counts.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    noteAllocation();
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) { __libc_free(p); }
}
#endif

namespace {

class FrameAllocations : public PluginTest {
  protected:
    void SetUp() override {
#ifdef TOLVENMIRE_SANITIZER_ALLOCATOR
        GTEST_SKIP() << "a sanitizer's allocator stands in for malloc here";
#endif
    }
    // Allocations outside the host while `play` runs on this thread.
    static int count(const std::function<void()>& play) {
        allocations = 0;
        countingThread = std::this_thread::get_id();
        counting = true;
        play();
        counting = false;
        return allocations.load();
    }
    void expectNone(const char* what, const std::function<void()>& play) {
        EXPECT_EQ(count(play), 0) << what;
        for (const std::string& v : sim::violations()) ADD_FAILURE() << what << ": protocol: " << v;
    }
    // Every state of an evening, with the settings file `settings`, each counted alone.
    void playAnEvening(const std::string& settings);
};

TEST_F(FrameAllocations, TheCountSeesAnAllocationOutsideTheHost) {
    start();
    sim::playFrames(1); // the script's start: it opens the save file
    const int n = count([] {
        void* volatile p = malloc(24);
        free(p);
        std::string* volatile s = new std::string(100, 'x');
        delete s;
    });
    EXPECT_EQ(n, 3) << "malloc, then the string and its characters";
    // The host's own allocations are not the plug-in's.
    EXPECT_EQ(count([] { sim::playFrames(5); }), 0);
}

TEST_F(FrameAllocations, NoneInAnyStateOfAnEvening) {
    // Slow sobering, so that one long drink takes the player past 90.
    playAnEvening("[SETTINGS]\nSOBER_UP_TIME=1000\n");
}

// The recorder writes from fixed buffers: the same evening while it records (its
// blocks go out during the counts).
TEST_F(FrameAllocations, NoneInAnyStateOfAnEveningWhileRecording) {
    playAnEvening("[SETTINGS]\nSOBER_UP_TIME=1000\nRECORD_SESSION=1\n");
    EXPECT_GT(std::filesystem::file_size(sim::workDir() + "/Tolvenmire.rec"), 1000u);
}

void FrameAllocations::playAnEvening(const std::string& settings) {
    sim::StartOptions o;
    o.record = false;
    o.withSettings = true;
    o.settings = settings;
    startWith(o);
    sim::World& w = world();
    w.autoPassOut = false;
    // The script's start, before its first frame, opens the save file: a FILE of
    // the C library's, once per load.
    sim::playFrames(1);

    expectNone("idle, outside the saloons", [] { sim::playFrames(200); });

    w.satchelReleased = 1; // the drink prompt's guards pass: it comes and goes
    expectNone("drink prompt upkeep", [] { sim::playFrames(20); });
    w.satchelReleased = 0;

    // Valentine's saloon and its bartender.
    w.interior = 21250;
    sim::Ped bartender;
    bartender.handle = 2001;
    bartender.model = 0xB733CF0F;
    bartender.x = 1.0f;
    bartender.promptGroup = -7;
    w.peds[2001] = bartender;
    expectNone("in a saloon, targeting nobody", [] { sim::playFrames(30); });
    w.target = 2001;
    w.peds[2001].x = 9.0f;
    expectNone("in a saloon, the bartender out of reach", [] { sim::playFrames(30); });
    w.peds[2001].x = 1.0f;
    expectNone("in a saloon, the refill prompt shown", [] { sim::playFrames(30); });
    ASSERT_TRUE(state().refillPromptActive);
    w.prompts[state().refillPrompt].completed = true;
    expectNone("a served refill", [] { sim::playMs(9000); });
    EXPECT_EQ(w.charges.size(), 1u);
    w.target = 0;
    w.interior = 0;

    // A long drink: the start wait, the meters, sips, sobering steps, the pass-out.
    expectNone("a key press that starts a drink", [] {
        sim::keyEvent(79, 0, 0, 1);
        sim::playFrames(10);
    });
    ASSERT_TRUE(state().drinking);
    expectNone("drinking with the meters", [] { sim::playMs(20000); });
    EXPECT_GT(state().intakeLevel, 100);
    w.analog[0xFDA83190] = 1.0f;
    expectNone("a stop control, and the save", [] { sim::playFrames(2); });
    w.analog[0xFDA83190] = 0.0f;
    ASSERT_FALSE(state().drinking);
    // (The test's own changes to the world are made between counts: they allocate.)
    expectNone("intoxicated, up to 91", [] {
        for (int i = 0; i < 5000 && state().drunkLevel <= 90; ++i) sim::playFrames(1);
    });
    w.effects["PlayerDrunk01_PassOut"] = 1;
    expectNone("passed out", [] { sim::playMs(5000); });
    w.effects["PlayerDrunk01_PassOut"] = 0;
    expectNone("the recovery", [] { sim::playMs(3000); });
    EXPECT_EQ(w.restoreCalls, 1) << "intake " << state().intakeLevel << ", drunk " << state().drunkLevel;
    expectNone("sobering", [] { sim::playMs(30000); });

    // Out of play and back, and a drink that never starts.
    expectNone("held out of play", [&w] {
        w.missionFlag = true;
        sim::playMs(7000);
        w.missionFlag = false;
        sim::playMs(4000);
    });
    w.scenarioNeverStarts = true;
    expectNone("a start wait that gives up", [] {
        sim::keyEvent(79, 0, 0, 1);
        sim::playMs(6000);
    });
    EXPECT_FALSE(state().drinking);

    expectNone("keyboard events", [] {
        for (uint32_t key = 0; key < 300; ++key) sim::keyEvent(key, 1, 0, 1);
    });
}

} // namespace
