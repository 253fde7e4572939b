// The script's fiber on POSIX systems: a ucontext on a stack of its own, with the
// switches announced to AddressSanitizer and ThreadSanitizer when they are on.
#include "standin/fiber.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SIM_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define SIM_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(SIM_ASAN)
#define SIM_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__) && !defined(SIM_TSAN)
#define SIM_TSAN 1
#endif

#ifdef SIM_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef SIM_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace sim::detail {

struct Fiber {
    ucontext_t context;     // the fiber where it yielded (or its start)
    ucontext_t hostContext; // the resumer where it resumed the fiber
    void (*entry)() = nullptr;
    bool finished = false;
    void* mapping = nullptr; // guard page, then the stack
    size_t mappingSize = 0;
    void* stack = nullptr;
    size_t stackSize = 0;
#ifdef SIM_ASAN
    void* fakeStack = nullptr;       // the fiber's fake stack while it is switched out
    const void* hostStack = nullptr; // the resumer's stack, as AddressSanitizer reports it
    size_t hostStackSize = 0;
#endif
#ifdef SIM_TSAN
    void* tsanFiber = nullptr;
    void* tsanHost = nullptr;
#endif
};

namespace {

thread_local Fiber* current = nullptr;

// Saves the running context in `from` and continues at `to`. AddressSanitizer's
// swapcontext interceptor prints a warning on first use into the output of every
// program (the session player's among them), though the switches are announced to
// it here; under it the same switch is made of getcontext and setcontext.
__attribute__((noinline)) void switchContext(ucontext_t* from, const ucontext_t* to) {
#ifdef SIM_ASAN
    volatile bool back = false;
    getcontext(from);
    if (back) return; // resumed through `from`
    back = true;
    setcontext(to);
#else
    swapcontext(from, to);
#endif
}

// Leaves the fiber for its resumer; `final` when it will never run again.
void switchToHost(Fiber* f, bool final) {
#ifdef SIM_ASAN
    __sanitizer_start_switch_fiber(final ? nullptr : &f->fakeStack, f->hostStack, f->hostStackSize);
#else
    (void) final;
#endif
#ifdef SIM_TSAN
    __tsan_switch_to_fiber(f->tsanHost, 0);
#endif
    switchContext(&f->context, &f->hostContext);
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(f->fakeStack, &f->hostStack, &f->hostStackSize);
#endif
}

void trampoline() {
    Fiber* f = current;
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &f->hostStack, &f->hostStackSize);
#endif
    f->entry();
    f->finished = true;
    switchToHost(f, true);
}

} // namespace

Fiber* fiberCreate(void (*entry)(), size_t stackSize) {
    const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    stackSize = (stackSize + page - 1) / page * page;
    Fiber* f = new Fiber;
    f->entry = entry;
    // One inaccessible page below the stack turns an overflow into a fault.
    f->mappingSize = stackSize + page;
    f->mapping = mmap(nullptr, f->mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (f->mapping == MAP_FAILED) {
        delete f;
        return nullptr;
    }
    mprotect(f->mapping, page, PROT_NONE);
    f->stack = (char*)f->mapping + page;
    f->stackSize = stackSize;
    getcontext(&f->context);
    f->context.uc_stack.ss_sp = f->stack;
    f->context.uc_stack.ss_size = f->stackSize;
    f->context.uc_link = nullptr;
    makecontext(&f->context, trampoline, 0);
#ifdef SIM_TSAN
    f->tsanFiber = __tsan_create_fiber(0);
#endif
    return f;
}

void fiberResume(Fiber* f) {
    if (!f || f->finished || current) return;
    current = f;
#ifdef SIM_TSAN
    f->tsanHost = __tsan_get_current_fiber();
#endif
#ifdef SIM_ASAN
    void* hostFakeStack = nullptr;
    __sanitizer_start_switch_fiber(&hostFakeStack, f->stack, f->stackSize);
#endif
#ifdef SIM_TSAN
    __tsan_switch_to_fiber(f->tsanFiber, 0);
#endif
    switchContext(&f->hostContext, &f->context);
#ifdef SIM_ASAN
    __sanitizer_finish_switch_fiber(hostFakeStack, nullptr, nullptr);
#endif
    current = nullptr;
}

void fiberYield() {
    if (current) switchToHost(current, false);
}

Fiber* fiberCurrent() { return current; }

bool fiberFinished(const Fiber* f) { return f && f->finished; }

void fiberDestroy(Fiber* f) {
    if (!f || f == current) return;
#ifdef SIM_TSAN
    __tsan_destroy_fiber(f->tsanFiber);
#endif
#ifdef SIM_ASAN
    // Frames abandoned on the stack leave their red zones poisoned; the memory
    // goes back clean.
    __asan_unpoison_memory_region(f->stack, f->stackSize);
#endif
    munmap(f->mapping, f->mappingSize);
    delete f;
}

} // namespace sim::detail
