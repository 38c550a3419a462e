#include "os/os_utf8_windows.h"

#include <cstdio>
#include <windows.h>

bool os_widen(const char* text, wchar_t* out, size_t size)
{
    if (!text || size == 0)
        return false;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, int(size));
    return n > 0;
}

const char* os_error_text(unsigned long code)
{
    thread_local char text[256];
    wchar_t wide[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wide, DWORD(sizeof wide / sizeof wide[0]),
                             nullptr);
    while (n > 0 && (wide[n - 1] == L'\n' || wide[n - 1] == L'\r' || wide[n - 1] == L' ' || wide[n - 1] == L'.'))
        --n;
    const int length = n ? WideCharToMultiByte(CP_UTF8, 0, wide, int(n), text, int(sizeof text) - 1, nullptr, nullptr)
                         : 0;
    if (length <= 0)
        std::snprintf(text, sizeof text, "error %lu", code);
    else
        text[length] = '\0';
    return text;
}
