// The in-process bus. The host injects frames from any thread and takes the
// frames the unit sent; each port's two queues share one short lock. Each
// queue's count is also readable without it, so the many looks at an empty
// queue (the unit polls every pass, the host every millisecond) take no lock.
#include "can/can_virtual.h"

#include <atomic>
#include <mutex>

#include "can/can_backend.h"
#include "platform/hal.h"

namespace {

struct frame_queue {
    can_frame frames[CAN_VIRTUAL_QUEUE];
    uint32_t head = 0;
    // Changed only under the port's lock.
    std::atomic<uint32_t> count{0};

    bool full() const { return count.load(std::memory_order_relaxed) == CAN_VIRTUAL_QUEUE; }
    // Without the lock: a frame pushed meanwhile is seen at the next look.
    bool looks_empty() const { return count.load(std::memory_order_acquire) == 0; }
    void push(const can_frame& frame)
    {
        const uint32_t n = count.load(std::memory_order_relaxed);
        frames[(head + n) % CAN_VIRTUAL_QUEUE] = frame;
        count.store(n + 1, std::memory_order_release);
    }
    can_frame pop()
    {
        const can_frame frame = frames[head];
        head = (head + 1) % CAN_VIRTUAL_QUEUE;
        count.store(count.load(std::memory_order_relaxed) - 1, std::memory_order_release);
        return frame;
    }
    void clear()
    {
        head = 0;
        count.store(0, std::memory_order_release);
    }
};

struct virtual_port {
    std::mutex lock;
    frame_queue received;
    frame_queue sent;
    uint32_t sent_dropped = 0;
    bool open = false;  // the firmware's own state, main loop only
};

virtual_port ports[CAN_PORT_COUNT];

int virtual_open(uint8_t port)
{
    ports[port].open = true;
    return 0;
}

int virtual_set_bitrate(uint8_t, uint32_t)
{
    return 0;
}

int virtual_send(uint8_t port, const can_frame* frame)
{
    virtual_port& vp = ports[port];
    if (!vp.open)
        return -1;
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.sent.full()) {
        vp.sent.pop();
        ++vp.sent_dropped;
    }
    vp.sent.push(*frame);
    return 0;
}

int virtual_receive(uint8_t port, can_frame* frame)
{
    virtual_port& vp = ports[port];
    if (!vp.open || vp.received.looks_empty())
        return -1;
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.received.count.load(std::memory_order_relaxed) == 0)
        return -1;
    *frame = vp.received.pop();
    return 0;
}

void virtual_reset()
{
    can_virtual_reset();
    for (virtual_port& vp : ports)
        vp.open = false;
}

}  // namespace

extern const can_backend can_backend_virtual = {
    .name = "virtual",
    .form = "virtual",
    .help = "the in-process bus that scenarios attach to",
    .arg = CAN_ARG_NONE,
    .check_arg = nullptr,
    .open = virtual_open,
    .set_bitrate = virtual_set_bitrate,
    .send = virtual_send,
    .receive = virtual_receive,
    .reset = virtual_reset,
};

int can_virtual_inject(uint8_t port, const can_frame& frame)
{
    if (port >= CAN_PORT_COUNT)
        return -1;
    can_frame stamped = frame;
    if (stamped.len > 8)
        stamped.len = 8;
    stamped.time_us = hal_us_clock();
    virtual_port& vp = ports[port];
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.received.full())
        return -1;
    vp.received.push(stamped);
    return 0;
}

int can_virtual_take_sent(uint8_t port, can_frame* out)
{
    if (port >= CAN_PORT_COUNT || !out)
        return 0;
    virtual_port& vp = ports[port];
    if (vp.sent.looks_empty())
        return 0;
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.sent.count.load(std::memory_order_relaxed) == 0)
        return 0;
    *out = vp.sent.pop();
    return 1;
}

uint32_t can_virtual_sent_dropped(uint8_t port)
{
    if (port >= CAN_PORT_COUNT)
        return 0;
    std::lock_guard<std::mutex> guard(ports[port].lock);
    return ports[port].sent_dropped;
}

void can_virtual_reset()
{
    for (virtual_port& vp : ports) {
        std::lock_guard<std::mutex> guard(vp.lock);
        vp.received.clear();
        vp.sent.clear();
        vp.sent_dropped = 0;
        vp.open = false;
    }
}
