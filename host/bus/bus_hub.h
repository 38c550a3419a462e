// The host's view of the whole virtual bus: takes the frames the unit sent
// on a port once and hands each to every subscriber (the CAN log, the bus
// server, the installation, a bus monitor), and carries the frames others
// put on the bus (the installation, bus-server clients, a scenario) to the
// unit and to every subscriber too. A CAN log fed from here is a recording
// of the whole bus, not of the unit's side alone. No Qt.
//
// The bus has a bandwidth (bus_arbiter): every frame is offered to the
// port's arbiter before anyone sees it; a frame the bus cannot carry yet
// waits and reaches the subscribers (and, for a to_unit frame, the unit)
// when a later pump finds room, with that time; past the arbiter's bound a
// frame is refused and counted.
//
// Threads: pump() runs on the unit's thread (after each main-loop pass) and
// on the bus server's I/O thread (its link pumps); one pump at a time
// (pump_lock_), so the subscribers see the unit's frames in the order it sent
// them. inject may be called from any thread; subscribe/unsubscribe are under
// the hub's lock (subscribers_lock_) and may run while the unit runs.
// Subscribers run under that lock: they copy the event and return, and never
// call back into the hub.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "seam/can.h"
#include "host/bus/bus_arbiter.h"

namespace norvane {

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

// What the bus carried, for the monitor and the status bar: the load over a
// span is the growth of busy_bits over that span's bit times.
struct bus_figures {
    uint64_t now_ms = 0;     // the unit's time of these figures
    uint64_t busy_bits = 0;  // bit times the bus was busy up to now_ms
    uint64_t carried = 0;    // frames that went on the bus
    size_t backlog = 0;      // frames waiting for the bus
    uint64_t delayed = 0;    // frames that had to wait
    uint64_t refused = 0;    // frames the bus refused: too many waiting, or the unit's receive queue full
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
    // 0 also when the frame waits for room on the bus; -1 when refused.
    int inject(uint8_t port, const can_frame& frame, const char* source);

    // The port's figures now (any thread).
    bus_figures figures(uint8_t port) const;

private:
    void publish(const bus_event& e);
    void release_waiting(uint8_t port, uint64_t now_ms);
    mutable std::mutex bus_lock_;  // guards arbiters_ and refused_; held only around their calls
    bus_arbiter arbiters_[CAN_PORT_COUNT];
    uint64_t refused_[CAN_PORT_COUNT] = {};  // released frames the unit's receive queue did not take
    std::mutex pump_lock_;         // taken before subscribers_lock_, never after
    std::mutex subscribers_lock_;
    std::vector<std::pair<int, subscriber>> subscribers_;
    int next_id_ = 1;
};

}  // namespace norvane
