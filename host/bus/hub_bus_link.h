// The bus server's view of the virtual bus through the hub: it takes every
// frame on the bus (the unit's, the installation's, the scenario's) except
// its own, which it hands to its other clients itself; its clients' frames
// go onto the bus through the hub, so every other subscriber sees them too.
// Polling from_bus pumps the hub, so the unit's frames flow while the server
// runs. The link keeps a bounded queue (the oldest frames give way) and
// leaves the hub when the last copy of it goes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "host/bus/bus_hub.h"
#include "host/bus/bus_server.h"

namespace norvane {

bus_link hub_bus_link(bus_hub& hub, uint8_t port, size_t queue_frames = 4096);

// The same for a unit run in unit time (the window's paced runner): the
// clients' frames go to `to_bus` (which hands them to the unit's thread, to
// be put on the bus at a unit millisecond) and polling does not pump the hub
// (the unit's thread pumps it at each millisecond), so nothing the server
// does changes when a frame reaches the bus.
bus_link hub_bus_link(bus_hub& hub, uint8_t port, std::function<bool(const can_frame&)> to_bus,
                      size_t queue_frames = 4096);

}  // namespace norvane
