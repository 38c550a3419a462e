#include "host/core/scenario_apart.h"

#include "seam/unit.h"

namespace norvane {

scenario_report run_apart(const run_options& options, const std::string& path, ProgressLine& progress,
                          const std::string& label)
{
    app_reset();
    return run_scenario(options, path, progress, label);
}

}  // namespace norvane
