#include "host/installation/bus_hub.h"

namespace installation {

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
    int taken = 0;
    bus_event e{port, bus_direction::from_unit, "unit", {}};
    while (can_virtual_take_sent(port, &e.frame)) {
        publish(e);
        ++taken;
    }
    return taken;
}

int bus_hub::inject(uint8_t port, const can_frame& frame, const char* source)
{
    if (can_virtual_inject(port, frame) != 0)
        return -1;
    publish(bus_event{port, bus_direction::to_unit, source, frame});
    return 0;
}

}  // namespace installation
