// Receive mailboxes decouple frame arrival (main loop) from the 10 ms model
// step (tick); the transmit mailboxes hold the command messages the schedule
// sends every 100 ms.
#include "model/mailbox.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "can/can_port.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

struct rx_entry {
    uint32_t id;
    uint8_t len;
    uint8_t data[8];
};

struct rx_mailbox {
    rx_entry* ring;
    uint8_t depth;
    uint8_t checks_length;  // status and codes: 8-byte frames only
    uint8_t r;
    uint8_t w;
    uint16_t age;
    // Written by the tick every step, read by the dispatch of the main loop.
    std::atomic<uint32_t> filter_reference;
    std::atomic<uint32_t> filter_mask;
};

rx_entry input_rings[INPUT_MODULE_COUNT][RX_INPUT_DEPTH];
rx_entry power_entries[2 * POWER_MODULE_COUNT];

constexpr rx_mailbox make_input(uint8_t m)
{
    return {input_rings[m], RX_INPUT_DEPTH, 0, 0, 0, 0, {0}, {0}};
}
constexpr rx_mailbox make_power(uint8_t slot)
{
    return {&power_entries[slot], 1, 1, 0, 0, 0, {0}, {0}};
}

constinit rx_mailbox mailboxes[RX_MAILBOX_COUNT] = {
    make_input(0),  make_input(1),  make_input(2),  make_input(3),  make_power(0),
    make_power(1),  make_power(2),  make_power(3),  make_power(4),  make_power(5),
    make_power(6),  make_power(7),  make_power(8),  make_power(9),  make_power(10),
    make_power(11), make_power(12), make_power(13), make_power(14), make_power(15),
};

// One lock for all mailboxes, held for the length of one put or get.
std::mutex mailbox_lock;

struct tx_mailbox {
    uint32_t id;
    uint8_t data[MSG_OUTPUT_COMMAND_LEN];
    uint32_t phase;
    uint32_t period;
};

tx_mailbox tx_mailboxes[POWER_MODULE_COUNT] = {
    {0, {}, 0, TX_PERIOD_MS}, {0, {}, 0, TX_PERIOD_MS}, {0, {}, 0, TX_PERIOD_MS},
    {0, {}, 0, TX_PERIOD_MS}, {0, {}, 0, TX_PERIOD_MS}, {0, {}, 0, TX_PERIOD_MS},
    {0, {}, 0, TX_PERIOD_MS}, {0, {}, 0, TX_PERIOD_MS},
};

constexpr uint32_t INPUT_MASK = 0x1FFF00FF;  // all ten channels of one module
constexpr uint32_t FAMILY_MASK = 0x1FFFFF00;
constexpr uint32_t STATUS_FAMILY = MSG_OUTPUT_STATUS & FAMILY_MASK;
constexpr uint32_t CODES_FAMILY = MSG_OUTPUT_CODES & FAMILY_MASK;
constexpr uint8_t INPUT_SOURCE_FIRST = 0x80;

bool filter_accepts(const rx_mailbox& mb, uint32_t id)
{
    // A new mask comes with its reference (stored first).
    const uint32_t mask = mb.filter_mask.load(std::memory_order_acquire);
    return (id & mask) == (mb.filter_reference.load(relaxed) & mask);
}

}  // namespace

void rx_mailbox_init()
{
    std::lock_guard<std::mutex> guard(mailbox_lock);
    for (rx_mailbox& mb : mailboxes) {
        std::memset(mb.ring, 0, sizeof(rx_entry) * mb.depth);
        mb.r = mb.w = 0;
        mb.age = RX_AGE_NEVER;
        mb.filter_reference.store(0, relaxed);
        mb.filter_mask.store(0, relaxed);
    }
}

void rx_mailbox_put(uint8_t mailbox, uint32_t id, uint8_t len, const uint8_t* data)
{
    if (mailbox >= RX_MAILBOX_COUNT)
        return;
    rx_mailbox& mb = mailboxes[mailbox];
    if (mb.checks_length && len != 8)
        return;
    std::lock_guard<std::mutex> guard(mailbox_lock);
    rx_entry& e = mb.ring[mb.w];
    const uint8_t n = len < 8 ? len : 8;
    if (n && data)
        std::memcpy(e.data, data, n);
    e.len = len;
    e.id = id;
    const uint8_t next_of_r = uint8_t((mb.r + 1) % mb.depth);
    if (mb.w == mb.r && mb.age == 0)
        mb.r = next_of_r;  // full of undelivered entries: drop the oldest
    else if (mb.w == next_of_r && mb.age != 0)
        mb.r = next_of_r;  // the reader sat on the newest: the new one is current
    mb.w = uint8_t((mb.w + 1) % mb.depth);
    mb.age = 0;
}

uint8_t rx_mailbox_get(uint8_t mailbox, uint16_t* age, uint32_t* id, uint8_t* ext,
                       uint8_t* data, uint8_t max)
{
    if (mailbox >= RX_MAILBOX_COUNT)
        return 0;
    rx_mailbox& mb = mailboxes[mailbox];
    std::lock_guard<std::mutex> guard(mailbox_lock);
    const rx_entry& e = mb.ring[mb.r];
    if (age)
        *age = mb.age;
    if (id)
        *id = e.id;
    if (ext)
        *ext = 1;
    uint8_t count = max < 8 ? max : 8;
    if (e.len < count)
        count = e.len;
    if (data && count)
        std::memcpy(data, e.data, count);
    const uint8_t next_of_r = uint8_t((mb.r + 1) % mb.depth);
    if (mb.w == next_of_r || mb.age != 0) {
        if (mb.age != RX_AGE_NEVER)
            ++mb.age;
    } else {
        mb.r = next_of_r;
    }
    return count;
}

void rx_mailbox_set_filter(uint8_t mailbox, uint32_t reference, uint32_t mask)
{
    if (mailbox >= RX_MAILBOX_COUNT)
        return;
    mailboxes[mailbox].filter_reference.store(reference, relaxed);
    mailboxes[mailbox].filter_mask.store(mask, std::memory_order_release);
}

void can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data)
{
    for (uint8_t m = 0; m < INPUT_MODULE_COUNT; ++m) {
        if ((id & INPUT_MASK) == (MSG_INPUT_CHANNEL | uint32_t(INPUT_SOURCE_FIRST + m)))
            rx_mailbox_put(rx_mailbox_input(m), id, len, data);
    }
    const uint32_t family = id & FAMILY_MASK;
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        const uint8_t status = rx_mailbox_status(p);
        if (family == STATUS_FAMILY && filter_accepts(mailboxes[status], id))
            rx_mailbox_put(status, id, len, data);
        const uint8_t codes = rx_mailbox_codes(p);
        if (family == CODES_FAMILY && filter_accepts(mailboxes[codes], id))
            rx_mailbox_put(codes, id, len, data);
    }
}

void model_can_open()
{
    can_port_set_bitrate(0, 250000);
    can_port_open(0);
}

uint8_t tx_mailbox_set(uint8_t mailbox, uint32_t id, uint8_t len, const uint8_t* data)
{
    if (mailbox >= POWER_MODULE_COUNT)
        return 0;
    tx_mailbox& mb = tx_mailboxes[mailbox];
    const uint8_t n = len < MSG_OUTPUT_COMMAND_LEN ? len : MSG_OUTPUT_COMMAND_LEN;
    mb.id = id;
    if (n && data)
        std::memcpy(mb.data, data, n);
    return n;
}

void tx_mailbox_send(uint8_t mailbox)
{
    if (mailbox >= POWER_MODULE_COUNT)
        return;
    const tx_mailbox& mb = tx_mailboxes[mailbox];
    can_queue_frame(0, mb.id, 1, MSG_OUTPUT_COMMAND_LEN, mb.data);
}

void can_tx_schedule()
{
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        tx_mailbox& mb = tx_mailboxes[p];
        mb.phase += 10;
        if (mb.phase >= mb.period) {
            mb.phase -= mb.period;
            tx_mailbox_send(p);
        }
    }
}

void mailbox_reset()
{
    {
        std::lock_guard<std::mutex> guard(mailbox_lock);
        for (rx_mailbox& mb : mailboxes) {
            std::memset(mb.ring, 0, sizeof(rx_entry) * mb.depth);
            mb.r = mb.w = 0;
            mb.age = 0;
            mb.filter_reference.store(0, relaxed);
            mb.filter_mask.store(0, relaxed);
        }
    }
    for (tx_mailbox& mb : tx_mailboxes)
        mb = {0, {}, 0, TX_PERIOD_MS};
}
