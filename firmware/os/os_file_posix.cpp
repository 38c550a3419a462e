#include "os/os_file.h"
#include "os/os_file_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the path and keeps it only when it is a regular file. -1 on failure,
// with `not_regular` set when the path names something else.
int open_regular_fd(const char* path, int flags, bool& not_regular)
{
    not_regular = false;
    const int fd = ::open(path, flags, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        not_regular = true;
        return -1;
    }
    return fd;
}

}  // namespace

os_file* os_file_open_regular(const char* path, const char* mode)
{
    const bool plus = std::strchr(mode, '+') != nullptr;
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool truncate = false;
    switch (mode[0]) {
    case 'r':
        flags |= plus ? O_RDWR : O_RDONLY;
        break;
    case 'w':
        flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
        truncate = true;
        break;
    case 'a':
        flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    bool not_regular;
    const int fd = open_regular_fd(path, flags, not_regular);
    if (fd < 0) {
        if (not_regular)
            errno = EINVAL;
        return nullptr;
    }
    // Truncated only once it is known to be a regular file.
    if ((truncate && ::ftruncate(fd, 0) != 0) || ::fcntl(fd, F_SETFL, flags & O_APPEND) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, mode);
    if (!file)
        ::close(fd);
    return os_file_of(file);
}

os_file* os_file_open_read(const char* path, bool& not_regular, const char*& error)
{
    error = nullptr;
    const int fd = open_regular_fd(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, not_regular);
    if (fd < 0) {
        if (!not_regular)
            error = std::strerror(errno);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        error = std::strerror(errno);
    }
    return os_file_of(file);
}

bool os_file_sync(os_file* file)
{
    return std::fflush(os_file_stream(file)) == 0 && ::fsync(::fileno(os_file_stream(file))) == 0;
}

bool os_path_exists(const char* path)
{
    return ::access(path, F_OK) == 0;
}

bool os_is_dir(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool os_is_regular_file(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

void os_mkdir(const char* path)
{
    ::mkdir(path, 0777);
}

bool os_dir_sync(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool os_unlink(const char* path)
{
    return ::unlink(path) == 0;
}

bool os_rename(const char* from, const char* to)
{
    return std::rename(from, to) == 0;
}
