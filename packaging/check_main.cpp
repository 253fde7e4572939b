// Tolvenmire-check.exe, in the player's package: explains the Tolvenmire.ini beside
// it (or the file named on its command line) as the plug-in reads it, in the words of
// `tolvenmire-sim --settings`, through Windows' own GetPrivateProfileStringA. Exit
// status 0 when every line means what it says, 1 otherwise. Started by a
// double-click, its console window is its own and would close at once: it then waits
// for a key first; from a prompt, a script or a test it does not.
#include "player/settings_check.h"

#include <windows.h>

#include <conio.h>
#include <cstdio>
#include <string>

namespace {

// The full path of `name` beside this program.
std::string besideThisProgram(const char* name) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string folder = n > 0 && n < sizeof self ? std::string(self, n) : std::string();
    const size_t slash = folder.find_last_of("\\/");
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
    return folder + "\\" + name;
}

// A path as Windows' settings calls need it: full (a bare name would be looked for
// in the Windows folder).
std::string fullPath(const std::string& path) {
    char full[4096];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

// Whether this program's console is its own (a double-click made it) and a person
// can answer it: then the window stays until a key.
bool ownConsoleToKeepOpen() {
    DWORD processes[2];
    DWORD mode;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

} // namespace

int main(int argc, char** argv) {
    const std::string shown = argc > 1 ? argv[1] : "Tolvenmire.ini";
    const std::string path = argc > 1 ? fullPath(argv[1]) : besideThisProgram("Tolvenmire.ini");
    std::string text;
    const int status = player::explainSettings(path, shown, &text);
    // The file's own text may hold any characters; the rest is plain ASCII.
    SetConsoleOutputCP(CP_UTF8);
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    if (ownConsoleToKeepOpen()) {
        fputs("\nPress any key to close this window.", stdout);
        fflush(stdout);
        _getch();
    }
    return status;
}
