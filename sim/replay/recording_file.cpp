// A recording read from its file ("Tolvenmire.rec", docs/recordings.md): a regular
// file no larger than any recording the plug-in writes, refused by its size before
// anything is read, then read block by block as it is parsed (recording_blocks.cpp),
// whole, event by event, or only checked.
#include "replay/recording_reader.h"

#include "replay/recording_blocks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace rec {

namespace {

// An open recording, read where the parser asks, into a buffer the size of its
// largest block.
struct OpenFile {
    FILE* f = nullptr;
    uint64_t at = 0;
    std::vector<uint8_t> buffer;
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (f) fclose(f);
    }
    const uint8_t* read(uint64_t offset, size_t n) {
        if (offset != at) {
            if (fseek(f, (long)offset, SEEK_SET) != 0) return nullptr;
            at = offset;
        }
        if (buffer.size() < n + 1) buffer.resize(n + 1);
        const size_t got = n ? fread(buffer.data(), 1, n, f) : 0;
        at += got;
        return got == n ? buffer.data() : nullptr;
    }
};

// The file opened; false, with the problem, for one that cannot be a recording (not a
// regular file, or larger than any: the plug-in stops at 64 MiB, and a sparse file
// of gigabytes is told by its size alone) or cannot be opened.
bool openFile(const std::string& path, OpenFile* file, uint64_t* size, std::string* error) {
#ifdef _WIN32
    struct _stat64 st; // sizes past 2 GiB too
    if (_stat64(path.c_str(), &st) != 0)
        return *error = path + ": cannot be opened: " + strerror(errno), false;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return *error = path + ": cannot be opened: " + strerror(errno), false;
#endif
    if (S_ISDIR(st.st_mode)) return *error = path + ": a folder, not a recording", false;
    if (!S_ISREG(st.st_mode)) return *error = path + ": not a file", false;
    if ((uint64_t)st.st_size > MaxRecordingFile) return *error = tooLarge(path, (uint64_t)st.st_size), false;
    file->f = fopen(path.c_str(), "rb");
    if (!file->f) return *error = path + ": cannot be opened: " + strerror(errno), false;
    *size = (uint64_t)st.st_size;
    return true;
}

bool readFile(const std::string& path, Recording* out, const std::function<bool(Event&&)>* onEvent, bool scan,
              std::string* error) {
    *out = Recording();
    OpenFile file;
    ByteSource source;
    if (!openFile(path, &file, &source.size, error)) return false;
    source.read = [&file](uint64_t offset, size_t n) { return file.read(offset, n); };
    return parseSource(source, path, out, onEvent, scan, error);
}

} // namespace

bool readRecording(const std::string& path, Recording* out, std::string* error) {
    return readFile(path, out, nullptr, false, error);
}

bool readRecordingEvents(const std::string& path, Recording* out, const std::function<bool(Event&&)>& onEvent,
                         std::string* error) {
    return readFile(path, out, &onEvent, false, error);
}

bool scanRecording(const std::string& path, Recording* out, std::string* error) {
    return readFile(path, out, nullptr, true, error);
}

} // namespace rec
