// The script's fiber: a second stack on the host's thread on which the plug-in's
// script runs until it waits. One resume runs it up to its next yield. The host
// never resumes a fiber from inside another one.
#pragma once

#include <cstddef>

namespace sim::detail {

struct Fiber;

// A fiber that will run `entry` on a stack of `stackSize` bytes; it starts at its
// first resume. Null when the stack cannot be had.
Fiber* fiberCreate(void (*entry)(), size_t stackSize);

// Runs the fiber on the calling thread until it yields or its entry returns.
void fiberResume(Fiber* fiber);

// From inside a fiber: back to the code that resumed it.
void fiberYield();

// The fiber the calling thread is running on; null on the thread's own stack.
Fiber* fiberCurrent();

// True once the fiber's entry has returned; it is not resumed again.
bool fiberFinished(const Fiber* fiber);

// Frees a fiber that is not running: finished, never started, or abandoned where
// it yielded. Nothing on its stack is unwound.
void fiberDestroy(Fiber* fiber);

} // namespace sim::detail
