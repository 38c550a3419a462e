// One scenario file of several, run apart from the others so that it starts
// from the firmware's start state: in a child process on Linux (a crash
// ends that file's run alone), in this process after the firmware is
// brought back to its start state on Windows, which has no fork.
#pragma once
#include <string>

#include "host/core/scenario_suite.h"

namespace norvane {

scenario_report run_apart(const run_options& options, const std::string& path, ProgressLine& progress,
                          const std::string& label);

}  // namespace norvane
