// The in-process bus: the host injects frames that a port mapped to
// "virtual" then receives, and sees the frames the unit sends on it.
#pragma once
#include <cstdint>

#include "can/can_port.h"

// Each direction of a port holds this many frames.
constexpr uint32_t CAN_VIRTUAL_QUEUE = 4096;

// Queues a frame for the port's next receive; 0, or -1 when the bus is full
// (the frame is refused, the queued ones stay). Any thread may inject; the
// frame's receive time is the unit's clock at the injection.
int can_virtual_inject(uint8_t port, const can_frame& frame);
// Frames sent on a virtual port, oldest first; 0 when there is none. When
// nobody takes them the oldest are dropped to make room for new ones.
int can_virtual_take_sent(uint8_t port, can_frame* out);
// Number of sent frames dropped because the host did not take them.
uint32_t can_virtual_sent_dropped(uint8_t port);
// Empties both directions of both ports and closes them (a fresh bus).
void can_virtual_reset();
