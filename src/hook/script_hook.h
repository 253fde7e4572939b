// The nine functions that the script hook library gives a script. On Windows they
// are imported from ScriptHookRDR2.dll (under the names its C++ compiler decorated
// them with); on Linux the stand-in host provides them.
//
// On Windows they are declared with C linkage: the plug-in refers to them by their
// plain names, and its import library binds each plain name to the decorated one
// (cmake/ScriptHookRDR2-imports.def).
#pragma once

#include "platform/platform.h"

typedef void (*ScriptEntry)();
// A keyboard handler: the key code, an unsigned 16-bit and an unsigned 8-bit value,
// and four signed 32-bit values.
typedef void (*KeyboardHandler)(DWORD key, WORD second, BYTE third, BOOL fourth, BOOL fifth, BOOL sixth,
                                BOOL seventh);

#if defined(_WIN32) && defined(TOLVENMIRE_BUILDING_HOST)
#define TOLVENMIRE_HOOK_API __declspec(dllexport)
#elif defined(_WIN32)
#define TOLVENMIRE_HOOK_API __declspec(dllimport)
#else
#define TOLVENMIRE_HOOK_API __attribute__((visibility("default")))
#endif

#ifdef _WIN32
extern "C" {
#endif
TOLVENMIRE_HOOK_API void scriptRegister(HINSTANCE module, ScriptEntry entry);
TOLVENMIRE_HOOK_API void scriptUnregister(HINSTANCE module);
TOLVENMIRE_HOOK_API void keyboardHandlerRegister(KeyboardHandler handler);
TOLVENMIRE_HOOK_API void keyboardHandlerUnregister(KeyboardHandler handler);
TOLVENMIRE_HOOK_API void nativeInit(UINT64 hash);
TOLVENMIRE_HOOK_API void nativePush64(UINT64 value);
TOLVENMIRE_HOOK_API UINT64* nativeCall();
TOLVENMIRE_HOOK_API void scriptWait(DWORD milliseconds);
TOLVENMIRE_HOOK_API UINT64* getGlobalPtr(int index);
#ifdef _WIN32
}
#endif
