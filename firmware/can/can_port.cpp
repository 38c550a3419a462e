// Ports and rings. Each port has a receive ring and a transmit ring of 240
// slots; one slot stays free, so a ring holds 239 frames. The transmit ring
// is written by the tick and the main loop and read by the main loop, so
// queueing and taking a slot share one short lock per port. The receive
// rings live only inside can_poll_receive on the main loop.
#include "can/can_port.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "can/can_backend.h"
#include "platform/hal.h"

namespace {

struct can_ring {
    can_queue_entry slots[CAN_RING_SLOTS];
    uint16_t write = 0;
    uint16_t read = 0;
};

struct can_port_record {
    uint32_t type = CAN_TYPE_KVASER;
    bool has_device = false;
    char device[CAN_DEVICE_MAX] = {};
};

can_ring rx_ring[CAN_PORT_COUNT];
can_ring tx_ring[CAN_PORT_COUNT];
std::mutex tx_lock[CAN_PORT_COUNT];
can_port_record port_record[CAN_PORT_COUNT];

// Open results and counts: written by the main loop (or the host before the
// threads start), read by the window's thread.
struct port_health {
    std::atomic<uint8_t> state{CAN_PORT_NOT_OPENED};
    std::atomic<uint32_t> sent{0};
    std::atomic<uint32_t> refused{0};
    std::atomic<uint32_t> received{0};
};
port_health health[CAN_PORT_COUNT];
std::mutex reason_lock;  // guards failure_reason
char failure_reason[CAN_PORT_COUNT][CAN_REASON_MAX];
bool reason_given[CAN_PORT_COUNT];

// Set at start, before the firmware's threads run; read by the main loop.
struct receive_handlers {
    std::atomic<can_extended_handler> extended{nullptr};
    std::atomic<can_test_message_handler> test_message{nullptr};
};
receive_handlers receivers[CAN_PORT_COUNT];

std::atomic<can_send_observer> send_observer{nullptr};
std::atomic<void*> send_observer_context{nullptr};
std::atomic<can_receive_observer> receive_observer{nullptr};
std::atomic<void*> receive_observer_context{nullptr};

uint16_t ring_next(uint16_t pos)
{
    return uint16_t(pos + 1 == CAN_RING_SLOTS ? 0 : pos + 1);
}

const can_backend* backend_of(uint8_t port)
{
    if (port >= CAN_PORT_COUNT)
        return nullptr;
    const can_backend_row* row = can_backend_of_type(port_record[port].type);
    return row ? row->backend : nullptr;
}

// Packs a frame into a slot: `copy` data bytes are taken, the rest are 0.
void slot_store(can_queue_entry& slot, uint32_t id, uint8_t flags, uint8_t len, const uint8_t* data, uint8_t copy)
{
    uint8_t* b = slot.bytes;
    const uint32_t word = id << 3;
    b[0] = uint8_t(word);
    b[1] = uint8_t(word >> 8);
    b[2] = uint8_t(word >> 16);
    b[3] = uint8_t(word >> 24);
    b[4] = uint8_t(flags | (len << 4));
    std::memset(b + 5, 0, 11);
    if (copy && data)
        std::memcpy(b + 5, data, copy);
}

can_frame slot_decode(const can_queue_entry& slot)
{
    const uint8_t* b = slot.bytes;
    can_frame frame{};
    const uint32_t word = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    frame.id = word >> 3;
    frame.ext = (b[4] & 0x04) ? 1 : 0;
    frame.len = uint8_t(b[4] >> 4);
    if (frame.len > 8)
        frame.len = 8;
    std::memcpy(frame.data, b + 5, 8);
    return frame;
}

// Takes frames from the back end while the ring has room. When it is full
// the rest stay in the back end for the next pass, so nothing is overwritten.
void receive_into_ring(uint8_t port)
{
    can_ring& ring = rx_ring[port];
    can_frame frame;
    const can_receive_observer observer = receive_observer.load(std::memory_order_acquire);
    while (ring_next(ring.write) != ring.read && can_port_receive(port, &frame) == 0) {
        health[port].received.fetch_add(1, std::memory_order_relaxed);
        if (observer)
            observer(port, frame, receive_observer_context.load(std::memory_order_relaxed));
        // A received slot keeps all eight bytes as the back end gave them.
        ring.write = ring_next(ring.write);
        slot_store(ring.slots[ring.write], frame.id, frame.ext ? 0x04 : 0, frame.len > 8 ? 8 : frame.len,
                   frame.data, 8);
    }
}

}  // namespace

void can_init()
{
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        uint32_t type = CAN_TYPE_KVASER;
        const char* device = nullptr;
        hal_can_port_mapping(p, &type, &device);
        can_port_config(p, type, device);
    }
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        // The back ends stay open over a reset of the rings, and so does
        // what the host knows of them.
        health[p].sent.store(0, std::memory_order_relaxed);
        health[p].refused.store(0, std::memory_order_relaxed);
        health[p].received.store(0, std::memory_order_relaxed);
        std::lock_guard<std::mutex> guard(tx_lock[p]);
        rx_ring[p].write = rx_ring[p].read = 0;
        tx_ring[p].write = tx_ring[p].read = 0;
    }
}

void can_port_config(uint8_t port, uint32_t type, const char* device)
{
    if (port >= CAN_PORT_COUNT)
        return;
    can_port_record& record = port_record[port];
    record.type = type;
    record.has_device = device != nullptr;
    if (device && device != record.device)
        std::snprintf(record.device, sizeof record.device, "%s", device);
}

const char* can_port_device(uint8_t port)
{
    if (port >= CAN_PORT_COUNT || !port_record[port].has_device)
        return nullptr;
    return port_record[port].device;
}

int can_port_set_bitrate(uint8_t port, uint32_t bit_rate)
{
    const can_backend* backend = backend_of(port);
    return backend ? backend->set_bitrate(port, bit_rate) : -1;
}

int can_port_open(uint8_t port)
{
    const can_backend* backend = backend_of(port);
    if (!backend)
        return -1;
    {
        std::lock_guard<std::mutex> guard(reason_lock);
        reason_given[port] = false;
        failure_reason[port][0] = 0;
    }
    const int result = backend->open(port);
    if (result != 0) {
        std::lock_guard<std::mutex> guard(reason_lock);
        if (!reason_given[port])
            std::snprintf(failure_reason[port], CAN_REASON_MAX, "the %s back end could not open it", backend->name);
    }
    health[port].state.store(result == 0 ? CAN_PORT_OPEN : CAN_PORT_FAILED, std::memory_order_release);
    return result;
}

void can_port_fail_reason(uint8_t port, const char* reason)
{
    if (port >= CAN_PORT_COUNT || !reason)
        return;
    std::lock_guard<std::mutex> guard(reason_lock);
    if (reason_given[port])
        return;
    std::snprintf(failure_reason[port], CAN_REASON_MAX, "%s", reason);
    reason_given[port] = true;
}

void can_port_get_status(uint8_t port, can_port_status* out)
{
    if (!out)
        return;
    *out = can_port_status{};
    if (port >= CAN_PORT_COUNT)
        return;
    const port_health& h = health[port];
    out->state = h.state.load(std::memory_order_acquire);
    out->sent = h.sent.load(std::memory_order_relaxed);
    out->refused = h.refused.load(std::memory_order_relaxed);
    out->received = h.received.load(std::memory_order_relaxed);
    if (out->state == CAN_PORT_FAILED) {
        std::lock_guard<std::mutex> guard(reason_lock);
        std::memcpy(out->reason, failure_reason[port], CAN_REASON_MAX);
    }
}

const char* can_port_type_name(uint32_t type)
{
    const can_backend_row* row = can_backend_of_type(type);
    return row ? row->backend->name : "unknown";
}

int can_port_send(uint8_t port, const can_frame* frame)
{
    const can_backend* backend = backend_of(port);
    return backend && frame ? backend->send(port, frame) : -1;
}

int can_port_receive(uint8_t port, can_frame* frame)
{
    const can_backend* backend = backend_of(port);
    return backend && frame ? backend->receive(port, frame) : -1;
}

void can_set_send_observer(can_send_observer observer, void* context)
{
    send_observer_context.store(context, std::memory_order_relaxed);
    send_observer.store(observer, std::memory_order_release);
}

void can_set_receive_observer(can_receive_observer observer, void* context)
{
    receive_observer_context.store(context, std::memory_order_relaxed);
    receive_observer.store(observer, std::memory_order_release);
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
    slot_store(ring.slots[target], id, uint8_t((ext ? 0x04 : 0) | 0x08), len, data, len);
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

void can_set_receive_handlers(uint8_t port, can_extended_handler extended, can_test_message_handler test_message)
{
    if (port >= CAN_PORT_COUNT)
        return;
    receivers[port].extended.store(extended, std::memory_order_release);
    receivers[port].test_message.store(test_message, std::memory_order_release);
}

void can_poll_receive()
{
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p)
        receive_into_ring(p);

    // Extended frames go to the port's extended-frame handler, the standard
    // test frame to its handler, the rest is dropped (on the unit, port 0
    // carries the installation's traffic and nothing listens to port 1).
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        const can_extended_handler extended = receivers[p].extended.load(std::memory_order_acquire);
        const can_test_message_handler test_message = receivers[p].test_message.load(std::memory_order_acquire);
        can_ring& ring = rx_ring[p];
        if (!extended && !test_message) {
            ring.read = ring.write;
            continue;
        }
        while (ring.read != ring.write) {
            ring.read = ring_next(ring.read);
            const can_queue_entry& slot = ring.slots[ring.read];
            const can_frame frame = slot_decode(slot);
            if (frame.ext) {
                if (extended)
                    extended(frame.id, frame.len, frame.data);
            } else if ((frame.id & 0x7FF) == CAN_TEST_MESSAGE_ID && test_message) {
                test_message(&slot);
            }
        }
    }
}

void can_flush_transmit()
{
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        can_queue_entry slot;
        while (can_tx_take(p, &slot)) {
            const can_frame frame = slot_decode(slot);
            // A frame that cannot be sent is gone; the bus has moved on. Only
            // what the back end took is shown to the observer.
            if (can_port_send(p, &frame) != 0) {
                health[p].refused.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            health[p].sent.fetch_add(1, std::memory_order_relaxed);
            if (can_send_observer observer = send_observer.load(std::memory_order_acquire))
                observer(p, frame, send_observer_context.load(std::memory_order_relaxed));
        }
    }
}

void can_service()
{
    can_poll_receive();
    can_flush_transmit();
}

void can_reset()
{
    for (uint32_t i = 0; i < can_backend_count(); ++i)
        if (void (*reset)() = can_backend_at(i)->backend->reset)
            reset();
    can_mapping_reset();
    for (uint8_t p = 0; p < CAN_PORT_COUNT; ++p) {
        port_record[p] = can_port_record{};
        health[p].state.store(CAN_PORT_NOT_OPENED, std::memory_order_relaxed);
        health[p].sent.store(0, std::memory_order_relaxed);
        health[p].refused.store(0, std::memory_order_relaxed);
        health[p].received.store(0, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> guard(reason_lock);
            failure_reason[p][0] = 0;
            reason_given[p] = false;
        }
        receivers[p].extended.store(nullptr, std::memory_order_relaxed);
        receivers[p].test_message.store(nullptr, std::memory_order_relaxed);
        std::lock_guard<std::mutex> guard(tx_lock[p]);
        rx_ring[p] = can_ring{};
        tx_ring[p] = can_ring{};
    }
    can_set_send_observer(nullptr, nullptr);
    can_set_receive_observer(nullptr, nullptr);
}
