#include "os/os_library.h"

#include <dlfcn.h>

void* os_library_load(const char* const* names, size_t name_count, const char* const* symbols,
                       void** found, size_t symbol_count)
{
    for (size_t n = 0; n < name_count; ++n) {
        void* handle = dlopen(names[n], RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            continue;
        for (size_t i = 0; i < symbol_count; ++i) {
            found[i] = dlsym(handle, symbols[i]);
            if (!found[i]) {
                dlclose(handle);
                return nullptr;
            }
        }
        return handle;
    }
    return nullptr;
}

void os_library_unload(void* handle)
{
    if (handle)
        dlclose(handle);
}

const char* os_library_error()
{
    return "";
}
