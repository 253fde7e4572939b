// The real Windows calls behind the platform layer.
#include "platform/platform.h"

bool platformWriteFile(const char* path, const char* bytes, int size) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, bytes, (DWORD)size, &written, nullptr) && written == (DWORD)size;
    ok = ok && FlushFileBuffers(h);
    return CloseHandle(h) && ok;
}

bool platformReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool platformReadOnly(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void platformRemoveFile(const char* path) { DeleteFileA(path); }

PlatformFile platformCreateNewFile(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return h == INVALID_HANDLE_VALUE ? NoFile : (PlatformFile)h;
}

bool platformAppendFile(PlatformFile file, const void* bytes, int size) {
    DWORD written = 0;
    return WriteFile((HANDLE)file, bytes, (DWORD)size, &written, nullptr) && written == (DWORD)size;
}

void platformCloseFile(PlatformFile file) { CloseHandle((HANDLE)file); }
