// Faults of the Windows file calls the plug-in saves with. On Windows the host
// points the plug-in's imports of CreateFileA, WriteFile, FlushFileBuffers,
// MoveFileExA, DeleteFileA and CloseHandle at its own functions, which pass each
// call on to the system unless a test asked for it to fail:
//
//   sim::failFileCall(sim::FileCall::MoveFileExA);      // the next MoveFileExA fails
//   ... a drink stops and saves ...
//   sim::fileCalls(sim::FileCall::MoveFileExA)           // calls seen since the reset
//
// Only on Windows, where the plug-in makes these calls; the Linux build saves through
// its POSIX stand-ins.
#pragma once

namespace sim {

enum class FileCall {
    CreateFileA,
    WriteFile,      // fails: nothing written, FALSE
    WriteFileShort, // a WriteFile that writes and reports one byte fewer than asked, and TRUE
    FlushFileBuffers,
    MoveFileExA,
    DeleteFileA,
    CloseHandle,   // the handle is closed, and FALSE is answered
    WriteFileExit, // a WriteFile that writes half the bytes asked, then the process exits
                   // (ExitProcess) inside it, as a game's exit stops its threads anywhere
};
const int FileCallKinds = 8;

// Makes the `nth` call of its kind from now (1: the next) fail. WriteFileShort and
// WriteFileExit count WriteFile calls.
void failFileCall(FileCall call, int nth = 1);
// Calls of the kind the plug-in made since the last reset (WriteFileShort: none).
int fileCalls(FileCall call);
// Whether every fault asked for has happened.
bool fileFaultsSpent();
// No faults, no calls counted.
void resetFileFaults();

} // namespace sim
