// The host's stand-ins for the plug-in's file calls (file_faults.h): each passes
// the call on to the system unless a test asked for it to fail.
#include "standin/file_faults.h"

#include "standin/host_internals.h"

#include <atomic>

namespace sim {

namespace detail {

namespace {

std::atomic<int> seen[FileCallKinds];
std::atomic<int> failAt[FileCallKinds]; // the call number that fails; 0: none

int index(FileCall call) { return (int)call; }

// Whether the fault asked for `fault` falls on call number `n` of its kind; it is
// then spent.
bool dueAt(FileCall fault, int n) {
    int expected = n;
    return failAt[index(fault)].compare_exchange_strong(expected, 0);
}

// Counts a call of `call`; whether its fault is due now.
bool due(FileCall call) { return dueAt(call, ++seen[index(call)]); }

HANDLE WINAPI hostCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
    HostScope scope;
    if (due(FileCall::CreateFileA)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI hostWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    HostScope scope;
    // Both of WriteFile's faults count WriteFile calls.
    const int n = ++seen[index(FileCall::WriteFile)];
    if (dueAt(FileCall::WriteFile, n)) {
        if (written) *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (size > 0 && dueAt(FileCall::WriteFileShort, n))
        return WriteFile(file, bytes, size - 1, written, overlapped);
    if (size > 0 && dueAt(FileCall::WriteFileExit, n)) {
        DWORD half = 0;
        WriteFile(file, bytes, size / 2, &half, overlapped);
        ExitProcess(0);
    }
    return WriteFile(file, bytes, size, written, overlapped);
}

BOOL WINAPI hostFlushFileBuffers(HANDLE file) {
    HostScope scope;
    if (due(FileCall::FlushFileBuffers)) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    return FlushFileBuffers(file);
}

BOOL WINAPI hostMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    HostScope scope;
    if (due(FileCall::MoveFileExA)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return MoveFileExA(from, to, flags);
}

BOOL WINAPI hostDeleteFileA(LPCSTR name) {
    HostScope scope;
    if (due(FileCall::DeleteFileA)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return DeleteFileA(name);
}

BOOL WINAPI hostCloseHandle(HANDLE handle) {
    HostScope scope;
    if (due(FileCall::CloseHandle)) {
        CloseHandle(handle);
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    return CloseHandle(handle);
}

} // namespace

const FileCallImport FileCallImports[] = {
    {"CreateFileA", (void*)&hostCreateFileA},
    {"WriteFile", (void*)&hostWriteFile},
    {"FlushFileBuffers", (void*)&hostFlushFileBuffers},
    {"MoveFileExA", (void*)&hostMoveFileExA},
    {"DeleteFileA", (void*)&hostDeleteFileA},
    {"CloseHandle", (void*)&hostCloseHandle},
    {nullptr, nullptr},
};

} // namespace detail

void failFileCall(FileCall call, int nth) {
    // WriteFileShort counts WriteFile calls.
    const FileCall counted = call == FileCall::WriteFileShort ? FileCall::WriteFile : call;
    detail::failAt[(int)call] = detail::seen[(int)counted] + nth;
}

int fileCalls(FileCall call) { return detail::seen[(int)call]; }

bool fileFaultsSpent() {
    for (const std::atomic<int>& f : detail::failAt)
        if (f != 0) return false;
    return true;
}

void resetFileFaults() {
    for (int i = 0; i < FileCallKinds; ++i) {
        detail::seen[i] = 0;
        detail::failAt[i] = 0;
    }
}

} // namespace sim
