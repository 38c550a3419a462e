// Ports and rings. Each port has a receive ring and a transmit ring of 240
// slots; one slot stays free, so a ring holds 239 frames. The transmit ring
// is written by the tick and the main loop and read by the main loop, so
// queueing and taking a slot share one short lock per port.
#include "can/can_port.h"

#include <cstring>
#include <mutex>

namespace {

struct can_ring {
    can_queue_entry slots[CAN_RING_SLOTS];
    uint16_t write = 0;
    uint16_t read = 0;
};

can_ring rx_ring[CAN_PORT_COUNT];
can_ring tx_ring[CAN_PORT_COUNT];
std::mutex tx_lock[CAN_PORT_COUNT];

uint16_t ring_next(uint16_t pos)
{
    return uint16_t(pos + 1 == CAN_RING_SLOTS ? 0 : pos + 1);
}

}  // namespace

void can_init()
{
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        std::lock_guard<std::mutex> guard(tx_lock[p]);
        rx_ring[p].write = rx_ring[p].read = 0;
        tx_ring[p].write = tx_ring[p].read = 0;
    }
}

void can_queue_frame(uint8_t port, uint32_t id, uint8_t ext, uint8_t len, const uint8_t* data)
{
    if (port >= CAN_PORT_COUNT)
        return;
    if (len > 8)
        len = 8;
    std::lock_guard<std::mutex> guard(tx_lock[port]);
    can_ring& ring = tx_ring[port];
    uint16_t target = ring_next(ring.write);
    if (target == ring.read)  // full: the newest frame is replaced
        target = ring.write;
    uint8_t* b = ring.slots[target].bytes;
    const uint32_t word = id << 3;
    b[0] = uint8_t(word);
    b[1] = uint8_t(word >> 8);
    b[2] = uint8_t(word >> 16);
    b[3] = uint8_t(word >> 24);
    b[4] = uint8_t((ext ? 0x04 : 0) | (len << 4) | 0x08);
    std::memset(b + 5, 0, 11);
    if (len && data)
        std::memcpy(b + 5, data, len);
    ring.write = target;
}

int can_tx_take(uint8_t port, can_queue_entry* out)
{
    if (port >= CAN_PORT_COUNT)
        return 0;
    std::lock_guard<std::mutex> guard(tx_lock[port]);
    can_ring& ring = tx_ring[port];
    if (ring.read == ring.write)
        return 0;
    ring.read = ring_next(ring.read);
    *out = ring.slots[ring.read];
    return 1;
}

uint16_t can_tx_pending(uint8_t port)
{
    if (port >= CAN_PORT_COUNT)
        return 0;
    std::lock_guard<std::mutex> guard(tx_lock[port]);
    const can_ring& ring = tx_ring[port];
    return uint16_t((ring.write + CAN_RING_SLOTS - ring.read) % CAN_RING_SLOTS);
}

void can_service() {}
