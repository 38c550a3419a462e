// What the parts of norvane-run share: messages, the run's set-up and the
// CAN ports' report.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "host/core/headless_run.h"

namespace norvane {

// A line on standard error: "norvane-run: MESSAGE".
void warn(const std::string& message);
// Wall seconds since `start`.
double seconds_since(std::chrono::steady_clock::time_point start);
// Frames the CAN back ends refused so far, both ports.
uint64_t can_refused();
// Maps a port as --canN asked; false with the reason.
bool map_port(uint8_t port, const std::string& mapping, std::string& why);
// The set-up a run in virtual time and one in real time share: the working
// folder and the CAN ports' mappings, in that order. False with the reason.
bool prepare_run(const run_options& options, std::string& why);
// One line per CAN port once the firmware opened its ports; every port was
// mapped (virtual by default), so one that cannot open ends the run.
bool report_can_ports(bool quiet, std::string& why);
// Scenario frames a full virtual bus refused: counted from the start of a
// run, the count said at its end.
void note_bus_full(const scenario_action& action);
void reset_bus_full();
void report_bus_full();

}  // namespace norvane
