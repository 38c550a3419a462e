// Helpers of the control-model tests: frames as the modules send them and
// the command frames the unit queues.
#pragma once
#include <array>
#include <cstdint>

#include "can/can_port.h"

namespace norvane::testing {

struct queued_frame {
    uint32_t id = 0;
    bool ext = false;
    uint8_t len = 0;
    std::array<uint8_t, 8> data{};
};

// Takes the next frame of a port's transmit ring, decoded from its slot.
inline bool take_queued(uint8_t port, queued_frame& out)
{
    can_queue_entry e;
    if (!can_tx_take(port, &e))
        return false;
    const uint32_t word = uint32_t(e.bytes[0]) | uint32_t(e.bytes[1]) << 8 |
                          uint32_t(e.bytes[2]) << 16 | uint32_t(e.bytes[3]) << 24;
    out.id = word >> 3;
    out.ext = (e.bytes[4] & 0x04) != 0;
    out.len = uint8_t(e.bytes[4] >> 4);
    for (int i = 0; i < 8; ++i)
        out.data[i] = e.bytes[5 + i];
    return true;
}

}  // namespace norvane::testing
