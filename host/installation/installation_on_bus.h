// The simulated installation on the hub's bus: it sits on port 0 and hears
// every frame on its bus but its own (the unit's commands, and whatever a
// scenario or a bus-server client puts on the bus).
#pragma once
#include <cstdint>

#include "host/bus/bus_hub.h"
#include "host/installation/installation.h"

namespace installation {

constexpr const char* INSTALLATION_SOURCE = "installation";
bool installation_hears(const norvane::bus_event& e);

// One pass of the installation on the hub, on the unit's thread after a main
// step: the modules hear what the unit sent, step to `now_ms` and put their
// frames on port 0. Returns the frames the full bus refused.
uint64_t step_installation_on_hub(plant& p, norvane::bus_hub& hub, uint32_t now_ms);

}  // namespace installation
