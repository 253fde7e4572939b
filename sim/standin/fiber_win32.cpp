// The script's fiber on Windows: a Windows fiber, as the script hook itself runs
// its scripts. The thread that resumes a fiber becomes a fiber on its first resume
// and stays one.
#include "standin/fiber.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace sim::detail {

struct Fiber {
    void* handle = nullptr;     // the Windows fiber
    void* hostHandle = nullptr; // the resumer, while the fiber runs
    void (*entry)() = nullptr;
    bool finished = false;
};

namespace {

thread_local Fiber* current = nullptr;
thread_local void* threadFiber = nullptr; // the calling thread as a fiber

// The fiber the calling thread runs, read from its thread block. GCC takes the
// header's read of the gs segment for an access past an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
void* runningFiber() { return GetCurrentFiber(); }
#pragma GCC diagnostic pop

void CALLBACK fiberStart(void* parameter) {
    Fiber* f = (Fiber*)parameter;
    f->entry();
    f->finished = true;
    // Returning from a fiber's start routine would end the whole thread.
    for (;;) SwitchToFiber(f->hostHandle);
}

} // namespace

Fiber* fiberCreate(void (*entry)(), size_t stackSize) {
    Fiber* f = new Fiber;
    f->entry = entry;
    // The whole stack is reserved up front and committed as it is used; Windows
    // places a guard page below it, so an overflow faults.
    f->handle = CreateFiberEx(0, stackSize, FIBER_FLAG_FLOAT_SWITCH, fiberStart, f);
    if (!f->handle) {
        delete f;
        return nullptr;
    }
    return f;
}

void fiberResume(Fiber* f) {
    if (!f || f->finished || current) return;
    if (!threadFiber) {
        threadFiber =
            IsThreadAFiber() ? runningFiber() : ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH);
        if (!threadFiber) return;
    }
    current = f;
    f->hostHandle = threadFiber;
    SwitchToFiber(f->handle);
    current = nullptr;
}

void fiberYield() {
    if (current) SwitchToFiber(current->hostHandle);
}

Fiber* fiberCurrent() { return current; }

bool fiberFinished(const Fiber* f) { return f && f->finished; }

void fiberDestroy(Fiber* f) {
    if (!f || f == current) return;
    DeleteFiber(f->handle);
    delete f;
}

} // namespace sim::detail
