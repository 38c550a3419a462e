// What the tests need of the system, one file per system: temporary
// folders, and FIFOs (Linux only: the cases that refuse one are skipped on
// Windows, whose pipes live outside the file system).
#pragma once
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace norvane::testing {

// A new, empty folder under the system's temporary folder.
std::filesystem::path make_temp_dir();
// Whether the system has FIFOs in its file system.
bool have_fifos();
// Makes a FIFO at the path; true on success.
bool make_fifo(const std::filesystem::path& path);

}  // namespace norvane::testing

// Makes a FIFO at PATH, failing the case when that fails; the case is
// skipped where the system has no FIFOs.
#define NORVANE_MAKE_FIFO(path)                                                         \
    do {                                                                                \
        if (!::norvane::testing::have_fifos())                                          \
            GTEST_SKIP() << "this system has no FIFOs in its file system";              \
        ASSERT_TRUE(::norvane::testing::make_fifo(path)) << "mkfifo " << (path);        \
    } while (false)
