#include "host/bus/bus_hub.h"

#include <cstring>
#include <deque>
#include <memory>

#include "seam/unit.h"

namespace norvane {

int bus_hub::subscribe(subscriber s)
{
    std::lock_guard<std::mutex> hold(subscribers_lock_);
    subscribers_.emplace_back(next_id_, std::move(s));
    return next_id_++;
}

void bus_hub::unsubscribe(int id)
{
    std::lock_guard<std::mutex> hold(subscribers_lock_);
    for (auto it = subscribers_.begin(); it != subscribers_.end(); ++it)
        if (it->first == id) {
            subscribers_.erase(it);
            return;
        }
}

void bus_hub::publish(const bus_event& e)
{
    std::lock_guard<std::mutex> hold(subscribers_lock_);
    for (auto& [id, s] : subscribers_)
        s(e);
}

// One time base on the bus, the unit's: its own frames leave without a time
// and take the unit's time of the pump (right after the main step that
// flushed them, as the CAN log has it); a frame others put on the bus takes
// the unit's time at which it reached it, or left the arbiter.
int bus_hub::pump(uint8_t port)
{
    std::lock_guard<std::mutex> one_pump(pump_lock_);
    const uint64_t now_ms = hal_ms_clock();
    release_waiting(port, now_ms);
    int taken = 0;
    bus_event e{port, bus_direction::from_unit, "unit", {}};
    while (can_virtual_take_sent(port, &e.frame)) {
        e.frame.time_us = now_ms * 1000u;
        bus_arbiter::verdict v;
        {
            std::lock_guard<std::mutex> hold(bus_lock_);
            v = arbiters_[port].offer(e.frame, now_ms, 0);
        }
        if (v == bus_arbiter::verdict::now)
            publish(e);
        ++taken;
    }
    return taken;
}

// Frames that waited for the bus leave in arbitration order while it has
// room; a unit's frame (tag 0) to the subscribers, another's (tag: its
// source) to the unit too.
void bus_hub::release_waiting(uint8_t port, uint64_t now_ms)
{
    for (;;) {
        can_frame frame;
        uintptr_t tag = 0;
        {
            std::lock_guard<std::mutex> hold(bus_lock_);
            if (!arbiters_[port].release(now_ms, frame, tag))
                return;
        }
        frame.time_us = now_ms * 1000u;
        if (tag == 0) {
            publish(bus_event{port, bus_direction::from_unit, "unit", frame});
        } else if (can_virtual_inject(port, frame) == 0) {
            publish(bus_event{port, bus_direction::to_unit, reinterpret_cast<const char*>(tag), frame});
        } else {
            std::lock_guard<std::mutex> hold(bus_lock_);
            ++refused_[port];
        }
    }
}

int bus_hub::inject(uint8_t port, const can_frame& frame, const char* source)
{
    if (port >= CAN_PORT_COUNT)
        return -1;
    const uint64_t now_ms = hal_ms_clock();
    can_frame stamped = frame;
    stamped.time_us = now_ms * 1000u;
    bus_arbiter::verdict v;
    {
        std::lock_guard<std::mutex> hold(bus_lock_);
        v = arbiters_[port].offer(stamped, now_ms, reinterpret_cast<uintptr_t>(source));
    }
    if (v == bus_arbiter::verdict::refused)
        return -1;
    if (v == bus_arbiter::verdict::waiting)
        return 0;
    if (can_virtual_inject(port, stamped) != 0) {
        std::lock_guard<std::mutex> hold(bus_lock_);
        ++refused_[port];
        return -1;
    }
    publish(bus_event{port, bus_direction::to_unit, source, stamped});
    return 0;
}

bus_figures bus_hub::figures(uint8_t port) const
{
    bus_figures f;
    if (port >= CAN_PORT_COUNT)
        return f;
    f.now_ms = hal_ms_clock();
    std::lock_guard<std::mutex> hold(bus_lock_);
    const bus_arbiter& a = arbiters_[port];
    f.busy_bits = a.busy_bits(f.now_ms);
    f.carried = a.carried();
    f.backlog = a.backlog();
    f.delayed = a.delayed();
    f.refused = a.refused() + refused_[port];
    return f;
}

}  // namespace norvane
