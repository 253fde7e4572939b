// What the file readers answer, one line per file, so that the Linux build's
// stand-ins can be compared with Windows (Wine) file by file:
//
//   reader_answers generate FOLDER       the generated files (FOLDER/settings, FOLDER/save)
//   reader_answers settings PATH...      for the six keys of [SETTINGS]:
//                                        GetPrivateProfileIntA with the plug-in's default
//                                        and with another one, GetPrivateProfileStringA
//                                        into the plug-in's 30 bytes, and the value the
//                                        plug-in makes of that text:
//                                        "settings<TAB>file<TAB>answers"
//   reader_answers save PATH...          the flask level the plug-in loads from the
//                                        file as Tolvenmire.dat: "save<TAB>file<TAB>level"
//
// A PATH is a file or a folder of files (taken in name order). On Windows the
// settings answers come from the system's GetPrivateProfileIntA and
// GetPrivateProfileStringA and the levels from the real DLL in the stand-in host; on
// Linux from the stand-ins and the Linux plug-in. scripts/test-readers.sh runs both
// and compares. Each build also holds its own answers together: a text the plug-in
// reads as a number must give the number GetPrivateProfileIntA gives, and a missing
// one the default; a file where they part is named on the standard error, and the
// run fails.
#include "generated_files.h"

#include "sim.h"

#include "base/script_state.h"
#include "base/setting_values.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A second default tells an empty value read as 0 from one that gives the default.
const int32_t OtherDefault = -7;

// The files named by `arg`, each with the name it is reported under.
bool filesOf(const std::string& arg, std::vector<std::pair<std::string, fs::path>>* out) {
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
        std::vector<fs::path> files;
        for (const fs::directory_entry& e : fs::directory_iterator(arg, ec))
            if (e.is_regular_file()) files.push_back(e.path());
        if (ec) {
            std::fprintf(stderr, "error: %s: cannot list the folder: %s\n", arg.c_str(),
                         ec.message().c_str());
            return false;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& p : files) out->push_back({arg + "/" + p.filename().string(), p});
        return true;
    }
    if (fs::is_regular_file(arg, ec)) {
        out->push_back({arg, fs::path(arg)});
        return true;
    }
    std::fprintf(stderr, "error: %s: no such file or folder\n", arg.c_str());
    return false;
}

bool readFile(const fs::path& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A text as a line may hold it: bytes beyond printable ASCII, '"' and '\\' escaped.
std::string escaped(const char* text) {
    std::string out;
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        if (*p < 0x20 || *p >= 0x7F || *p == '"' || *p == '\\') {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", *p);
            out += b;
        } else {
            out += (char)*p;
        }
    }
    return out;
}

int settingsAnswers(const std::vector<std::pair<std::string, fs::path>>& files) {
    int status = 0;
    for (const auto& [name, path] : files) {
        // An absolute path, which both systems read as it is (a relative name without
        // a folder would be looked for in the Windows folder).
        const std::string full = fs::absolute(path).string();
        std::printf("settings\t%s\t", name.c_str());
        for (int k = 0; k < SettingsKeys; ++k) {
            const SettingKey& s = SettingKeys[k];
            const UINT a = GetPrivateProfileIntA("SETTINGS", s.key, s.fallback, full.c_str());
            const UINT b = GetPrivateProfileIntA("SETTINGS", s.key, OtherDefault, full.c_str());
            char text[SettingTextBytes];
            const DWORD n = GetPrivateProfileStringA("SETTINGS", s.key, "", text, sizeof text, full.c_str());
            SettingReading reading;
            const uint32_t value = settingValueOf(k, text, a, &reading);
            std::printf(" %s=%u/%u \"%s\"%u/%u", s.key, a, b, escaped(text).c_str(), (unsigned)n, value);
            // A value the system reads as a number other than the default the plug-in
            // reads as that number, and no text is the default: a file that worked
            // before reads the same.
            if ((a != 0 && a != (uint32_t)s.fallback && (reading != SettingFromNumber || value != a)) ||
                (reading == SettingMissing && value != (uint32_t)s.fallback)) {
                std::fprintf(stderr,
                             "error: %s: %s: the plug-in reads \"%s\" as %u, GetPrivateProfileIntA as %u\n",
                             name.c_str(), s.key, escaped(text).c_str(), value, a);
                status = 1;
            }
        }
        std::printf("\n");
    }
    return status;
}

int saveAnswers(const std::vector<std::pair<std::string, fs::path>>& files) {
    for (const auto& [name, path] : files) {
        sim::StartOptions o;
        o.withSave = true;
        if (!readFile(path, &o.save)) {
            std::fprintf(stderr, "error: %s: cannot read the file\n", name.c_str());
            return 1;
        }
        std::string error;
        if (!sim::start(o, &error)) {
            std::fprintf(stderr, "error: %s: %s\n", name.c_str(), error.c_str());
            return 1;
        }
        sim::playFrames(1); // the script's start loads the flask
        std::printf("save\t%s\t%d\n", name.c_str(), (int)sim::pluginState()->flaskLevel);
        sim::stop();
        for (const std::string& v : sim::violations()) {
            std::fprintf(stderr, "error: %s: protocol: %s\n", name.c_str(), v.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s generate FOLDER | settings PATH... | save PATH...\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "generate") {
        std::string error;
        const int n = writeGeneratedFiles(argv[2], &error);
        if (n < 0) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 1;
        }
        std::printf("%d files generated in %s\n", n, argv[2]);
        return 0;
    }
    if (mode != "settings" && mode != "save") {
        std::fprintf(stderr, "error: unknown mode '%s' (generate, settings or save)\n", mode.c_str());
        return 2;
    }
    std::vector<std::pair<std::string, fs::path>> files;
    for (int a = 2; a < argc; ++a)
        if (!filesOf(argv[a], &files)) return 1;
    return mode == "settings" ? settingsAnswers(files) : saveAnswers(files);
}
