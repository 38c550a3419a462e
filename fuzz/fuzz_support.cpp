#include "fuzz/fuzz_support.h"

#include <filesystem>
#include <unistd.h>

#include "host/core/unit_workdir.h"
#include "platform/hal.h"

namespace norvane::fuzz {

const std::string& unit_folder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "norvane-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("cannot create a temporary folder");
        std::string why;
        if (!prepare_unit_workdir(pattern, why))
            fail("cannot prepare the unit's folder");
        hal_set_debug_output(std::fopen("/dev/null", "w"));
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
