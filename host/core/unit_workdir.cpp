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

bool copy_unit_state(const std::string& from, const std::string& to, std::string& why)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path source = fs::path(from.empty() ? "." : from) / "rootfs";
    const fs::path target = fs::path(to.empty() ? "." : to) / "rootfs";
    if (fs::equivalent(source, target, ec)) {
        why = "the start folder is the working folder";
        return false;
    }
    ec.clear();
    fs::remove_all(target, ec);
    if (!ec)
        fs::create_directories(target, ec);
    // Folder by folder and file by file: the C++ library's recursive copy
    // into an existing folder fails on Windows ("File exists").
    if (!ec && fs::exists(source)) {
        for (fs::recursive_directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path place = target / fs::relative(it->path(), source, ec);
            if (ec)
                break;
            if (it->is_directory(ec))
                fs::create_directories(place, ec);
            else if (!ec)
                fs::copy_file(it->path(), place, fs::copy_options::overwrite_existing, ec);
        }
    }
    if (ec) {
        why = ec.message();
        return false;
    }
    return true;
}

void create_unit_roots()
{
    fs_make_roots();
}

}  // namespace norvane
