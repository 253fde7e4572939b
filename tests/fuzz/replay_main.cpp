// Replays a fuzz target's corpus without libFuzzer: every file of the folders (or
// the files) named on the command line goes once through LLVMFuzzerTestOneInput,
// in name order. Each input is copied into a heap block of exactly its size, as
// libFuzzer does, so that a sanitizer build catches a read past its end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool readFile(const fs::path& path, std::vector<char>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    for (int a = 1; a < argc; ++a) {
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
            LLVMFuzzerTestOneInput(copy.get(), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
