// The unit's file system: six roots under "rootfs" in the base folder.
#pragma once
#include <cstddef>
#include <cstdint>

#include "seam/unit.h"  // fs_make_roots

constexpr uint8_t FS_ROOT_COUNT = 6;
constexpr size_t FS_PATH_MAX = 260;  // 259 characters and the terminator

struct fs_stream;

const char* fs_root(uint8_t root);  // "rootfs/app/bin" ...; nullptr above 5

// Forms "root/name" the unit's way: cut to 259 characters, backslashes become
// slashes, trailing slashes removed (a slash in the first position stays).
// Returns 0 for an unknown root.
int fs_form_path(uint8_t root, const char* name, char out[FS_PATH_MAX]);

int fs_dir_exists(uint8_t root, const char* name);
// 1 when the name is a regular file (a folder or device of that name is not).
int fs_file_exists(uint8_t root, const char* name);
int fs_mkdir_all(uint8_t root, const char* name);
// Opens regular files only: a symbolic link as the last part of the path, a
// FIFO or a device does not open.
fs_stream* fs_open(uint8_t root, const char* name, const char* mode);
void fs_close(fs_stream* stream);
size_t fs_read(fs_stream* stream, void* buffer, size_t n);
size_t fs_write(fs_stream* stream, const void* data, size_t n);
// Writes what the stream buffers through to the disk. 1 on success.
int fs_sync(fs_stream* stream);
// Makes the names in a folder (a rename, a new file) reach the disk.
int fs_sync_dir(uint8_t root, const char* name);
// Deletes a file; a symbolic link is deleted itself, not what it names.
int fs_remove(uint8_t root, const char* name);
int fs_rename(uint8_t root, const char* name, uint8_t root2, const char* name2);

// The file steps a fault hook sees. A hook that returns true makes the step
// fail as on a full disk (a write then stores half of its bytes). Tests use it
// to fail or interrupt the settings save at every step; none is set otherwise.
enum fs_step : uint8_t { FS_STEP_OPEN, FS_STEP_WRITE, FS_STEP_SYNC, FS_STEP_RENAME, FS_STEP_REMOVE };
using fs_fault_hook = bool (*)(fs_step step);
void fs_set_fault_hook(fs_fault_hook hook);
// Closes every open stream and drops the fault hook.
void fs_reset();
