// The script hook's functions and GetTickCount as the script thread reaches them:
// through pointers. Each points at the plain import, so a call costs what
// a direct call costs (one indirect call, no test); the session recorder
// (record/recorder.cpp) points them at its own wrappers while it records, and back.
//
// A native's pieces have one pointer per kind, so that a wrapper knows what it
// holds without a test in the plain path: how an argument was passed (a value, a
// string, a record of known layout) and how many bytes of the result the plug-in
// reads (none, 4, 8, or a position's 24).
#pragma once

#include "hook/script_hook.h"

#include <cstdint>

// A set of the pointers, as the recorder swaps them in and out.
struct HookTable {
    void (*init)(UINT64 hash);
    void (*push)(UINT64 value);       // a value: an integer, a hash, a float's bits, a 64-bit value
    void (*pushText)(UINT64 address); // the address of a NUL-terminated string
    UINT64* (*call)();                // the result is not read
    UINT64* (*call32)();              // its first 4 bytes are read (an integer, a hash, a float)
    UINT64* (*call64)();              // its first 8 bytes are read (a text handle)
    UINT64* (*callPosition)();        // its first 24 bytes are read (x, y, z in three slots)
    void (*wait)(DWORD milliseconds);
    UINT64* (*globalPtr)(int index);
    DWORD (*tickCount)(); // the script thread's readings of GetTickCount
    // While recording: the push of a record, with its layout (see RecordPush).
    void (*pushRecord)(UINT64 address, uint32_t size, uint32_t stringSlots);
};

// The pointers the calls go through, one variable each, declared hidden: a call is
// then one indirect call on the variable itself. (Members of one record, or
// variables the compiler must reach through the global offset table, would have it
// keep their addresses in registers in every function that calls a native.)
#ifdef _WIN32
#define HOOK_POINTER extern
#else
#define HOOK_POINTER extern __attribute__((visibility("hidden")))
#endif
HOOK_POINTER void (*hookInit)(UINT64 hash);
HOOK_POINTER void (*hookPush)(UINT64 value);
HOOK_POINTER void (*hookPushText)(UINT64 address);
HOOK_POINTER UINT64* (*hookCall)();
HOOK_POINTER UINT64* (*hookCall32)();
HOOK_POINTER UINT64* (*hookCall64)();
HOOK_POINTER UINT64* (*hookCallPosition)();
HOOK_POINTER void (*hookWait)(DWORD milliseconds);
HOOK_POINTER UINT64* (*hookGlobalPtr)(int index);
HOOK_POINTER DWORD (*hookTickCount)();
HOOK_POINTER void (*hookPushRecord)(UINT64 address, uint32_t size, uint32_t stringSlots);

// The set as the library loads it: every pointer at the plain import.
extern const HookTable PlainHooks;
// Points the variables above, and the pushes of records, at `hooks`; the pushes
// of records at their recording wrappers when `recording`.
void setHooks(const HookTable& hooks, bool recording);

// The pushes of records, one pointer per record type (RecordPush<T>::push), listed
// as the library loads so that the recorder can swap them all.
struct RecordPushSlot {
    void (**push)(UINT64 address);
    void (*recording)(UINT64 address);
};
const int MaxRecordTypes = 8;
bool listRecordPush(void (**push)(UINT64), void (*recording)(UINT64));

// A record passed to a native by address: `size` bytes, laid out in 8-byte slots.
// A type says which of its slots hold the address of a string with a member
// `static constexpr uint32_t NativeStringSlots` (bit k: slot k); a recording keeps
// those by their text, since an address differs from run to run.
template <typename T> struct NativeRecordLayout {
    static constexpr uint32_t size = sizeof(T);
    static constexpr uint32_t stringSlots = T::NativeStringSlots;
};
// An out-variable of the game: 4 bytes, no string.
template <> struct NativeRecordLayout<int32_t> {
    static constexpr uint32_t size = 4;
    static constexpr uint32_t stringSlots = 0;
};

template <typename T> struct RecordPush {
    static void recording(UINT64 address) {
        hookPushRecord(address, NativeRecordLayout<T>::size, NativeRecordLayout<T>::stringSlots);
    }
    static inline void (*push)(UINT64) = nativePush64;
    static inline const bool listed = listRecordPush(&push, &recording);
};
