#include "support/test_os.h"

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

bool have_fifos()
{
    return true;
}

bool make_fifo(const std::filesystem::path& path)
{
    return ::mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace norvane::testing
