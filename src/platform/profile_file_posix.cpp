// The stand-ins for Windows' initialisation-file calls, for the Linux build: the
// file mapped, and read as Windows reads it (profile_reader.h).
#include "platform/platform.h"
#include "platform/profile_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Calls `read` with the whole text of `file`; false when there is no such file to
// read. ".\Tolvenmire.ini" names the current directory as Windows writes it.
template <typename Read> bool withFileText(LPCSTR file, Read read) {
    char path[512];
    size_t n = 0;
    for (; file[n] != '\0' && n + 1 < sizeof path; ++n) path[n] = file[n] == '\\' ? '/' : file[n];
    path[n] = '\0';

    // Windows reads the whole file, however long; mapped here, so that its length
    // costs no copy.
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    bool done = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* text = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            read((const char*)text, (size_t)st.st_size);
            done = true;
            munmap(text, (size_t)st.st_size);
        }
    }
    close(fd);
    return done;
}

} // namespace

extern "C" UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
    UINT value = (UINT)def;
    withFileText(
        file, [&](const char* text, size_t size) { value = profileReadInt(text, size, section, key, def); });
    return value;
}

extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                          LPCSTR file) {
    DWORD copied = 0;
    // No file, or an empty one: the default, as for a missing key.
    if (!withFileText(file, [&](const char* text, size_t n) {
            copied = profileReadString(text, n, section, key, def, out, size);
        }))
        copied = profileReadString("", 0, section, key, def, out, size);
    return copied;
}
