// Starting a program from a Windows test. Under a loaded Wine a start now and then
// fails before the new process runs any of its code (error 1359): it is tried
// again, up to three times, since what the tests judge is the program, not its
// start. False, with the last error in *error, when every try failed.
#pragma once

#ifdef _WIN32
#include <windows.h>

inline bool startProcess(char* command, BOOL inheritHandles, STARTUPINFOA* si, PROCESS_INFORMATION* pi,
                         DWORD* error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateProcessA(nullptr, command, nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, si, pi))
            return true;
        *error = GetLastError();
        Sleep(200);
    }
    return false;
}
#endif
