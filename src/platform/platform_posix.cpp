// Stand-ins for the Windows calls, for the Linux build that the stand-in host loads.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Never inlined, even where the plug-in's objects are linked into one program with
// their caller (the benchmarks): on Windows it is a call into KERNEL32, and in the
// Linux plug-in a call the stand-in host may take over.
extern "C" __attribute__((noinline)) DWORD GetTickCount(void) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Milliseconds wrap at 2^32, as on Windows.
    return (DWORD)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

bool platformWriteFile(const char* path, const char* bytes, int size) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (int done = 0; ok && done < size;) {
        ssize_t w = write(fd, bytes + done, (size_t)(size - done));
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += (int)w;
    }
    ok = ok && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

bool platformReadOnly(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool platformReplaceFile(const char* from, const char* to) {
    // Windows refuses to replace a file that carries the read-only attribute, even
    // for an administrator; a file without any write permission stands for it here.
    if (platformReadOnly(to)) return false;
    return rename(from, to) == 0;
}

void platformRemoveFile(const char* path) { unlink(path); }

PlatformFile platformCreateNewFile(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    return fd < 0 ? NoFile : (PlatformFile)fd;
}

bool platformAppendFile(PlatformFile file, const void* bytes, int size) {
    const char* from = (const char*)bytes;
    for (int done = 0; done < size;) {
        const ssize_t w = write((int)file, from + done, (size_t)(size - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += (int)w;
    }
    return true;
}

void platformCloseFile(PlatformFile file) { close((int)file); }
