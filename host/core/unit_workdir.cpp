#include "host/core/unit_workdir.h"

#include <filesystem>
#include <system_error>

#include "seam/unit.h"
#include "seam/unit.h"

namespace norvane {

bool prepare_unit_workdir(const std::string& dir, std::string& why)
{
    const std::string folder = dir.empty() ? "." : dir;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        why = ec ? ec.message() : "not a folder";
        return false;
    }
    hal_set_base_dir(folder.c_str());
    create_unit_roots();
    return true;
}

void create_unit_roots()
{
    fs_make_roots();
}

}  // namespace norvane
