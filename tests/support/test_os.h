// What the tests need of the system, one file per system: temporary
// folders, symbolic links, and FIFOs (Linux only: the cases that refuse one are skipped on
// Windows, whose pipes live outside the file system).
#pragma once
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace norvane::testing {

// A new, empty folder under the system's temporary folder.
std::filesystem::path make_temp_dir();
// Makes `link` a symbolic link to the file `target`; true on success.
bool make_symlink(const std::filesystem::path& target, const std::filesystem::path& link);
// Whether the system shows `link` as a link (wine makes a link Windows'
// calls do not see as one: those cases are skipped there).
bool shows_as_link(const std::filesystem::path& link);
// Whether the system has FIFOs in its file system.
bool have_fifos();
// Makes a FIFO at the path; true on success.
bool make_fifo(const std::filesystem::path& path);
// Sets the environment variable `name` to `value` for this process and the
// programs it starts; a null `value` removes it.
void set_env(const char* name, const char* value);

}  // namespace norvane::testing

// Makes LINK a symbolic link to TARGET, failing the case when that fails;
// the case is skipped where the system does not show it as a link.
#define NORVANE_MAKE_SYMLINK(target, link)                                             \
    do {                                                                                \
        ASSERT_TRUE(::norvane::testing::make_symlink(target, link)) << (link);          \
        if (!::norvane::testing::shows_as_link(link))                                   \
            GTEST_SKIP() << "this system does not show its links as links (wine)";      \
    } while (false)

// Makes a FIFO at PATH, failing the case when that fails; the case is
// skipped where the system has no FIFOs.
#define NORVANE_MAKE_FIFO(path)                                                         \
    do {                                                                                \
        if (!::norvane::testing::have_fifos())                                          \
            GTEST_SKIP() << "this system has no FIFOs in its file system";              \
        ASSERT_TRUE(::norvane::testing::make_fifo(path)) << "mkfifo " << (path);        \
    } while (false)
