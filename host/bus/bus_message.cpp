#include "host/bus/bus_message.h"

namespace norvane {

bus_signal bus_field(std::string name, std::string label, uint8_t start, uint8_t length, bus_value_names names)
{
    bus_signal s;
    s.name = std::move(name);
    s.label = std::move(label);
    s.start_bit = start;
    s.length = length;
    s.maximum = length >= 64 ? double(UINT64_MAX) : double((uint64_t(1) << length) - 1);
    s.names = names;
    return s;
}

bus_message bus_message_row(uint32_t id, bool ext, std::string name, std::string kind, std::string module,
                            std::string sender, std::string receiver, uint8_t length)
{
    bus_message m;
    m.id = id;
    m.ext = ext;
    m.name = std::move(name);
    m.kind = std::move(kind);
    m.module = std::move(module);
    m.sender = std::move(sender);
    m.receiver = std::move(receiver);
    m.length = length;
    return m;
}

}  // namespace norvane
