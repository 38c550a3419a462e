#include "host/core/can_port_report.h"

#include "runtime/hal.h"

namespace norvane {

std::string can_port_mapping_text(uint8_t port)
{
    uint32_t type = CAN_TYPE_KVASER;
    const char* device = nullptr;
    hal_can_port_mapping(port, &type, &device);
    std::string text = can_port_type_name(type);
    if (device)
        text += std::string(":") + device;
    return text;
}

std::string can_port_state_text(const can_port_status& status)
{
    switch (status.state) {
    case CAN_PORT_OPEN:
        return "open";
    case CAN_PORT_FAILED:
        return std::string("not open: ") + status.reason;
    default:
        return "not opened by the unit";
    }
}

can_port_check check_can_ports(const bool check[CAN_PORT_COUNT])
{
    can_port_check result;
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        can_port_status status{};
        can_port_get_status(port, &status);
        if (check[port] && status.state == CAN_PORT_NOT_OPENED) {
            can_port_set_bitrate(port, 250000);
            can_port_open(port);
            can_port_get_status(port, &status);
        }
        const std::string line =
            "CAN port " + std::to_string(port) + ": " + can_port_mapping_text(port) + ": " + can_port_state_text(status);
        if (check[port] && status.state == CAN_PORT_FAILED && !result.failed) {
            result.failed = true;
            result.failure = line;
        }
        result.lines.push_back(line);
    }
    return result;
}

}  // namespace norvane
