// A whole file's bytes, as the tests read a save file back.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

// The file's bytes, or nothing when it cannot be opened.
inline std::optional<std::string> fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
