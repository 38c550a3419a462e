// norvane-run: the unit's firmware without a window, in virtual time or
// paced by the wall clock, driven by scenario files and checking their
// expectations.
#include <cstdio>
#include <string>

#include "host/common/printable.h"
#include "host/core/headless_run.h"
#include "host/core/scenario_suite.h"

int main(int argc, char** argv)
{
    norvane::run_options options;
    std::string error;
    if (norvane::parse_run_arguments(argc, argv, options, error) != norvane::RUN_OK) {
        std::fprintf(stderr, "norvane-run: %s\n(norvane-run --help lists the options)\n",
                     norvane::printable(error).c_str());
        return norvane::RUN_BAD_INPUT;
    }
    if (options.help) {
        std::fputs(norvane::run_usage().c_str(), stdout);
        return 0;
    }
    return norvane::run_scenarios(options, stdout);
}
