// One table of operations per back end. The port layer picks the table by
// the port's type; each back end keeps its own per-port state and reads the
// port's device string through can_port_device.
#pragma once
#include <cstdint>

#include "can/can_port.h"

struct can_backend {
    const char* name;
    int (*open)(uint8_t port);
    int (*set_bitrate)(uint8_t port, uint32_t bit_rate);
    int (*send)(uint8_t port, const can_frame* frame);
    int (*receive)(uint8_t port, can_frame* frame);
};

extern const can_backend can_backend_cando;
extern const can_backend can_backend_kvaser;
extern const can_backend can_backend_trace;
extern const can_backend can_backend_socketcan;
extern const can_backend can_backend_virtual;

// The device string configured for the port; nullptr when there is none.
const char* can_port_device(uint8_t port);
