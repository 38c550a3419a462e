// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput, as the test
// run does with every checked-in corpus: an input that once crashed a target
// keeps being tried. Arguments are files or folders (every file in them, in
// name order). Exit status 0 when every input ran, 2 when an input could not
// be read; a crash of the target ends the program as it would end libFuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

int main(int argc, char** argv)
{
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc < 2 ? stderr : stdout, "usage: %s FILE|FOLDER...\n"
                     "Runs every input through the fuzz target once.\n", argv[0]);
        return argc < 2 ? 2 : 0;
    }
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        } else {
            inputs.push_back(arg);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu input(s) replayed\n", inputs.size());
    return inputs.empty() ? 2 : 0;
}
