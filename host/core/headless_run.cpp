// norvane-run's whole run and the set-up its two kinds of run share.
#include "host/core/headless_run.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "host/core/can_port_report.h"
#include "host/core/run_common.h"
#include "host/common/printable.h"
#include "host/core/unit_workdir.h"
#include "seam/can.h"
#include "seam/events.h"

namespace norvane {

bool map_port(uint8_t port, const std::string& mapping, std::string& why)
{
    char reason[256] = {};
    if (hal_can_map_port(port, mapping.c_str(), reason, sizeof reason))
        return true;
    why = reason;
    return false;
}

uint64_t can_refused()
{
    uint64_t refused = 0;
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        can_port_status status{};
        can_port_get_status(port, &status);
        refused += status.refused;
    }
    return refused;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void warn(const std::string& message)
{
    // Messages quote file names, arguments and what clients sent.
    std::fprintf(stderr, "norvane-run: %s\n", printable(message).c_str());
}

// Scenario frames dropped because a port's virtual bus was full (more than
// 250 kbit/s carry, or nothing reads a port the unit does not open), this
// run. The first drop of a port
// is said at once, the count at the end of the run.
uint64_t bus_full_drops[CAN_PORT_COUNT];

void note_bus_full(const scenario_action& action)
{
    if (bus_full_drops[action.value]++ == 0)
        warn(action.where + ": the virtual bus of port " + std::to_string(action.value) +
             " is full (more frames than its 250 kbit/s carry, or nothing takes them); frames are dropped, counted at the end of the run");
}

void reset_bus_full()
{
    std::fill(std::begin(bus_full_drops), std::end(bus_full_drops), 0);
}

void report_bus_full()
{
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        if (bus_full_drops[port])
            warn(std::to_string(bus_full_drops[port]) + " scenario frame(s) for port " + std::to_string(port) +
                 " dropped: its virtual bus was full");
        bus_full_drops[port] = 0;
    }
}

bool report_can_ports(bool quiet, std::string& why)
{
    const bool all[CAN_PORT_COUNT] = {true, true};
    const can_port_check ports = check_can_ports(all);
    if (!quiet)
        for (const std::string& line : ports.lines)
            warn(line);
    if (ports.failed)
        why = ports.failure;
    return !ports.failed;
}

// The set-up a run in virtual time and one in real time share: the working
// folder and the CAN ports' mappings, in that order.
bool prepare_run(const run_options& options, std::string& why)
{
    if (!options.start_from.empty() && !copy_unit_state(options.start_from, options.workdir, why)) {
        why = "--start-from '" + options.start_from + "': " + why;
        return false;
    }
    if (!prepare_unit_workdir(options.workdir, why)) {
        why = "cannot use working folder '" + options.workdir + "': " + why;
        return false;
    }
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
        if (!map_port(port, options.can_mapping[port], why))
            return false;
    return true;
}

// The whole run

run_result run_headless(const run_options& options)
{
    if (options.realtime)
        return run_realtime(options);
    VirtualRun run(options);
    std::string why;
    if (!run.start(why)) {
        warn(why);
        run_result failed;
        failed.status = run.start_status();
        return failed;
    }
    return run.finish();
}

std::string run_summary(const run_result& result)
{
    const double seconds = double(result.unit_ms) / 1000.0;
    const double ratio = result.wall_s > 0 ? seconds / result.wall_s : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "ran %llu ms of unit time in %.3f s (%.*f x real time)",
                  static_cast<unsigned long long>(result.unit_ms), result.wall_s, ratio < 10 ? 2 : 0,
                  ratio);
    if (result.can_refused == 0)
        return line;
    return std::string(line) + "; " + std::to_string(result.can_refused) + " CAN frames refused by the bus";
}

}  // namespace norvane
