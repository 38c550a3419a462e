// A wall switch frame in, the power module's command frame out: the step by
// step latency, and the whole road through the running firmware.
#include <gtest/gtest.h>

#include <vector>

#include "model/model.h"
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

// The typical road in the running firmware: the main loop hands the frame to
// the mailboxes, the tick's model switches the output, the schedule queues
// the command frame on port 0.
class FirmwareRoad : public norvane::testing::UnitTest {};

TEST_F(FirmwareRoad, WallSwitchFrameInCommandFrameOutAtTheNextSlot)
{
    norvane::VirtualStepper& unit = start();
    circuit_request[0].store(1);
    unit.run_until(1000);
    take_all(0);
    unit.run_until(1010, [](uint64_t t) {
        if (t == 1005)
            send_switch(0, 4, 1);  // SENB1 channel 4: push button of PWRB7 output 2
    });
    unit.run_until(1099);
    for (const queued_frame& f : take_all(0))
        EXPECT_NE(f.id & 0x1FFF0000u, MSG_OUTPUT_COMMAND & 0x1FFF0000u) << "early command frame";
    unit.run_until(1100);
    std::vector<queued_frame> commands;
    for (const queued_frame& f : take_all(0))
        if (f.ext && (f.id & 0x1FFF00FFu) == (MSG_OUTPUT_COMMAND & 0x1FFF00FFu))
            commands.push_back(f);
    ASSERT_EQ(commands.size(), 8u);
    for (size_t p = 0; p < commands.size(); ++p) {
        EXPECT_EQ(commands[p].id, MSG_OUTPUT_COMMAND + 256u * p);
        EXPECT_EQ(commands[p].len, 6);
    }
    // PWRB7 output 2 on; its other outputs follow INSIDE LIGHTS (3 and 4).
    EXPECT_EQ(commands[6].data[2], 0x04 | 0x10 | 0x40);
    EXPECT_EQ(commands[6].data[3], 0x00);
}

}  // namespace
