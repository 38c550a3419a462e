// Inside the os layer: an os_file is the C library's stream itself. Each
// system's file opens it its own way (os_file_posix.cpp, os_file_windows.cpp);
// reading and writing it are the same everywhere (os_file_stream.cpp).
#pragma once
#include <cstdio>

#include "os/os_file.h"

inline std::FILE* os_file_stream(os_file* file)
{
    return reinterpret_cast<std::FILE*>(file);
}

inline os_file* os_file_of(std::FILE* file)
{
    return reinterpret_cast<os_file*>(file);
}
