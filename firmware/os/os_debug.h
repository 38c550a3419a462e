// The host's side of the unit's debug output: formatted text to a stream.
#pragma once
#include <cstdarg>
#include <cstdio>

// Writes the formatted text to `out`, or to standard error when it is nullptr.
void os_debug_vprintf(std::FILE* out, const char* format, va_list args);
