// Hostile save and settings files: what a player's disk, another program or a
// careless edit may leave where the plug-in reads at load. Each case lays its file
// in a session folder and names what the load must make of it. Shared by the test
// (hostile_files_test.cpp) and the measured run of their load times
// (file_load_times.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace hostile {

enum class Lay {
    Bytes,      // the file holds `bytes()`
    Folder,     // a folder has the file's name
    Unreadable, // the file cannot be opened for reading (see Folder::lay)
};

struct Case {
    const char* name;
    const char* file; // "Tolvenmire.dat" or "Tolvenmire.ini"
    Lay lay;
    std::string (*bytes)();
    // What the load makes of it: the flask level, and two of the settings (the
    // others are checked to keep their defaults unless named here).
    int32_t flaskLevel;
    int32_t refillPrice;
    int32_t drinkKey;
};

const size_t MiB = 1u << 20;

inline std::string none() { return std::string(); }
inline std::string binary() {
    // A picture's header and bytes of every value, NULs and Ctrl-Zs among them.
    std::string b("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    for (int i = 0; i < 4096; ++i) b += (char)((i * 151 + 7) & 0xFF);
    return b;
}
inline std::string numberThenDigits() { return "42" + std::string(4 * MiB, '7'); }
inline std::string whiteSpace() {
    std::string s;
    s.reserve(4 * MiB);
    while (s.size() < 4 * MiB) s += " \t\r\n  \n";
    return s;
}
inline std::string whiteSpaceThenNumber() { return whiteSpace() + "42"; }
inline std::string zerosThenNumber() {
    std::string s(4 * MiB, '0');
    s.append("42"); // (appended: GCC 12 at -O1 warns falsely on "zeros + text")
    return s;
}
inline std::string settingsMegabytes() {
    std::string s = "[SETTINGS]\r\nTOLVENMIRE_KEY=80\r\n";
    s.reserve(4 * MiB + 100);
    while (s.size() < 4 * MiB) s += "; a line of comment that a tool wrote over and over again\r\n";
    return s + "REFILL_PRICE=25\r\n";
}
inline std::string settingsNoSection() {
    return "TOLVENMIRE_KEY=80\nREFILL_PRICE=25\n[OTHER]\nREFILL_PRICE=30\n";
}
inline std::string settingsKeyTwice() {
    return "[SETTINGS]\nREFILL_PRICE=25\nTOLVENMIRE_KEY=80\nREFILL_PRICE=30\n";
}
inline std::string settingsCrLf() { return "[SETTINGS]\r\nTOLVENMIRE_KEY=80\r\nREFILL_PRICE=25\r\n"; }
inline std::string settingsLoneCr() { return "[SETTINGS]\rTOLVENMIRE_KEY=80\rREFILL_PRICE=25\r"; }
inline std::string settingsNormal() { return "[SETTINGS]\nTOLVENMIRE_KEY=80\nREFILL_PRICE=25\n"; }
inline std::string saveNormal() { return "42"; }

// Defaults: a full flask, REFILL_PRICE 10, TOLVENMIRE_KEY 79.
inline const Case Cases[] = {
    {"save_normal", "Tolvenmire.dat", Lay::Bytes, saveNormal, 42, 10, 79},
    {"save_empty", "Tolvenmire.dat", Lay::Bytes, none, 99, 10, 79},
    {"save_folder", "Tolvenmire.dat", Lay::Folder, none, 99, 10, 79},
    {"save_unreadable", "Tolvenmire.dat", Lay::Unreadable, saveNormal, 99, 10, 79},
    {"save_binary", "Tolvenmire.dat", Lay::Bytes, binary, 0, 10, 79},
    {"save_number_then_4_MiB_of_digits", "Tolvenmire.dat", Lay::Bytes, numberThenDigits, INT32_MAX, 10, 79},
    {"save_4_MiB_of_white_space", "Tolvenmire.dat", Lay::Bytes, whiteSpace, 99, 10, 79},
    {"save_4_MiB_of_white_space_then_number", "Tolvenmire.dat", Lay::Bytes, whiteSpaceThenNumber, 42, 10, 79},
    {"save_4_MiB_of_zeros_then_number", "Tolvenmire.dat", Lay::Bytes, zerosThenNumber, 42, 10, 79},
    {"settings_normal", "Tolvenmire.ini", Lay::Bytes, settingsNormal, 99, 25, 80},
    {"settings_folder", "Tolvenmire.ini", Lay::Folder, none, 99, 10, 79},
    {"settings_binary", "Tolvenmire.ini", Lay::Bytes, binary, 99, 10, 79},
    {"settings_4_MiB", "Tolvenmire.ini", Lay::Bytes, settingsMegabytes, 99, 25, 80},
    {"settings_without_the_section", "Tolvenmire.ini", Lay::Bytes, settingsNoSection, 99, 10, 79},
    {"settings_key_given_twice", "Tolvenmire.ini", Lay::Bytes, settingsKeyTwice, 99, 25, 80},
    {"settings_crlf", "Tolvenmire.ini", Lay::Bytes, settingsCrLf, 99, 25, 80},
    {"settings_lone_cr", "Tolvenmire.ini", Lay::Bytes, settingsLoneCr, 99, 25, 80},
};

// Keeps a file from being opened for reading while it lives. On Windows another
// program holds it open with no sharing. Elsewhere (where the tests run as root,
// whom no permission stops) the name is a symbolic link to itself, which no open
// can follow.
class Blocker {
  public:
    Blocker() = default;
    Blocker(const Blocker&) = delete;
    Blocker& operator=(const Blocker&) = delete;
    bool block(const std::filesystem::path& path) {
#ifdef _WIN32
        handle_ = CreateFileA(path.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
#else
        std::error_code ec;
        std::filesystem::remove(path, ec);
        std::filesystem::create_symlink(path.filename(), path, ec);
        return !ec;
#endif
    }
    ~Blocker() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#endif
    }

  private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
};

inline unsigned long processId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return (unsigned long)getpid();
#endif
}

// Lays the case's file in `folder`; false when it cannot.
inline bool lay(const Case& c, const std::filesystem::path& folder, Blocker* blocker) {
    const std::filesystem::path path = folder / c.file;
    std::error_code ec;
    if (c.lay == Lay::Folder) return std::filesystem::create_directory(path, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = c.bytes();
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    if (out.fail()) return false;
    return c.lay == Lay::Bytes || blocker->block(path);
}

} // namespace hostile
