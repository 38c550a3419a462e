// UTF-8 paths and texts to and from the UTF-16 the Windows calls take.
#pragma once
#include <cstddef>

// Converts the UTF-8 `text` into `out` (at most `size` wide characters with
// the terminating zero). False when it does not fit or is not UTF-8.
bool os_widen(const char* text, wchar_t* out, size_t size);
// The system's text for the error code (GetLastError), in UTF-8, without the
// trailing line break; kept in a buffer of the calling thread.
const char* os_error_text(unsigned long code);
