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
fs_stream* fs_open(uint8_t root, const char* name, const char* mode);
void fs_close(fs_stream* stream);
size_t fs_read(fs_stream* stream, void* buffer, size_t n);
size_t fs_write(fs_stream* stream, const void* data, size_t n);
int fs_remove(uint8_t root, const char* name);
int fs_rename(uint8_t root, const char* name, uint8_t root2, const char* name2);
void fs_reset();  // closes every open stream
