// The in-process bus: the host injects frames that a port mapped to
// "virtual" then receives, and sees the frames the unit sends on it.
#pragma once
#include <cstdint>

#include "can/can_port.h"

// Each direction of a port holds this many frames.
constexpr uint32_t CAN_VIRTUAL_QUEUE = 4096;

// can_virtual_inject (seam/can.h) queues a frame for a port's next receive;
// can_virtual_take_sent (seam/can.h) takes the frames the unit sent.
// Number of sent frames dropped because the host did not take them.
uint32_t can_virtual_sent_dropped(uint8_t port);
// Empties both directions of both ports and closes them (a fresh bus).
void can_virtual_reset();
