// Loading a vendor's CAN library at run time: the first file name that loads
// and exports every listed function wins; a library that lacks any of them is
// released again, so the next port operation can try once more.
#pragma once
#include <cstddef>

// Returns the library handle with found[i] set to the address of symbols[i],
// or nullptr when no name loads or a function is missing.
void* os_library_load(const char* const* names, size_t name_count, const char* const* symbols,
                       void** found, size_t symbol_count);
void os_library_unload(void* handle);
// Why the last os_library_load of this thread found nothing, as Windows'
// loader says it ("The specified module could not be found"); empty on
// Linux, where the message naming the file says enough.
const char* os_library_error();

// Turns a resolved address into the function pointer type it names.
template <typename F>
F os_library_function(void* address)
{
    return reinterpret_cast<F>(address);
}
