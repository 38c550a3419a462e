// The CAN back ends: one table of operations per back end, and the registry
// that lists them. The port layer picks a port's table by its type; the
// mapping parser, the programs' usage texts and the mapping errors all read
// the registry, so a back end is added with its own file and one row in
// can_backends.cpp. Each back end keeps its own per-port state and reads the
// port's device string through can_port_device.
#pragma once
#include <cstdint>
#include <string_view>

#include "can/can_port.h"

// Whether a mapping string carries an argument after the back end's name.
enum can_backend_arg : uint8_t {
    CAN_ARG_NONE,      // "virtual"
    CAN_ARG_OPTIONAL,  // "kvaser" or "kvaser:2"
    CAN_ARG_REQUIRED,  // "trace:FILE"
};

struct can_backend {
    const char* name;  // the mapping's first word and the port's type name
    const char* form;  // the mapping as the usage texts show it: "kvaser[:CHANNEL]"
    const char* help;  // one line saying what the back end is
    can_backend_arg arg;
    // Checks the argument after the colon (given only when there is one);
    // nullptr when it is good, else why it is not. nullptr: any argument
    // that fits a port's device string.
    const char* (*check_arg)(std::string_view arg);
    int (*open)(uint8_t port);
    int (*set_bitrate)(uint8_t port, uint32_t bit_rate);
    int (*send)(uint8_t port, const can_frame* frame);
    int (*receive)(uint8_t port, can_frame* frame);
    // Closes every port and forgets what the back end loaded or learnt, so
    // the next open starts as the first one did. nullptr: nothing to do.
    void (*reset)();
};

// One row of the registry: the back end and the port type it has in the
// unit's configuration record (can_port.h names the unit's own types).
struct can_backend_row {
    uint32_t type;
    const can_backend* backend;
};

// The rows in the order the usage texts list them (can_backend_count and
// can_backend_describe in seam/can.h give the host their texts).
const can_backend_row* can_backend_at(uint32_t index);
// The back end of a port type, or of a mapping's first word; nullptr when
// there is none.
const can_backend_row* can_backend_of_type(uint32_t type);
const can_backend_row* can_backend_named(std::string_view name);

// The device string configured for the port; nullptr when there is none.
const char* can_port_device(uint8_t port);
