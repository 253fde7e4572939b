// A recording read from its file ("Tolvenmire.rec", docs/recordings.md): a regular
// file no larger than any recording the plug-in writes, read whole, then parsed
// (recording_blocks.cpp), whole or event by event.
#include "replay/recording_reader.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace rec {

namespace {

// A file larger than any the plug-in writes (64 MiB) with room to spare: beyond it a
// file is not a recording.
const uint64_t MaxFile = 80ull << 20;

// The file's bytes, for `parse`; false, with the problem, for a file that cannot be
// a recording or cannot be read.
bool readFile(const std::string& path, std::string* bytes, std::string* error) {
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
    if ((uint64_t)st.st_size > MaxFile) {
        char b[160];
        snprintf(b, sizeof b,
                 ": %" PRIu64 " bytes, more than any recording holds (the plug-in stops at 64 MiB)",
                 (uint64_t)st.st_size);
        return *error = path + b, false;
    }
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return *error = path + ": cannot be opened: " + strerror(errno), false;
    bytes->assign((size_t)st.st_size, '\0');
    const size_t n = bytes->empty() ? 0 : fread(&(*bytes)[0], 1, bytes->size(), f);
    fclose(f);
    if (n != bytes->size()) return *error = path + ": cannot be read whole", false;
    return true;
}

} // namespace

bool readRecording(const std::string& path, Recording* out, std::string* error) {
    *out = Recording();
    std::string bytes;
    if (!readFile(path, &bytes, error)) return false;
    return parseRecording((const uint8_t*)bytes.data(), bytes.size(), path, out, error);
}

bool readRecordingEvents(const std::string& path, Recording* out,
                         const std::function<bool(const Event&)>& onEvent, std::string* error) {
    *out = Recording();
    std::string bytes;
    if (!readFile(path, &bytes, error)) return false;
    return parseRecordingEvents((const uint8_t*)bytes.data(), bytes.size(), path, out, onEvent, error);
}

} // namespace rec
