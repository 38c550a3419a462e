#include "os/os_file.h"
#include "os/os_file_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "os/os_utf8_windows.h"

namespace {

// The C library's errno for the failure Windows reported.
void set_errno(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
}

// A path in UTF-16; 4096 characters are beyond what Windows' usual calls take.
struct wide_path {
    wchar_t text[4096];
    bool ok;
    explicit wide_path(const char* path) : ok(os_widen(path, text, sizeof text / sizeof text[0])) {}
};

// A handle's file is regular: on a disk, not a folder, not a link or other
// reparse point (when the handle was opened on the link itself).
bool handle_is_regular(HANDLE handle)
{
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Opens the path and keeps it only when it is a regular file. A device or a
// pipe is opened without waiting (a pipe's instance is taken or the open
// fails at once) and refused. INVALID_HANDLE_VALUE on failure, with
// `not_regular` set when the path names something else.
HANDLE open_regular_handle(const char* path, DWORD access, DWORD disposition, DWORD flags, bool& not_regular)
{
    not_regular = false;
    const wide_path wide(path);
    if (!wide.ok) {
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    // A link at the end of the path is refused before it is opened (the
    // attributes are the link's own), and again by its handle.
    if (flags & FILE_FLAG_OPEN_REPARSE_POINT) {
        const DWORD attributes = GetFileAttributesW(wide.text);
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
            not_regular = true;
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE handle = CreateFileW(wide.text, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        set_errno(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    if (!handle_is_regular(handle)) {
        CloseHandle(handle);
        not_regular = true;
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// The C stream over the handle, always binary: no line ending is translated.
std::FILE* stream_of(HANDLE handle, int flags, const char* mode)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    char binary_mode[8];
    std::snprintf(binary_mode, sizeof binary_mode, "%s%s", mode, std::strchr(mode, 'b') ? "" : "b");
    std::FILE* file = _fdopen(fd, binary_mode);
    if (!file)
        _close(fd);
    return file;
}

}  // namespace

os_file* os_file_open_regular(const char* path, const char* mode)
{
    const bool plus = std::strchr(mode, '+') != nullptr;
    DWORD access = 0;
    DWORD disposition = OPEN_EXISTING;
    int flags = 0;
    bool truncate = false;
    switch (mode[0]) {
    case 'r':
        access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
        flags = plus ? _O_RDWR : _O_RDONLY;
        break;
    case 'w':
        access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
        disposition = OPEN_ALWAYS;
        truncate = true;
        break;
    case 'a':
        access = FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES | (plus ? GENERIC_READ : 0);
        disposition = OPEN_ALWAYS;
        flags = _O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    bool not_regular;
    // The last part of the path is opened itself, never what a link names.
    HANDLE handle = open_regular_handle(path, access, disposition, FILE_FLAG_OPEN_REPARSE_POINT, not_regular);
    if (handle == INVALID_HANDLE_VALUE) {
        if (not_regular)
            errno = EINVAL;
        return nullptr;
    }
    // Truncated only once it is known to be a regular file.
    if (truncate && !SetEndOfFile(handle)) {
        set_errno(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    return os_file_of(stream_of(handle, flags, mode));
}

os_file* os_file_open_read(const char* path, bool& not_regular, const char*& error)
{
    error = nullptr;
    HANDLE handle = open_regular_handle(path, GENERIC_READ, OPEN_EXISTING, 0, not_regular);
    if (handle == INVALID_HANDLE_VALUE) {
        if (!not_regular)
            error = std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = stream_of(handle, _O_RDONLY, "rb");
    if (!file)
        error = std::strerror(errno);
    return os_file_of(file);
}

bool os_file_sync(os_file* file)
{
    if (std::fflush(os_file_stream(file)) != 0)
        return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(os_file_stream(file))));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

namespace {

// The attributes of what the path names, following links; false when it
// names nothing. A device or a pipe is never opened for this.
bool attributes_of(const char* path, DWORD& attributes)
{
    const wide_path wide(path);
    if (!wide.ok)
        return false;
    attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    HANDLE handle = CreateFileW(wide.text, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    attributes = ok ? info.dwFileAttributes : FILE_ATTRIBUTE_DEVICE;
    return true;
}

bool is_device_path(const char* path)
{
    return std::strncmp(path, "\\\\.\\", 4) == 0 || std::strncmp(path, "//./", 4) == 0;
}

}  // namespace

bool os_path_exists(const char* path)
{
    DWORD attributes;
    return attributes_of(path, attributes);
}

bool os_is_dir(const char* path)
{
    DWORD attributes;
    return attributes_of(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool os_is_regular_file(const char* path)
{
    DWORD attributes;
    return !is_device_path(path) && attributes_of(path, attributes) &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

void os_mkdir(const char* path)
{
    wide_path wide(path);
    if (wide.ok)
        CreateDirectoryW(wide.text, nullptr);
}

bool os_dir_sync(const char* path)
{
    // Windows has no flush of a folder's names: the rename that published a
    // file was written through (os_rename) before it returned.
    return os_is_dir(path);
}

bool os_unlink(const char* path)
{
    // DeleteFileW removes a link itself and refuses a folder.
    wide_path wide(path);
    if (!wide.ok || !DeleteFileW(wide.text)) {
        set_errno(wide.ok ? GetLastError() : ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

bool os_rename(const char* from, const char* to)
{
    // Replaces `to` in one step, and returns once the new name is on the disk.
    const wide_path a(from);
    const wide_path b(to);
    if (!a.ok || !b.ok || !MoveFileExW(a.text, b.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        set_errno(a.ok && b.ok ? GetLastError() : ERROR_INVALID_NAME);
        return false;
    }
    return true;
}
