// A wall switch frame in, the power module's command frame out: the step by
// step latency, and the whole road through the running firmware.
#include <gtest/gtest.h>

#include <vector>

#include "can/can_virtual.h"
#include "model/model.h"
#include "platform/hal.h"
#include "model_support.h"
#include "support/unit_fixture.h"

namespace {

using norvane::testing::ModelFixture;
using norvane::testing::send_switch;
using norvane::testing::queued_frame;
using norvane::testing::take_queued;

std::vector<queued_frame> take_all(uint8_t port)
{
    std::vector<queued_frame> frames;
    queued_frame f;
    while (take_queued(port, f))
        frames.push_back(f);
    return frames;
}

// Output 1 of PWRB1 as the command frame carries it.
int pwrb1_output1(const queued_frame& f)
{
    return f.data[2] & 0x03;
}

using Latency = ModelFixture;

TEST_F(Latency, SwitchFrameReachesTheBusAtTheNextSlotAfterTwoSteps)
{
    circuit_request[0].store(1);  // INSIDE LIGHTS
    step_until(1000);
    take_all(0);

    send_switch(0, 1, 1);  // SENB1 channel 1: the rocker of PWRB1 output 1
    step();                // n
    EXPECT_EQ(switch_input[0][0].load(), 1);
    EXPECT_EQ(switch_snapshot[0].load(), 0);
    EXPECT_EQ(circuit_command[0][0].load(), 0);

    step();  // n + 1
    EXPECT_EQ(switch_snapshot[0].load(), 1);
    EXPECT_EQ(circuit_command[0][0].load(), 1);
    EXPECT_EQ(power_module_record[0].output_command[0].load(), 0);
    tx_mailbox_send(0);
    std::vector<queued_frame> stored = take_all(0);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(pwrb1_output1(stored[0]), 0);

    step();  // n + 2
    EXPECT_EQ(power_module_record[0].output_command[0].load(), 1);
    tx_mailbox_send(0);
    stored = take_all(0);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(pwrb1_output1(stored[0]), 1);

    step_until(1090);
    EXPECT_TRUE(take_all(0).empty());
    step();  // 1100 ms: the next send slot
    const std::vector<queued_frame> sent = take_all(0);
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(sent[0].id, MSG_OUTPUT_COMMAND);
    EXPECT_EQ(pwrb1_output1(sent[0]), 1);
}

// The switch frame is taken in step n; each 100 ms slot's PWRB1 frame shows
// output 1 from `first_slot_on` on.
void expect_first_slot(Latency& t, uint64_t step_n, uint64_t first_slot_on)
{
    circuit_request[0].store(1);
    t.step_until(step_n - 10);
    take_all(0);
    send_switch(0, 1, 1);
    for (uint64_t slot = 1100; slot <= 1200; slot += 100) {
        t.step_until(slot);
        const std::vector<queued_frame> sent = take_all(0);
        ASSERT_EQ(sent.size(), 8u);
        EXPECT_EQ(pwrb1_output1(sent[0]), slot >= first_slot_on ? 1 : 0) << "slot " << slot << " ms";
    }
}

// Stage 5 stores the command before the schedule of the same tick runs.
TEST_F(Latency, FrameTakenTwoStepsBeforeTheSlotGoesOutInIt)
{
    expect_first_slot(*this, 1080, 1100);
}

TEST_F(Latency, FrameTakenOneStepBeforeTheSlotWaitsForTheNextOne)
{
    expect_first_slot(*this, 1090, 1200);
}

// The typical road in the running firmware on the virtual bus: the main
// loop's receive poll hands the frame to the mailboxes, the tick's model
// switches the output, the schedule queues the command frame and the next
// main step puts it on the bus.
class FirmwareRoad : public norvane::testing::UnitTest {
protected:
    struct sent_frame {
        uint64_t ms;
        can_frame frame;
    };

    // PWRB7's command frames on the bus, with the unit time they left at,
    // when the wall switch frame is injected at `inject_ms`.
    std::vector<sent_frame> run_with_switch_at(uint64_t inject_ms, uint64_t until_ms)
    {
        char why[256];
        EXPECT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
        can_virtual_reset();
        norvane::VirtualStepper& unit = start();
        circuit_request[0].store(1);  // INSIDE LIGHTS
        std::vector<sent_frame> sent;
        unit.after_step = [&](uint64_t t) {
            can_frame f;
            while (can_virtual_take_sent(0, &f))
                if (f.ext && f.id == MSG_OUTPUT_COMMAND + 6 * 256u)
                    sent.push_back({t, f});
        };
        unit.run_until(until_ms, [&](uint64_t t) {
            if (t != inject_ms)
                return;
            // SENB1 channel 4 pressed: the push button of PWRB7 output 2.
            can_frame f{};
            f.id = MSG_INPUT_CHANNEL + 3 * 256u + 0x80u;
            f.ext = 1;
            f.len = 8;
            f.data[0] = MSG_INPUT_SWITCH_KIND;
            f.data[1] = 1;
            f.data[2] = 1;
            EXPECT_EQ(can_virtual_inject(0, f), 0);
        });
        unit.after_step = nullptr;
        return sent;
    }

    // First time PWRB7 output 2 shows on in a frame on the bus; 0 if never.
    static uint64_t first_on(const std::vector<sent_frame>& sent)
    {
        for (const sent_frame& s : sent)
            if (((s.frame.data[2] >> 2) & 0x03) == 1)
                return s.ms;
        return 0;
    }
};

TEST_F(FirmwareRoad, WallSwitchFrameInCommandFrameOutAtTheNextSlot)
{
    // Received by the main step at 1025, taken by the tick at 1030, command
    // stored at 1050, on the bus with the 1100 slot.
    const std::vector<sent_frame> sent = run_with_switch_at(1005, 1300);
    ASSERT_EQ(sent.size(), 13u);  // one every 100 ms from 100 ms on
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].ms, 100 * (i + 1));
        EXPECT_EQ(sent[i].frame.len, 6);
    }
    EXPECT_EQ(first_on(sent), 1100u);
    // Outputs 3 and 4 follow INSIDE LIGHTS; output 1 (a rocker) stays off.
    EXPECT_EQ(sent.back().frame.data[0], 0x80);
    EXPECT_EQ(sent.back().frame.data[2], 0x04 | 0x10 | 0x40);
    EXPECT_EQ(sent.back().frame.data[3], 0x00);
}

TEST_F(FirmwareRoad, FrameReceivedAfterTheSlotsTickWaitsForTheNextSlot)
{
    // Received by the main step at 1100, after that millisecond's tick.
    EXPECT_EQ(first_on(run_with_switch_at(1080, 1300)), 1200u);
}

}  // namespace
