// The platform's CAN port mapping: which back end each firmware port uses.
// The host sets it from one string per port before the firmware starts;
// can_init reads it. The default is the unit's own: a Kvaser channel chosen
// by the port number.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "can/can_port.h"
#include "runtime/hal.h"

namespace {

struct port_mapping {
    uint32_t type = CAN_TYPE_KVASER;
    bool has_device = false;
    char device[CAN_DEVICE_MAX] = {};
};

port_mapping mapping_of[CAN_PORT_COUNT];

constexpr const char* ACCEPTED_FORMS =
    "accepted forms: kvaser[:CHANNEL], cando[:SERIAL], trace:FILE, socketcan:IFACE, virtual";

// The mapping is quoted shortened, so a long one cannot push the reason out
// of the caller's buffer.
constexpr int QUOTED_MAX = 40;

int reject(uint8_t port, const char* mapping, const char* reason, char* why, uint32_t why_size)
{
    if (why && why_size) {
        const char* text = mapping ? mapping : "";
        const bool cut = strnlen(text, QUOTED_MAX + 1) > QUOTED_MAX;
        std::snprintf(why, why_size, "CAN port %u mapping '%.*s%s': %s; %s", unsigned(port), QUOTED_MAX, text,
                      cut ? "..." : "", reason, ACCEPTED_FORMS);
    }
    return 0;
}

bool all_digits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

int hal_can_map_port(uint8_t port, const char* mapping, char* why, uint32_t why_size)
{
    if (port >= CAN_PORT_COUNT)
        return reject(port, mapping, "there are only CAN ports 0 and 1", why, why_size);
    if (!mapping || !*mapping)
        return reject(port, mapping, "empty mapping", why, why_size);

    const std::string_view text(mapping);
    const size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    const bool has_arg = colon != std::string_view::npos;
    const std::string_view arg = has_arg ? text.substr(colon + 1) : std::string_view{};

    port_mapping result;
    if (kind == "kvaser") {
        result.type = CAN_TYPE_KVASER;
        if (has_arg && (!all_digits(arg) || arg.size() > 9))
            return reject(port, mapping, "the Kvaser channel must be a decimal number", why, why_size);
    } else if (kind == "cando") {
        result.type = CAN_TYPE_CANDO;
        if (has_arg && (arg.empty() || arg.size() > 255))
            return reject(port, mapping, "the CANdo serial number must be 1 to 255 characters", why, why_size);
    } else if (kind == "trace") {
        result.type = CAN_TYPE_TRACE;
        if (!has_arg || arg.empty())
            return reject(port, mapping, "a trace needs a file name", why, why_size);
        if (arg.size() >= CAN_DEVICE_MAX)
            return reject(port, mapping, "the trace file name is too long", why, why_size);
    } else if (kind == "socketcan") {
        result.type = CAN_TYPE_SOCKETCAN;
        // Linux interface names are at most 15 characters.
        if (!has_arg || arg.empty() || arg.size() > 15 || arg.find('/') != std::string_view::npos)
            return reject(port, mapping, "a SocketCAN interface name of 1 to 15 characters is needed",
                          why, why_size);
    } else if (kind == "virtual") {
        result.type = CAN_TYPE_VIRTUAL;
        if (has_arg)
            return reject(port, mapping, "the virtual bus takes no argument", why, why_size);
    } else {
        return reject(port, mapping, "unknown back end", why, why_size);
    }

    if (has_arg) {
        result.has_device = true;
        std::memcpy(result.device, arg.data(), arg.size());
        result.device[arg.size()] = 0;
    }
    mapping_of[port] = result;
    if (why && why_size)
        why[0] = 0;
    return 1;
}

void hal_can_port_mapping(uint8_t port, uint32_t* type, const char** device)
{
    const port_mapping* m = port < CAN_PORT_COUNT ? &mapping_of[port] : nullptr;
    if (type)
        *type = m ? m->type : CAN_TYPE_KVASER;
    if (device)
        *device = m && m->has_device ? m->device : nullptr;
}
