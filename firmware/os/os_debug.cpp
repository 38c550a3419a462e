#include "os/os_debug.h"

void os_debug_vprintf(std::FILE* out, const char* format, va_list args)
{
    std::vfprintf(out ? out : stderr, format, args);
}
