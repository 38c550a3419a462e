// The installation in a run of norvane-run: the table of the loads at the end.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/core/headless_run.h"

namespace norvane {

bool write_outputs_table(const std::string& path, const installation::plant& plant, std::string& why)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        why = "cannot write the outputs table '" + path + "': " + std::strerror(errno);
        return false;
    }
    const installation::snapshot s = plant.read();
    const installation::description& d = plant.layout();
    bool ok = std::fputs("module output load label\n", file) >= 0;
    for (int p = 0; p < installation::POWER_MODULES; ++p)
        for (int o = 0; o < installation::POWER_OUTPUTS; ++o)
            ok = std::fprintf(file, "%-6s %-6d %-4s %s\n", d.module_names[installation::power_module_index(p)].c_str(),
                              o + 1, s.outputs[p][o].lit() ? "on" : "off",
                              d.output_labels[p][o].empty() ? "-" : d.output_labels[p][o].c_str()) >= 0 &&
                 ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        why = "the outputs table '" + path + "' could not be written completely";
    return ok;
}

}  // namespace norvane
