#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gfx/gfx.h"
#include "host/core/headless_run.h"

namespace norvane::testing {

// Runs a scenario text in virtual time exactly as norvane-run does, in the
// working folder `workdir` (prepared if missing), and returns the frames of
// its screenshot actions by file name instead of writing them. One run per
// test: the firmware boots once per process.
std::map<std::string, frame_buffer> run_scenario_screens(const std::string& scenario_text,
                                                         const std::filesystem::path& workdir,
                                                         uint64_t duration_ms = 10000);

// Runs the scenario file tests/<scenario_path> in a temporary working folder
// and compares every screenshot it takes with the golden PNG its file name
// names (relative to tests/), as frame_matches_golden does: so golden
// pictures come from the same scenario files users give norvane-run.
::testing::AssertionResult scenario_matches_goldens(const std::string& scenario_path,
                                                    uint64_t duration_ms = 10000);

// parse_run_arguments over norvane-run's options without the program name.
int parse_run_options(std::vector<std::string> args, run_options& options, std::string& error);

}  // namespace norvane::testing
