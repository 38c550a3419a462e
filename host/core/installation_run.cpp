// The installation in a run of norvane-run: the scenario's plant actions
// and the table of the loads at the end.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/core/headless_run.h"

namespace norvane {

void apply_plant(installation::plant& plant, const plant_action& a)
{
    switch (a.verb) {
    case plant_verb::switch_set: plant.set_switch(a.module, a.channel, a.on); break;
    case plant_verb::push: plant.push(a.module, a.channel, uint32_t(a.held_ms)); break;
    case plant_verb::tank: plant.set_tank_percent(a.module, a.amount); break;
    case plant_verb::volts: plant.set_volts(a.channel, a.amount); break;
    case plant_verb::fault: plant.set_fault(a.module, a.channel, uint8_t(a.state), uint8_t(a.code)); break;
    case plant_verb::module_power: plant.set_module_on(a.module, a.on); break;
    case plant_verb::module_obey: plant.set_obeying(a.module - installation::INPUT_MODULES, a.on); break;
    }
}

bool write_outputs_table(const std::string& path, const installation::plant& plant, std::string& why)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
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
