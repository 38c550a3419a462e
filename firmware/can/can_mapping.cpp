// The platform's CAN port mapping: which back end each firmware port uses.
// The host sets it from one string per port before the firmware starts;
// can_init reads it. The default is the unit's own: a Kvaser channel chosen
// by the port number.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "can/can_backend.h"
#include "can/can_port.h"
#include "platform/hal.h"

namespace {

struct port_mapping {
    uint32_t type = CAN_TYPE_KVASER;
    bool has_device = false;
    char device[CAN_DEVICE_MAX] = {};
};

port_mapping mapping_of[CAN_PORT_COUNT];

// "accepted forms: kvaser[:CHANNEL], cando[:SERIAL], ..." from the registry.
void accepted_forms(char* out, uint32_t size)
{
    int used = std::snprintf(out, size, "accepted forms: ");
    for (uint32_t i = 0; i < can_backend_count() && used >= 0 && uint32_t(used) < size; ++i)
        used += std::snprintf(out + used, size - uint32_t(used), "%s%s", i ? ", " : "",
                              can_backend_at(i)->backend->form);
}

// The mapping is quoted shortened, so a long one cannot push the reason out
// of the caller's buffer.
constexpr int QUOTED_MAX = 40;

int reject(uint8_t port, const char* mapping, const char* reason, char* why, uint32_t why_size)
{
    if (why && why_size) {
        char forms[256];
        accepted_forms(forms, sizeof forms);
        const char* text = mapping ? mapping : "";
        const bool cut = strnlen(text, QUOTED_MAX + 1) > QUOTED_MAX;
        std::snprintf(why, why_size, "CAN port %u mapping '%.*s%s': %s; %s", unsigned(port), QUOTED_MAX, text,
                      cut ? "..." : "", reason, forms);
    }
    return 0;
}

// Reads a mapping string into `result` without applying it; 1, or 0 with
// the reason in `why`.
int parse_mapping(uint8_t port, const char* mapping, port_mapping& result, char* why, uint32_t why_size)
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

    const can_backend_row* row = can_backend_named(kind);
    if (!row)
        return reject(port, mapping, "unknown back end", why, why_size);
    const can_backend& backend = *row->backend;
    if (has_arg && backend.arg == CAN_ARG_NONE) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "the %s back end takes no argument", backend.name);
        return reject(port, mapping, reason, why, why_size);
    }
    if (!has_arg && backend.arg == CAN_ARG_REQUIRED) {
        // The back end's own check says what the missing argument is.
        const char* reason = backend.check_arg ? backend.check_arg({}) : nullptr;
        return reject(port, mapping, reason ? reason : "an argument is needed after ':'", why, why_size);
    }
    if (has_arg) {
        const char* reason = backend.check_arg ? backend.check_arg(arg) : nullptr;
        if (!reason && arg.size() >= CAN_DEVICE_MAX)
            reason = "the argument is too long";
        if (reason)
            return reject(port, mapping, reason, why, why_size);
    }

    result = port_mapping{};
    result.type = row->type;
    if (has_arg) {
        result.has_device = true;
        std::memcpy(result.device, arg.data(), arg.size());
        result.device[arg.size()] = 0;
    }
    if (why && why_size)
        why[0] = 0;
    return 1;
}

}  // namespace

int hal_can_check_mapping(uint8_t port, const char* mapping, char* why, uint32_t why_size)
{
    port_mapping unused;
    return parse_mapping(port, mapping, unused, why, why_size);
}

int hal_can_map_port(uint8_t port, const char* mapping, char* why, uint32_t why_size)
{
    port_mapping result;
    if (!parse_mapping(port, mapping, result, why, why_size))
        return 0;
    mapping_of[port] = result;
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

void can_mapping_reset()
{
    for (port_mapping& m : mapping_of)
        m = port_mapping{};
}
