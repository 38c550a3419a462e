#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/core/headless_run.h"

namespace norvane {

// What the run of one scenario file came to.
struct scenario_report {
    std::string path;  // as given; empty for a run without a scenario file
    run_result run;
    size_t expectations = 0;
    size_t passed = 0;
    std::vector<std::string> failures;  // "FILE:LINE: ..." per failed expectation
    std::vector<std::string> written;   // "FILE:LINE: wrote REFERENCE"
    std::string error;                  // the run broke (could not start, crashed)
};

// The one updating line that shows a long run's progress on a terminal:
// nothing until `delay_s` of wall time have passed since it was made, then
// at most ten updates a second; clear() takes it away again.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, bool enabled, std::function<double()> wall_s = {}, double delay_s = 2.0);
    // `label` reached `unit_ms` of the run's `end_ms` after `run_wall_s` seconds.
    void show(const std::string& label, uint64_t unit_ms, uint64_t end_ms, double run_wall_s);
    void clear();

private:
    std::FILE* out_;
    bool enabled_;
    std::function<double()> wall_s_;
    double start_s_;
    double delay_s_;
    double last_s_ = -1.0;
    bool shown_ = false;
};

// Runs one scenario (the actions and expectations in `options`) in this
// process, checking its expectations; `label` names it on the progress line
// (empty: its path). The firmware starts here: once per process.
scenario_report run_scenario(const run_options& options, const std::string& path, ProgressLine& progress,
                             const std::string& label = "");

// Everything norvane-run does after reading its arguments: each scenario
// file (one run without any) from a fresh unit, the failure lines, summary
// lines and the verdict on `out`, the JUnit report. Several files run one
// after the other, each in a child process, so each starts from the
// firmware's start state. Returns the exit status: 0, or 1 when an
// expectation failed, a run broke or a file could not be written.
int run_scenarios(const run_options& options, std::FILE* out);

// "N passed, M failed", and the references written when there are any.
std::string verdict_line(size_t passed, size_t failed, size_t written);

}  // namespace norvane
