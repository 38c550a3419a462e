#include "standin_loader.h"

#include <string>
#include <windows.h>

namespace {

std::wstring wide(const char* text)
{
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

}  // namespace

const char* standin_canlib_name()
{
    return "canlib32.dll";
}

const char* standin_cando_name()
{
    return "CANdo.dll";
}

const char* standin_search_problem()
{
    return "";  // LoadLibrary searches the current folder
}

void standin_install(const std::filesystem::path& dir, const std::filesystem::path& built, const char* name)
{
    // A copy: a loaded DLL cannot be replaced, and the back ends have let go
    // of theirs before a test installs another.
    std::filesystem::copy_file(built, dir / name, std::filesystem::copy_options::overwrite_existing);
}

void* standin_open(const char* name)
{
    return LoadLibraryW(wide(name).c_str());
}

void* standin_symbol(void* library, const char* function)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), function));
}

void standin_close(void* library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

bool standin_loaded(const char* name)
{
    return GetModuleHandleW(wide(name).c_str()) != nullptr;
}
