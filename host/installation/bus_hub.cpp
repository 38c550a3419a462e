#include "host/installation/bus_hub.h"

#include <cstring>
#include <deque>
#include <memory>

#include "seam/unit.h"

namespace installation {

namespace {

// One time base on the bus, the unit's: its own frames leave without a time
// and take the unit's time of the pump (right after the main step that
// flushed them, as the CAN log has it); a frame others put on the bus takes
// the unit's time at which it reached it.
uint64_t unit_now_us()
{
    return uint64_t(hal_ms_clock()) * 1000u;
}

}  // namespace

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

int bus_hub::pump(uint8_t port)
{
    std::lock_guard<std::mutex> one_pump(pump_lock_);
    int taken = 0;
    bus_event e{port, bus_direction::from_unit, "unit", {}};
    while (can_virtual_take_sent(port, &e.frame)) {
        e.frame.time_us = unit_now_us();
        publish(e);
        ++taken;
    }
    return taken;
}

int bus_hub::inject(uint8_t port, const can_frame& frame, const char* source)
{
    can_frame stamped = frame;
    stamped.time_us = unit_now_us();
    if (can_virtual_inject(port, stamped) != 0)
        return -1;
    publish(bus_event{port, bus_direction::to_unit, source, stamped});
    return 0;
}

bool installation_hears(const bus_event& e)
{
    return e.port == 0 && !(e.direction == bus_direction::to_unit && std::strcmp(e.source, INSTALLATION_SOURCE) == 0);
}

uint64_t step_installation_on_hub(plant& p, bus_hub& hub, uint32_t now_ms)
{
    hub.pump(0);
    if (p.step(now_ms) == 0)
        return 0;  // nothing queued: every frame of the last pass was taken then
    uint64_t refused = 0;
    can_frame frame;
    while (p.take_frame(&frame))
        if (hub.inject(0, frame, INSTALLATION_SOURCE) != 0)
            ++refused;
    return refused;
}

}  // namespace installation

namespace installation {

namespace {

constexpr const char* SERVER_SOURCE = "bus-server";

// The frames waiting for the bus server; subscribed while it lives.
class server_tap {
public:
    server_tap(bus_hub& hub, uint8_t port, size_t capacity) : hub_(hub), port_(port), capacity_(capacity)
    {
        id_ = hub_.subscribe([this](const bus_event& e) {
            if (e.port != port_ || (e.direction == bus_direction::to_unit && std::strcmp(e.source, SERVER_SOURCE) == 0))
                return;
            std::lock_guard<std::mutex> hold(frames_lock_);
            if (frames_.size() >= capacity_)
                frames_.pop_front();
            frames_.push_back(e.frame);
        });
    }
    ~server_tap() { hub_.unsubscribe(id_); }
    server_tap(const server_tap&) = delete;
    server_tap& operator=(const server_tap&) = delete;

    bool take(can_frame& out)
    {
        hub_.pump(port_);
        std::lock_guard<std::mutex> hold(frames_lock_);
        if (frames_.empty())
            return false;
        out = frames_.front();
        frames_.pop_front();
        return true;
    }

private:
    bus_hub& hub_;
    uint8_t port_;
    size_t capacity_;
    int id_ = 0;
    std::mutex frames_lock_;
    std::deque<can_frame> frames_;
};

}  // namespace

norvane::bus_link hub_bus_link(bus_hub& hub, uint8_t port, size_t queue_frames)
{
    auto tap = std::make_shared<server_tap>(hub, port, queue_frames);
    norvane::bus_link link;
    link.to_bus = [&hub, port](const can_frame& frame) { return hub.inject(port, frame, SERVER_SOURCE) == 0; };
    link.from_bus = [tap](can_frame& frame) { return tap->take(frame); };
    return link;
}

}  // namespace installation
