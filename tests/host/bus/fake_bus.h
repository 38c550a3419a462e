// The bus side of a bus server in the tests: frames "the unit sent" wait in
// `from_unit` for the server to take; what clients put on the bus lands in
// `on_bus`, unless `full` makes the bus refuse it. Any thread.
#pragma once
#include <cstring>
#include <mutex>
#include <vector>

#include "host/bus/bus_server.h"

namespace norvane::testing {

struct FakeBus {
    std::mutex lock;
    std::vector<can_frame> from_unit;
    std::vector<can_frame> on_bus;
    bool full = false;

    bus_link link()
    {
        bus_link l;
        l.to_bus = [this](const can_frame& f) {
            std::lock_guard<std::mutex> g(lock);
            if (full)
                return false;
            on_bus.push_back(f);
            return true;
        };
        l.from_bus = [this](can_frame& f) {
            std::lock_guard<std::mutex> g(lock);
            if (from_unit.empty())
                return false;
            f = from_unit.front();
            from_unit.erase(from_unit.begin());
            return true;
        };
        return l;
    }
    void unit_sends(const can_frame& f)
    {
        std::lock_guard<std::mutex> g(lock);
        from_unit.push_back(f);
    }
    size_t taken()
    {
        std::lock_guard<std::mutex> g(lock);
        return on_bus.size();
    }
};

inline can_frame frame(uint32_t id, uint8_t ext, std::vector<uint8_t> data)
{
    can_frame f{};
    f.id = id;
    f.ext = ext;
    f.len = uint8_t(data.size());
    if (!data.empty())
        std::memcpy(f.data, data.data(), data.size());
    return f;
}

}  // namespace norvane::testing
