// The in-process bus. The host injects frames from any thread and takes the
// frames the unit sent; each port's two queues share one short lock.
#include "can/can_virtual.h"

#include <mutex>

#include "can/can_backend.h"
#include "platform/hal.h"

namespace {

struct frame_queue {
    can_frame frames[CAN_VIRTUAL_QUEUE];
    uint32_t head = 0;
    uint32_t count = 0;

    bool full() const { return count == CAN_VIRTUAL_QUEUE; }
    void push(const can_frame& frame)
    {
        frames[(head + count) % CAN_VIRTUAL_QUEUE] = frame;
        ++count;
    }
    can_frame pop()
    {
        const can_frame frame = frames[head];
        head = (head + 1) % CAN_VIRTUAL_QUEUE;
        --count;
        return frame;
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
    if (!vp.open)
        return -1;
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.received.count == 0)
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
    std::lock_guard<std::mutex> guard(vp.lock);
    if (vp.sent.count == 0)
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
        vp.received.head = vp.received.count = 0;
        vp.sent.head = vp.sent.count = 0;
        vp.sent_dropped = 0;
        vp.open = false;
    }
}
