// Reading and writing an open file: the C library's stream calls, the same
// on every system.
#include "os/os_file_stream.h"

void os_file_close(os_file* file)
{
    if (file)
        std::fclose(os_file_stream(file));
}

size_t os_file_read(os_file* file, void* buffer, size_t n)
{
    return std::fread(buffer, 1, n, os_file_stream(file));
}

size_t os_file_write(os_file* file, const void* data, size_t n)
{
    return std::fwrite(data, 1, n, os_file_stream(file));
}

int os_file_getc(os_file* file)
{
    const int c = std::getc(os_file_stream(file));
    return c == EOF ? -1 : c;
}

void os_file_rewind(os_file* file)
{
    std::rewind(os_file_stream(file));
}

bool os_file_failed(os_file* file)
{
    return std::ferror(os_file_stream(file)) != 0;
}
