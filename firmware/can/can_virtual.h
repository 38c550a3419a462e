// The in-process bus: the host injects frames that a port mapped to
// "virtual" then receives, and sees the frames the unit sends on it.
#pragma once
#include <cstdint>

#include "can/can_port.h"

// Queues a frame for the port's next receive; 0, or -1 when the bus is full.
int can_virtual_inject(uint8_t port, const can_frame& frame);
// Frames sent on a virtual port, oldest first; 0 when there is none.
int can_virtual_take_sent(uint8_t port, can_frame* out);
void can_virtual_reset();
