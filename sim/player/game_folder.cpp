// The game's folder of a whole session (game_folder.h).
#include "player/game_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#define TOLVENMIRE_UNLINK _unlink
#define TOLVENMIRE_RMDIR _rmdir
#else
#include <sys/stat.h>
#include <unistd.h>
#define TOLVENMIRE_UNLINK unlink
#define TOLVENMIRE_RMDIR rmdir
#endif

namespace player {

namespace {

// The folder of the session under way, where a signal handler can read it.
char liveFolder[4096];

} // namespace

GameFolder::~GameFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    if (!path_.empty() && path_ == liveFolder) liveFolder[0] = '\0';
}

void removeGameFolderNow() {
    if (!liveFolder[0]) return;
    static const char* const Files[] = {"Tolvenmire.ini", "Tolvenmire.dat", "Tolvenmire.dat.tmp",
                                        "Tolvenmire.rec", "Tolvenmire.prev.rec"};
    char path[sizeof liveFolder + 32];
    const size_t n = strlen(liveFolder);
    memcpy(path, liveFolder, n);
    path[n] = '/';
    for (const char* file : Files) {
        memcpy(path + n + 1, file, strlen(file) + 1);
        TOLVENMIRE_UNLINK(path);
    }
    TOLVENMIRE_RMDIR(liveFolder);
    liveFolder[0] = '\0';
}

bool GameFolder::make(std::string* error) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        *error = "cannot find the folder for temporary files: " + ec.message();
        return false;
    }
    // A new name until one is free; making the folder is what claims it.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[40];
        snprintf(name, sizeof name, "tolvenmire-sim-%08x", (unsigned)random());
        const std::filesystem::path folder = base / name;
#ifdef _WIN32
        // The temporary folder is the user's own, and a folder made in it too.
        const bool made = std::filesystem::create_directory(folder, ec);
#else
        // Private from the start: the settings file copied in may be.
        const bool made = mkdir(folder.c_str(), 0700) == 0;
        if (!made && errno != EEXIST) ec = std::error_code(errno, std::generic_category());
#endif
        if (made) {
            path_ = folder.string();
            if (path_.size() < sizeof liveFolder) memcpy(liveFolder, path_.c_str(), path_.size() + 1);
            return true;
        }
        if (ec) {
            *error = "cannot make a folder " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    *error = "cannot make a folder under " + base.string() + ": every name tried is taken";
    return false;
}

} // namespace player
