// How the vendor tests reach the stand-in libraries, one file per system:
// the vendors' file names, putting a built stand-in where the back ends'
// loader finds it, and the test's own handles on the stand-ins.
#pragma once
#include <filesystem>

// The vendors' file names on this system.
const char* standin_canlib_name();  // libcanlib.so.1, canlib32.dll
const char* standin_cando_name();   // libCANdo.so, CANdo.dll
// Whether the loader will search where standin_install puts the libraries;
// empty when it will, else what to do.
const char* standin_search_problem();
// Puts the built stand-in under `name` where the loader searches when the
// current folder is `dir` (Linux: a link in dir/can-libs, which
// LD_LIBRARY_PATH names; Windows: a copy in dir, the current folder).
void standin_install(const std::filesystem::path& dir, const std::filesystem::path& built, const char* name);
// The test's own handle on a library (loading it if the back end has not);
// nullptr when it does not load.
void* standin_open(const char* name);
void* standin_symbol(void* library, const char* function);
void standin_close(void* library);
// Whether the library is loaded in this process now.
bool standin_loaded(const char* name);
