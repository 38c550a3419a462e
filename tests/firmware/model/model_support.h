// Helpers of the control-model tests: frames as the modules send them and
// the command frames the unit queues.
#pragma once
#include <array>
#include <cstdint>

#include <gtest/gtest.h>

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

#include "host/core/virtual_clock.h"
#include "model/mailbox.h"
#include "model/model.h"
#include "platform/hal.h"
#include "screens/page_table.h"

namespace norvane::testing {

// Frames as the modules send them, handed to the mailboxes as the main
// loop's receive poll would.
inline void send(uint32_t id, std::array<uint8_t, 8> data, uint8_t len = 8)
{
    can_rx_dispatch(id, len, data.data());
}
// Switch form of SENB(m+1), channel 1..10.
inline void send_switch(uint8_t m, uint8_t channel, uint8_t state)
{
    send(MSG_INPUT_CHANNEL + (channel - 1u) * 256u + 0x80u + m, {MSG_INPUT_SWITCH_KIND, 1, state});
}
inline void send_analog(uint8_t channel, uint16_t millivolts)
{
    send(MSG_INPUT_CHANNEL + (channel - 1u) * 256u + 0x83u,
         {MSG_INPUT_ANALOG_KIND, 1, uint8_t(millivolts), uint8_t(millivolts >> 8)});
}

// The model on its own in virtual time: each step() advances the unit's
// clock by 10 ms and runs one model_tick, as the 10 ms tick would.
class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_virtual_clock_ms(0);
        use_virtual_clock();
        hal_ms_clock();  // the clock base is taken at 0
        can_init();
        rx_mailbox_init();
        model_set_page_functions(&page_functions);
        model_init();
    }
    void TearDown() override { use_monotonic_clock(); }

public:
    void step(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            now_ms_ += 10;
            set_virtual_clock_ms(now_ms_);
            model_tick();
        }
    }
    // Runs steps until the unit's clock reads `ms` (a multiple of 10).
    void step_until(uint64_t ms)
    {
        while (now_ms_ < ms)
            step();
    }

protected:
    uint64_t now_ms_ = 0;
};

}  // namespace norvane::testing
