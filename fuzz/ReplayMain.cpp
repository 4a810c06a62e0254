// Feeds files to a libFuzzer harness without libFuzzer: each argument is a file or a folder
// (its files in name order); arguments starting with "-" are libFuzzer options and skipped.
// This is how the corpora run as ordinary tests, with any compiler.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg[0] == '-')
            continue;
        if (fs::is_directory(arg)) {
            std::vector<fs::path> inFolder;
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file())
                    inFolder.push_back(entry.path());
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else if (fs::is_regular_file(arg)) {
            files.emplace_back(arg);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", arg.c_str());
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // A copy of exactly the input's size, so a read past its end is seen by ASan.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
