// The library's entry: registration with the script hook on load, and
// unregistration on unload. It runs under the loader lock, so it does nothing else
// (but for writing out a recording's last block, with a file call of its own).
#include "base/keyboard_table.h"
#include "hook/script_hook.h"
#include "host/script_loop.h"
#include "record/recorder.h"

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
#else
TOLVENMIRE_EXPORT BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID)
#endif
{
    if (reason == DLL_PROCESS_ATTACH) {
        scriptRegister(module, ScriptMain);
        keyboardHandlerRegister(onKeyboardEvent);
    } else if (reason == DLL_PROCESS_DETACH) {
        scriptUnregister(module);
        keyboardHandlerUnregister(onKeyboardEvent);
        recordFinish();
    }
    return TRUE;
}
