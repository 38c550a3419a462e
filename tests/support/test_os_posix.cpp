#include "support/test_os.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane::testing {

std::filesystem::path make_temp_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "norvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

bool make_symlink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    std::error_code ec;
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

bool shows_as_link(const std::filesystem::path&)
{
    return true;
}

bool have_fifos()
{
    return true;
}

bool make_fifo(const std::filesystem::path& path)
{
    return ::mkfifo(path.c_str(), 0600) == 0;
}

void set_env(const char* name, const char* value)
{
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

}  // namespace norvane::testing
