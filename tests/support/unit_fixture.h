#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/core/headless_run.h"
#include "host/core/virtual_stepper.h"

namespace norvane::testing {

// A fresh, empty working folder for the unit, removed after the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A test with the unit's working folder prepared in a temporary folder.
// start() boots the firmware in virtual time (app_init, app_start).
class UnitTest : public ::testing::Test {
protected:
    void SetUp() override;
    VirtualStepper& start();
    std::filesystem::path unit_file(const std::string& relative) const { return dir_ / relative; }

    TempDir dir_;
    std::unique_ptr<VirtualStepper> unit_;
};

// Compares a frame with the PNG reference tests/<golden_path> exactly, with
// the check 'expect screen' uses. On a mismatch it writes <name>_err.png (the
// frame, and its differences beside it) at the same place in the build
// folder's tests/ and fails; a missing reference fails. With
// NORVANE_UPDATE_GOLDENS=1 it writes the reference.
::testing::AssertionResult frame_matches_golden(const frame_buffer& frame,
                                                const std::string& golden_path);

// Path of a file in the source tree's tests/ folder.
std::filesystem::path test_source_path(const std::string& relative);

// A whole file as bytes ("" when it cannot be read), and the other way.
std::string read_file(const std::filesystem::path& path);
// parse_run_arguments over norvane-run's options without the program name.
int parse_run_options(std::vector<std::string> args, run_options& options, std::string& error);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace norvane::testing
