#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "host/core/unit_workdir.h"
#include "platform/hal.h"

namespace norvane::fuzz {

const std::string& unit_folder()
{
    static const std::string folder = [] {
        // A new folder of this run's own.
        std::random_device seed;
        std::string pattern;
        for (int attempt = 0;; ++attempt) {
            if (attempt == 100)
                fail("cannot create a temporary folder");
            pattern = (std::filesystem::temp_directory_path() / ("norvane-fuzz-" + std::to_string(seed()))).string();
            std::error_code ec;
            if (std::filesystem::create_directory(pattern, ec))
                break;
        }
        std::string why;
        if (!prepare_unit_workdir(pattern, why))
            fail("cannot prepare the unit's folder");
        // The firmware's debug lines go nowhere (NUL is Windows' /dev/null).
        std::FILE* nowhere = std::fopen("/dev/null", "w");
        hal_set_debug_output(nowhere ? nowhere : std::fopen("NUL", "w"));
        // The folder goes when the process ends normally.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(hal_base_dir(), ec);
        });
        return pattern;
    }();
    return folder;
}

void write_bytes(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        fail("cannot write the input file");
    if (size)
        std::fwrite(data, 1, size, out);
    std::fclose(out);
}

}  // namespace norvane::fuzz
