#include "os/os_library.h"

#include <windows.h>

#include "os/os_utf8_windows.h"

namespace {

thread_local const char* last_error = "";

}  // namespace

void* os_library_load(const char* const* names, size_t name_count, const char* const* symbols,
                       void** found, size_t symbol_count)
{
    last_error = "";
    for (size_t n = 0; n < name_count; ++n) {
        wchar_t wide[MAX_PATH];
        if (!os_widen(names[n], wide, MAX_PATH))
            continue;
        // No dialog box when the DLL or one it needs is missing.
        const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE module = LoadLibraryW(wide);
        const DWORD code = GetLastError();
        SetErrorMode(mode);
        if (!module) {
            last_error = os_error_text(code);
            continue;
        }
        for (size_t i = 0; i < symbol_count; ++i) {
            found[i] = reinterpret_cast<void*>(GetProcAddress(module, symbols[i]));
            if (!found[i]) {
                last_error = "a function is missing";
                FreeLibrary(module);
                return nullptr;
            }
        }
        return module;
    }
    return nullptr;
}

void os_library_unload(void* handle)
{
    if (handle)
        FreeLibrary(static_cast<HMODULE>(handle));
}

const char* os_library_error()
{
    return last_error;
}
