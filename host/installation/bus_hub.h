// The host's view of the whole virtual bus: takes the frames the unit sent
// on a port once and hands each to every subscriber (the CAN log, the bus
// server, the installation, a bus monitor), and carries the frames others
// put on the bus (the installation, bus-server clients, a scenario) to the
// unit and to every subscriber too. A CAN log fed from here is a recording
// of the whole bus, not of the unit's side alone. No Qt.
//
// Threads: pump() runs on the unit's thread (after each main-loop pass);
// inject may be called from any thread; subscribe/unsubscribe are under
// the hub's lock (subscribers_lock_) and may run while the unit runs.
// Subscribers run under that lock: they copy the event and return, and never
// call back into the hub.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "firmware/seam/can.h"

namespace installation {

enum class bus_direction : uint8_t {
    from_unit,  // the unit sent it
    to_unit,    // put on the bus by the host side (installation, client, scenario)
};

struct bus_event {
    uint8_t port;
    bus_direction direction;
    const char* source;  // who put a to_unit frame on the bus ("installation", "bus-server", "scenario")
    can_frame frame;
};

class bus_hub {
public:
    using subscriber = std::function<void(const bus_event&)>;

    // Returns an id for unsubscribe. Subscribers are called on the thread
    // that pumps or injects; they must be short (copy and return).
    int subscribe(subscriber s);
    void unsubscribe(int id);

    // Takes every frame the unit sent on `port` (can_virtual_take_sent) and
    // hands each to the subscribers. Returns the number taken.
    int pump(uint8_t port);
    // Puts a frame on the bus for the unit (can_virtual_inject) and hands it
    // to the subscribers when the bus took it. 0, or -1 when the bus is full.
    int inject(uint8_t port, const can_frame& frame, const char* source);

private:
    void publish(const bus_event& e);
    std::mutex subscribers_lock_;
    std::vector<std::pair<int, subscriber>> subscribers_;
    int next_id_ = 1;
};

}  // namespace installation
