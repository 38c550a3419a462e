#include "host/bus/hub_bus_link.h"

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

namespace norvane {
namespace {

constexpr const char* SERVER_SOURCE = "bus-server";

// The frames waiting for the bus server; subscribed while it lives.
class server_tap {
public:
    server_tap(bus_hub& hub, uint8_t port, size_t capacity, bool pumps)
        : hub_(hub), port_(port), capacity_(capacity), pumps_(pumps)
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
        if (pumps_)
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
    bool pumps_;
    int id_ = 0;
    std::mutex frames_lock_;
    std::deque<can_frame> frames_;
};

}  // namespace

bus_link hub_bus_link(bus_hub& hub, uint8_t port, size_t queue_frames)
{
    auto tap = std::make_shared<server_tap>(hub, port, queue_frames, true);
    bus_link link;
    link.to_bus = [&hub, port](const can_frame& frame) { return hub.inject(port, frame, SERVER_SOURCE) == 0; };
    link.from_bus = [tap](can_frame& frame) { return tap->take(frame); };
    return link;
}

bus_link hub_bus_link(bus_hub& hub, uint8_t port, std::function<bool(const can_frame&)> to_bus, size_t queue_frames)
{
    auto tap = std::make_shared<server_tap>(hub, port, queue_frames, false);
    bus_link link;
    link.to_bus = std::move(to_bus);
    link.from_bus = [tap](can_frame& frame) { return tap->take(frame); };
    return link;
}

}  // namespace norvane
