// A plug-in for testing the host itself: it breaks the script hook's protocol on
// purpose, one fault per frame, or calls natives for the model to answer. What it
// does is named by the first word of Tolvenmire.ini in the session's folder; what
// it sees it notes in the world's effects, under names starting with "probe.".
#include "hook/script_hook.h"
#include "sim.h"
#include "standin/native_table.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

char mode[32];

bool is(const char* m) { return strcmp(mode, m) == 0; }

void note(const char* name, int32_t value) { sim::world().effects[name] = value; }

UINT64* invoke(UINT64 hash, std::initializer_list<UINT64> args) {
    nativeInit(hash);
    for (UINT64 a : args) nativePush64(a);
    return nativeCall();
}

const UINT64 GameTimer = natives::GetGameTimer;

void faults() {
    invoke(0x0123456789ABCDEF, {}); // 1: a native the game does not have
    scriptWait(0);
    nativeInit(GameTimer); // 2: an invocation begun inside another
    invoke(GameTimer, {});
    scriptWait(0);
    nativePush64(7); // 3: an argument and a call without an invocation
    nativeCall();
    scriptWait(0);
    nativeInit(natives::DrawSprite); // 4: thirteen arguments
    for (int k = 0; k < 13; ++k) nativePush64(0);
    nativeCall();
    scriptWait(0);
    getGlobalPtr(42); // 5: a global the game does not give
    scriptWait(0);
    invoke(GameTimer, {1}); // 6: an argument too many
    scriptWait(0);
    invoke(natives::UiPromptSetGroup, {1, 0x00000000FFFFFFFEull, 0}); // 7: a group without its sign
    scriptWait(0);
    for (;;) scriptWait(0);
}

UINT64 bits(float f) {
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return b;
}

// Calls natives whose answers the model computes, then waits 500 ms at a time.
void model() {
    note("probe.inHost.script", sim::inHost());
    invoke(GameTimer, {});
    invoke(natives::GetHashKey, {(UINT64)(uintptr_t) "World_Human_Drink_Flask"});
    invoke(natives::GetEntityCoords, {(uint32_t)sim::world().playerPed, 1, 0});
    invoke(natives::Vdist, {bits(1), bits(2), bits(3), bits(4), bits(6), bits(3)});
    int32_t target = -5;
    invoke(natives::GetPlayerInteractionTargetEntity, {0, (UINT64)(uintptr_t)&target, 1, 1});
    note("probe.target", target);
    UINT64* global = getGlobalPtr(1935445);
    *global = 0x3F800000; // the intensity at its top
    scriptWait(0);
    note("probe.inHost.afterWait", sim::inHost());
    for (;;) scriptWait(500);
}

void script() {
    if (is("faults"))
        faults();
    else if (is("model"))
        model();
    else if (is("returns"))
        scriptWait(0); // and then the script ends
    else
        for (;;) scriptWait(0);
}

void keyboard(DWORD key, WORD, BYTE, BOOL, BOOL, BOOL, BOOL) {
    if (key == 1)
        invoke(GameTimer, {});
    else if (key == 2)
        scriptWait(0);
    else if (key == 3)
        keyboardHandlerRegister(keyboard);
    else
        note("probe.key", (int32_t)key);
}

void readMode() {
    mode[0] = '\0';
    if (FILE* f = fopen("Tolvenmire.ini", "r")) {
        if (fscanf(f, "%31s", mode) != 1) mode[0] = '\0';
        fclose(f);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        readMode();
        if (is("unregistered")) return TRUE;
        if (is("attach-calls")) { // script-thread functions while loading
            invoke(GameTimer, {});
            scriptWait(0);
            getGlobalPtr(1935445);
        }
        scriptRegister(module, script);
        keyboardHandlerRegister(keyboard);
    } else if (reason == DLL_PROCESS_DETACH && !is("stays-registered")) {
        scriptUnregister(module);
        keyboardHandlerUnregister(keyboard);
    }
    return TRUE;
}
