#include "support/test_os.h"

#include <cstdio>
#include <random>
#include <cstdlib>
#include <stdexcept>
#include <windows.h>

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

bool make_symlink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    // The C++ library's create_symlink is missing from mingw's; Windows 10
    // lets a user make links without privileges in developer mode.
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
           CreateSymbolicLinkW(link.c_str(), target.c_str(), 0);
}

bool shows_as_link(const std::filesystem::path& link)
{
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool have_fifos()
{
    return false;
}

bool make_fifo(const std::filesystem::path&)
{
    return false;
}

void set_env(const char* name, const char* value)
{
    ::_putenv_s(name, value ? value : "");  // an empty value removes it
}

}  // namespace norvane::testing
