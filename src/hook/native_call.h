// One invocation of a game native by its 64-bit hash: nativeInit, one nativePush64
// per argument in the native's parameter order, then nativeCall, whose result is
// read at once. Every argument goes into a 64-bit slot; how depends on its type:
//
//   int32_t, uint32_t, bool   low 32 bits, upper 32 bits zero (also for -1 and for
//                             hashes with bit 31 set)
//   float                     its IEEE single bits in the low half, upper half zero
//   const char*               the address of the NUL-terminated bytes
//   pointers                  the address (out-variables and records)
//   SignExtended              a 32-bit value widened with its sign
//   Arg64                     a whole 64-bit value, passed unchanged
//
// Anything else (a double, a 64-bit integer) does not compile, so that no argument
// is widened by accident. The pieces go through the hook table (hook_table.h), one
// pointer for each kind of argument and of result.
//
//   int32_t ped = NativeCall<int32_t>(0x096275889B8E0EE0); // PLAYER::PLAYER_PED_ID
#pragma once

#include "hook/hook_table.h"
#include "hook/script_hook.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

struct SignExtended {
    int32_t value;
};
struct Arg64 {
    uint64_t value;
};
struct Position {
    float x, y, z;
};

inline UINT64 nativeArg(int32_t v) { return (uint32_t)v; }
inline UINT64 nativeArg(uint32_t v) { return v; }
inline UINT64 nativeArg(bool v) { return v ? 1u : 0u; }
inline UINT64 nativeArg(float v) {
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    return bits;
}
inline UINT64 nativeArg(const char* s) { return (UINT64)(uintptr_t)s; }
inline UINT64 nativeArg(const void* p) { return (UINT64)(uintptr_t)p; }
inline UINT64 nativeArg(SignExtended a) { return (UINT64)(int64_t)a.value; }
inline UINT64 nativeArg(Arg64 a) { return a.value; }
UINT64 nativeArg(double) = delete;
UINT64 nativeArg(long) = delete;
UINT64 nativeArg(unsigned long) = delete;
UINT64 nativeArg(long long) = delete;
UINT64 nativeArg(unsigned long long) = delete;

// Results. A null result pointer from the host reads as 0 for every kind.
inline int32_t nativeResultInt(const UINT64* r) {
    int32_t v = 0;
    if (r) memcpy(&v, r, sizeof v);
    return v;
}
inline uint32_t nativeResultHash(const UINT64* r) { return (uint32_t)nativeResultInt(r); }
inline float nativeResultFloat(const UINT64* r) {
    float v = 0.0f;
    if (r) memcpy(&v, r, sizeof v);
    return v;
}
inline uint64_t nativeResult64(const UINT64* r) { return r ? r[0] : 0; }
// x, y and z each in the low half of an 8-byte slot, at offsets 0, 8 and 16.
inline Position nativeResultPosition(const UINT64* r) {
    Position p = {0.0f, 0.0f, 0.0f};
    if (r) {
        memcpy(&p.x, &r[0], sizeof p.x);
        memcpy(&p.y, &r[1], sizeof p.y);
        memcpy(&p.z, &r[2], sizeof p.z);
    }
    return p;
}

// One argument through the push of its kind: a string, a record (a pointer to any
// other type, with that type's layout) or a value.
template <typename A> inline void nativePushArg(A a) {
    if constexpr (std::is_same_v<A, const char*> || std::is_same_v<A, char*>) {
        hookPushText(nativeArg(a));
    } else if constexpr (std::is_pointer_v<A>) {
        using Record = std::remove_cv_t<std::remove_pointer_t<A>>;
        (void)RecordPush<Record>::listed;
        RecordPush<Record>::push(nativeArg(a));
    } else {
        hookPush(nativeArg(a));
    }
}

// NativeCall<R>(hash, args...): R is void (result ignored), int32_t, uint32_t (a
// hash), float, uint64_t (a whole 64-bit value such as a text handle) or Position.
template <typename R, typename... Args> inline R NativeCall(UINT64 hash, Args... args) {
    static_assert(sizeof...(Args) <= 12, "a native takes at most 12 arguments");
    hookInit(hash);
    (nativePushArg(args), ...);
    if constexpr (std::is_same_v<R, void>) {
        hookCall();
    } else if constexpr (std::is_same_v<R, int32_t>) {
        return nativeResultInt(hookCall32());
    } else if constexpr (std::is_same_v<R, uint32_t>) {
        return nativeResultHash(hookCall32());
    } else if constexpr (std::is_same_v<R, float>) {
        return nativeResultFloat(hookCall32());
    } else if constexpr (std::is_same_v<R, uint64_t>) {
        return nativeResult64(hookCall64());
    } else {
        static_assert(std::is_same_v<R, Position>, "unsupported native result type");
        return nativeResultPosition(hookCallPosition());
    }
}
