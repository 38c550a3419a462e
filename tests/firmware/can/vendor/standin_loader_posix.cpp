#include "standin_loader.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The dynamic loader reads LD_LIBRARY_PATH once, when the program starts: a
// program started without can-libs in it (directly, not through ctest)
// starts itself again with it.
[[gnu::constructor]] void search_can_libs()
{
    const char* search = std::getenv("LD_LIBRARY_PATH");
    if (search && std::strstr(search, "can-libs"))
        return;
    const std::string value = search && *search ? std::string("can-libs:") + search : std::string("can-libs");
    ::setenv("LD_LIBRARY_PATH", value.c_str(), 1);
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> words;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        words.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
}

}  // namespace

const char* standin_canlib_name()
{
    return "libcanlib.so.1";
}

const char* standin_cando_name()
{
    return "libCANdo.so";
}

const char* standin_search_problem()
{
    const char* search = std::getenv("LD_LIBRARY_PATH");
    if (search && std::string(search).find("can-libs") != std::string::npos)
        return "";
    return "run through ctest: the stand-in libraries are found through LD_LIBRARY_PATH=can-libs";
}

void standin_install(const std::filesystem::path& dir, const std::filesystem::path& built, const char* name)
{
    std::filesystem::create_directory(dir / "can-libs");
    const std::filesystem::path link = dir / "can-libs" / name;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(built, link);
}

void* standin_open(const char* name)
{
    return dlopen(name, RTLD_NOW);
}

void* standin_symbol(void* library, const char* function)
{
    return dlsym(library, function);
}

void standin_close(void* library)
{
    dlclose(library);
}

bool standin_loaded(const char* name)
{
    void* lib = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (lib)
        dlclose(lib);
    return lib != nullptr;
}
