#include "support/test_os.h"

#include <cstdio>
#include <random>
#include <stdexcept>

namespace norvane::testing {

std::filesystem::path make_temp_dir()
{
    std::random_device seed;
    std::mt19937_64 pick(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "norvane-test-%012llx",
                      static_cast<unsigned long long>(pick() & 0xffffffffffffULL));
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec))
            return base / name;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

bool have_fifos()
{
    return false;
}

bool make_fifo(const std::filesystem::path&)
{
    return false;
}

}  // namespace norvane::testing
