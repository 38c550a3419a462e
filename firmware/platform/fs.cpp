// The unit's file system, mapped onto folders under the base folder.
#include "platform/fs.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "os/os_file.h"
#include "platform/hal.h"

struct fs_stream {
    os_file* file;
};

namespace {

const char* const roots[FS_ROOT_COUNT] = {
    "rootfs/app/bin",       "rootfs/app/data",  "rootfs/app/data/config",
    "rootfs/app/data/log",  "rootfs/app/event", "rootfs/media",
};

// Backslashes become slashes and trailing slashes go (not a leading one).
void normalise(char* path)
{
    for (char* c = path; *c; ++c)
        if (*c == '\\')
            *c = '/';
    size_t n = std::strlen(path);
    while (n > 1 && path[n - 1] == '/')
        path[--n] = '\0';
}

// The host path of a unit path: relative unit paths live in the base folder.
std::string host_path(const char* unit_path)
{
    if (unit_path[0] == '/')
        return unit_path;
    std::string out = hal_base_dir();
    out += '/';
    out += unit_path;
    return out;
}

// Open files come from a small fixed pool; the unit never holds more than a
// couple at once.
constexpr int FS_STREAMS = 8;
fs_stream streams[FS_STREAMS];

std::atomic<fs_fault_hook> fault_hook{nullptr};

// True when the hook makes this step fail, as a full disk would.
bool step_fails(fs_step step)
{
    const fs_fault_hook hook = fault_hook.load(std::memory_order_relaxed);
    if (!hook || !hook(step))
        return false;
    errno = ENOSPC;
    return true;
}

bool is_dir(const std::string& path)
{
    return os_is_dir(path.c_str());
}

}  // namespace

const char* fs_root(uint8_t root)
{
    return root < FS_ROOT_COUNT ? roots[root] : nullptr;
}

int fs_form_path(uint8_t root, const char* name, char out[FS_PATH_MAX])
{
    if (root >= FS_ROOT_COUNT) {
        out[0] = '\0';
        return 0;
    }
    std::snprintf(out, FS_PATH_MAX, "%s/%s", roots[root], name ? name : "");
    normalise(out);
    return 1;
}

int fs_dir_exists(uint8_t root, const char* name)
{
    char path[FS_PATH_MAX];
    if (!fs_form_path(root, name, path))
        return 0;
    return is_dir(host_path(path)) ? 1 : 0;
}

int fs_file_exists(uint8_t root, const char* name)
{
    char path[FS_PATH_MAX];
    if (!fs_form_path(root, name, path))
        return 0;
    return os_is_regular_file(host_path(path).c_str()) ? 1 : 0;
}

int fs_mkdir_all(uint8_t root, const char* name)
{
    if (root >= FS_ROOT_COUNT)
        return 0;
    char path[FS_PATH_MAX];
    std::snprintf(path, FS_PATH_MAX, "%s%s", roots[root], name ? name : "");
    normalise(path);
    // Every prefix up to a slash first, then the whole path.
    for (char* c = path + 1; *c; ++c) {
        if (*c != '/')
            continue;
        *c = '\0';
        const std::string prefix = host_path(path);
        if (!os_path_exists(prefix.c_str()))
            os_mkdir(prefix.c_str());
        *c = '/';
    }
    const std::string whole = host_path(path);
    if (!os_path_exists(whole.c_str()))
        os_mkdir(whole.c_str());
    return 1;
}

fs_stream* fs_open(uint8_t root, const char* name, const char* mode)
{
    char path[FS_PATH_MAX];
    if (!fs_form_path(root, name, path) || !mode)
        return nullptr;
    char binary_mode[8];
    std::snprintf(binary_mode, sizeof binary_mode, "%.6sb", mode);
    for (fs_stream& stream : streams) {
        if (stream.file)
            continue;
        if (step_fails(FS_STEP_OPEN))
            return nullptr;
        // Only regular files: the last part of the path is never followed as a
        // symbolic link (a link in the unit's folders could make it write or
        // read anywhere on the host), and a FIFO or a device is refused.
        stream.file = os_file_open_regular(host_path(path).c_str(), binary_mode);
        return stream.file ? &stream : nullptr;
    }
    return nullptr;
}

void fs_close(fs_stream* stream)
{
    if (!stream)
        return;
    if (stream->file)
        os_file_close(stream->file);
    stream->file = nullptr;
}

size_t fs_read(fs_stream* stream, void* buffer, size_t n)
{
    return stream ? os_file_read(stream->file, buffer, n) : 0;
}

size_t fs_write(fs_stream* stream, const void* data, size_t n)
{
    if (!stream)
        return 0;
    // A full disk takes part of the data, then no more.
    if (step_fails(FS_STEP_WRITE))
        return os_file_write(stream->file, data, n / 2);
    return os_file_write(stream->file, data, n);
}

int fs_sync(fs_stream* stream)
{
    if (!stream || !stream->file || step_fails(FS_STEP_SYNC))
        return 0;
    return os_file_sync(stream->file) ? 1 : 0;
}

int fs_sync_dir(uint8_t root, const char* name)
{
    char path[FS_PATH_MAX];
    if (!fs_form_path(root, name, path) || step_fails(FS_STEP_SYNC))
        return 0;
    return os_dir_sync(host_path(path).c_str()) ? 1 : 0;
}

int fs_remove(uint8_t root, const char* name)
{
    char path[FS_PATH_MAX];
    if (!fs_form_path(root, name, path) || step_fails(FS_STEP_REMOVE))
        return 0;
    return os_unlink(host_path(path).c_str()) ? 1 : 0;
}

int fs_rename(uint8_t root, const char* name, uint8_t root2, const char* name2)
{
    char from[FS_PATH_MAX];
    char to[FS_PATH_MAX];
    if (!fs_form_path(root, name, from) || !fs_form_path(root2, name2, to) || step_fails(FS_STEP_RENAME))
        return 0;
    return os_rename(host_path(from).c_str(), host_path(to).c_str()) ? 1 : 0;
}

int fs_make_roots()
{
    int all = 1;
    for (uint8_t root = 0; root < FS_ROOT_COUNT; ++root)
        if (!fs_dir_exists(root, "") && !fs_mkdir_all(root, ""))
            all = 0;
    return all;
}

void fs_reset()
{
    for (fs_stream& stream : streams)
        fs_close(&stream);
    fault_hook.store(nullptr, std::memory_order_relaxed);
}

void fs_set_fault_hook(fs_fault_hook hook)
{
    fault_hook.store(hook, std::memory_order_relaxed);
}
