// tolvenmire-sim run as a command (TOLVENMIRE_SIM, the build's): what it prints on
// each stream and the exit status it ends with.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Lines a sanitizer runtime adds to the standard error ("==123==WARNING: ...") are
// not the command's.
inline std::string withoutSanitizerLines(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        if (line.rfind("==", 0) != 0) out += line;
        start = end;
    }
    return out;
}

// Runs `tolvenmire-sim ARGS` (ARGS as the shell reads them), with `environment`
// ("NAME=VALUE ...") before it.
inline Outcome runSim(const std::string& args, const std::string& environment = "") {
    Outcome r;
    const std::filesystem::path errFile =
        std::filesystem::temp_directory_path() / ("tolvenmire-sim-stderr-" + std::to_string(getpid()));
    const std::string command =
        environment + std::string(TOLVENMIRE_SIM) + " " + args + " 2>" + errFile.string();
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    r.err = withoutSanitizerLines(all);
    std::filesystem::remove(errFile);
    return r;
}
