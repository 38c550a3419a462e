// The host's file calls for the unit's file system and trace playback: open
// files (regular files only), read, write, flush to the disk, and the names
// in folders (exists, create, rename, delete). Paths are host paths.
#pragma once
#include <cstddef>

struct os_file;

// Opens a regular file for fopen's `mode` ("rb", "wb", "ab", "r+b" ...). The
// last part of the path is never followed as a symbolic link, a FIFO or a
// device is refused without waiting on it, and "w" truncates only once the
// file is known to be regular. nullptr on failure.
os_file* os_file_open_regular(const char* path, const char* mode);
// Opens a file for reading, following links, without waiting on a FIFO or a
// device. On failure: nullptr with `not_regular` set when the path names
// something other than a regular file, else with `error` the system's text.
os_file* os_file_open_read(const char* path, bool& not_regular, const char*& error);
void os_file_close(os_file* file);
size_t os_file_read(os_file* file, void* buffer, size_t n);
size_t os_file_write(os_file* file, const void* data, size_t n);
// The next byte, or -1 at the end of the file or on an error.
int os_file_getc(os_file* file);
void os_file_rewind(os_file* file);
// True once a read or write of the file has failed.
bool os_file_failed(os_file* file);
// Writes what the file buffers through to the disk. True on success.
bool os_file_sync(os_file* file);

bool os_path_exists(const char* path);
bool os_is_dir(const char* path);
bool os_is_regular_file(const char* path);  // follows links
void os_mkdir(const char* path);
// Makes the names in a folder (a rename, a new file) reach the disk.
bool os_dir_sync(const char* path);
// Deletes a file; a symbolic link is deleted itself, never what it names,
// and never a folder.
bool os_unlink(const char* path);
bool os_rename(const char* from, const char* to);
