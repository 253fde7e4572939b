// Replays a fuzz target's corpus without libFuzzer: every file of the folders (or
// the files) named on the command line goes once through LLVMFuzzerTestOneInput,
// in name order. Each input is copied into a heap block of exactly its size, as
// libFuzzer does, so that a sanitizer build catches a read past its end.
//
// libFuzzer's -timeout=SECONDS and -rss_limit_mb=MB hold here too: an input that
// runs longer, or after which the process's peak memory is larger, fails the
// replay, named. (Windows builds check the time only.)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/resource.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool readFile(const fs::path& path, std::vector<char>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The input under way and when it began, for a watchdog that ends the replay when
// one takes longer than the timeout.
static std::mutex gInputLock;
static std::string gInput;
static std::atomic<int64_t> gStartedMs{-1}; // -1: between inputs

static int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static void watch(unsigned timeout) {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int64_t started = gStartedMs.load();
        if (started < 0 || nowMs() - started <= (int64_t)timeout * 1000) continue;
        std::lock_guard<std::mutex> lock(gInputLock);
        std::fprintf(stderr, "error: %s: the input ran past -timeout=%u\n", gInput.c_str(), timeout);
        std::fflush(stderr);
        std::_Exit(1);
    }
}

// The process's peak resident memory so far, in MiB; 0 where it is not known.
static long peakMb() {
#ifdef _WIN32
    return 0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024; // KiB on Linux
#endif
}

int main(int argc, char** argv) {
    unsigned timeout = 0; // seconds an input may take; 0: no limit
    long rssLimit = 0;    // MiB; 0: no limit
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (std::sscanf(argv[first], "-timeout=%u", &timeout) == 1) continue;
        if (std::sscanf(argv[first], "-rss_limit_mb=%ld", &rssLimit) == 1) continue;
        std::fprintf(stderr, "error: %s: unknown option (-timeout=S, -rss_limit_mb=MB)\n", argv[first]);
        return 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [-timeout=S] [-rss_limit_mb=MB] CORPUS_FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    if (timeout) std::thread(watch, timeout).detach();
    size_t replayed = 0;
    for (int a = first; a < argc; ++a) {
        const fs::path root = argv[a];
        std::vector<fs::path> inputs;
        std::error_code ec;
        if (fs::is_directory(root, ec)) {
            for (const fs::directory_entry& e : fs::directory_iterator(root, ec))
                if (e.is_regular_file()) inputs.push_back(e.path());
            if (ec) {
                std::fprintf(stderr, "error: %s: cannot list the folder: %s\n", argv[a],
                             ec.message().c_str());
                return 1;
            }
            if (inputs.empty()) {
                std::fprintf(stderr, "error: %s: the folder holds no input\n", argv[a]);
                return 1;
            }
            std::sort(inputs.begin(), inputs.end());
        } else if (fs::is_regular_file(root, ec)) {
            inputs.push_back(root);
        } else {
            std::fprintf(stderr, "error: %s: no such file or folder\n", argv[a]);
            return 1;
        }
        for (const fs::path& p : inputs) {
            std::vector<char> bytes;
            if (!readFile(p, &bytes)) {
                std::fprintf(stderr, "error: %s: cannot read the file\n", p.string().c_str());
                return 1;
            }
            // Exactly the input's size; an empty input still gets a valid pointer.
            std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
            if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
            {
                std::lock_guard<std::mutex> lock(gInputLock);
                gInput = p.string();
            }
            gStartedMs = nowMs();
            LLVMFuzzerTestOneInput(copy.get(), bytes.size());
            gStartedMs = -1;
            if (rssLimit && peakMb() > rssLimit) {
                std::fprintf(stderr, "error: %s: the peak memory reached %ld MB, past -rss_limit_mb=%ld\n",
                             p.string().c_str(), peakMb(), rssLimit);
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
