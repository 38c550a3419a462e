// The model step through real frames on the mailboxes: input modules, tanks,
// power-module records, command messages, ages and the page table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "model/model.h"
#include "model_support.h"

namespace {

using norvane::testing::ModelFixture;
using norvane::testing::send;
using norvane::testing::send_analog;
using norvane::testing::send_switch;
using norvane::testing::queued_frame;
using norvane::testing::take_queued;

using ModelStep = ModelFixture;

struct SwitchCase {
    const char* what;
    uint32_t id;
    std::array<uint8_t, 8> data;
    uint8_t len;
    uint8_t before;  // switch_input[0][3] before the step
    uint8_t after;
};

TEST_F(ModelStep, SwitchMessagesSetTheirChannelAndAnythingMalformedIsIgnored)
{
    const SwitchCase cases[] = {
        {"on", 0x18FF0380, {13, 1, 5}, 8, 0, 1},
        {"off", 0x18FF0380, {13, 1, 0}, 8, 1, 0},
        {"analog form", 0x18FF0380, {12, 1, 1}, 8, 0, 0},
        {"second byte", 0x18FF0380, {13, 2, 1}, 8, 0, 0},
        {"seven bytes", 0x18FF0380, {13, 1, 1}, 7, 0, 0},
        {"channel 11", 0x18FF0A80, {13, 1, 1}, 8, 0, 0},
        {"channel 256", 0x18FFFF80, {13, 1, 1}, 8, 0, 0},
        {"SENB4 has no switches", 0x18FF0383, {13, 1, 1}, 8, 0, 0},
    };
    for (const SwitchCase& c : cases) {
        switch_input[0][3].store(c.before);
        send(c.id, c.data, c.len);
        step();
        EXPECT_EQ(switch_input[0][3].load(), c.after) << c.what;
        if ((c.id & 0xFF) == 0x80) {
            EXPECT_EQ(module_age[0].load(), 0) << c.what;
        }
        step();  // drain
    }
    // Every other channel kept its value throughout.
    for (uint8_t m = 0; m < 3; ++m) {
        for (uint8_t ch = 0; ch < 10; ++ch) {
            if (m != 0 || ch != 3) {
                EXPECT_EQ(switch_input[m][ch].load(), 0) << int(m) << "/" << int(ch);
            }
        }
    }
    send_switch(1, 4, 1);  // SENB2 channel 4 is received though it drives nothing
    send_switch(2, 10, 1);
    step();
    EXPECT_EQ(switch_input[1][3].load(), 1);
    EXPECT_EQ(switch_input[2][9].load(), 1);
}

TEST_F(ModelStep, AnalogVoltsReachTheFuelTanksOneStepLater)
{
    send_analog(1, 1000);  // 0xE8, 0x03
    step();
    EXPECT_EQ(analog_input[0].load(), 1.0f);
    EXPECT_EQ(tank_level[0], 0.0);
    step();
    EXPECT_EQ(tank_level[0], 20.0);

    struct Case {
        uint16_t mv;
        double percent;
    };
    const Case cases[] = {{6250, 125.0}, {7000, 125.0}, {0, 0.0}, {2500, 50.0}, {65535, 125.0}};
    for (const Case& c : cases) {
        send_analog(2, c.mv);
        step(2);
        EXPECT_EQ(tank_level[1], c.percent) << c.mv << " mV";
        EXPECT_EQ(tank_level[0], 20.0);
    }
    EXPECT_FLOAT_EQ(analog_input[1].load(), 65.535f);
}

TEST_F(ModelStep, WaterTanksFollowTheirTableWhicheverWayTheLevelMoves)
{
    struct Case {
        uint16_t mv;
        float percent;
    };
    const Case cases[] = {{7500, 0.0f},  {6000, 0.0f},   {4900, 0.0f}, {3700, 50.0f},
                          {2500, 100.0f}, {1000, 100.0f}, {3700, 50.0f}, {8000, 0.0f}};
    for (const Case& c : cases) {
        send_analog(3, c.mv);
        send_analog(4, c.mv);
        // SENB4's ring hands out one channel per step; the tanks follow one
        // step after their channel.
        step(3);
        EXPECT_EQ(tank_level[2], double(c.percent)) << c.mv << " mV";
        EXPECT_EQ(tank_level[3], double(c.percent)) << c.mv << " mV";
    }
}

TEST_F(ModelStep, TenFramesBetweenTwoStepsAreConsumedOnePerStep)
{
    for (uint8_t ch = 1; ch <= 10; ++ch)
        send_switch(0, ch, 1);
    for (uint8_t ch = 1; ch <= 10; ++ch) {
        step();
        EXPECT_EQ(module_age[0].load(), 0);
        for (uint8_t c = 1; c <= 10; ++c)
            EXPECT_EQ(switch_input[0][c - 1].load(), c <= ch ? 1 : 0) << "step " << int(ch);
    }
    step(3);
    EXPECT_EQ(module_age[0].load(), 3);

    // An eleventh frame before the first is taken drops the oldest.
    for (uint8_t ch = 1; ch <= 10; ++ch)
        send_switch(1, ch, 1);
    send_switch(1, 1, 0);
    step(11);
    EXPECT_EQ(switch_input[1][0].load(), 0);
    EXPECT_EQ(switch_input[1][1].load(), 1);
    EXPECT_EQ(module_age[1].load(), 1);
}

TEST_F(ModelStep, SilentModulesShowNeverReceivedAndZeroRecords)
{
    step(5);
    for (uint8_t m = 0; m < MODULE_COUNT; ++m)
        EXPECT_EQ(module_age[m].load(), 0xFFFF) << int(m);
    for (const power_module_status& rec : power_module_record) {
        for (const auto& v : rec.output_state)
            EXPECT_EQ(v.load(), 0);
        for (const auto& v : rec.output_code)
            EXPECT_EQ(v.load(), 0);
    }
}

TEST_F(ModelStep, StatusAndCodesAreDecodedAndStaleEntriesDecodeAgain)
{
    step();  // from now on each mailbox takes only its own module's frames
    const uint8_t p = 2;
    send(MSG_OUTPUT_STATUS + p, {0xFF, 0b11100100, 0b11100111, 0xFF, 0xFF});
    send(MSG_OUTPUT_CODES + p, {0xFF, 0x21, 0x43, 0x65, 0xF7, 0xFF});
    step();
    const power_module_status& rec = power_module_record[p];
    const uint8_t states[7] = {0, 1, 2, 3, 3, 1, 2};
    for (int j = 0; j < 7; ++j) {
        EXPECT_EQ(rec.output_state[j].load(), states[j]) << "output " << j + 1;
        EXPECT_EQ(rec.output_code[j].load(), j + 1) << "output " << j + 1;
    }
    EXPECT_EQ(module_age[4 + p].load(), 0);
    step(2);
    EXPECT_EQ(module_age[4 + p].load(), 2);
    EXPECT_EQ(rec.output_state[3].load(), 3);
    EXPECT_EQ(rec.output_code[6].load(), 7);
    for (uint8_t q = 0; q < POWER_MODULE_COUNT; ++q) {
        if (q != p) {
            EXPECT_EQ(module_age[4 + q].load(), 0xFFFF) << int(q);
        }
    }
}

TEST_F(ModelStep, StatusFramesReachEveryPowerModuleOnlyBeforeTheFirstStep)
{
    send(MSG_OUTPUT_STATUS + 5, {0, 0x03});
    step();
    for (uint8_t q = 0; q < POWER_MODULE_COUNT; ++q) {
        EXPECT_EQ(module_age[4 + q].load(), 0) << int(q);
        EXPECT_EQ(power_module_record[q].output_state[0].load(), 3) << int(q);
    }
    send(MSG_OUTPUT_STATUS + 5, {0, 0x02});
    step();
    for (uint8_t q = 0; q < POWER_MODULE_COUNT; ++q) {
        EXPECT_EQ(module_age[4 + q].load(), q == 5 ? 0 : 1) << int(q);
        EXPECT_EQ(power_module_record[q].output_state[0].load(), q == 5 ? 2 : 3) << int(q);
    }
}

TEST_F(ModelStep, CommandMessagesCarryThePreviousStepsCircuitCommands)
{
    // Values beyond 3 are clamped to the two-bit field.
    const uint8_t values[8][8] = {
        {1, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 1}, {1, 1, 1, 1, 0, 0, 0, 0},
        {0, 0, 0, 0, 1, 1, 1, 1}, {2, 3, 0, 1, 7, 0, 0, 0}, {1, 0, 1, 0, 1, 0, 1, 0},
        {0, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1},
    };
    const uint8_t expected[8][2] = {{0x01, 0x00}, {0x04, 0x40}, {0x55, 0x00}, {0x00, 0x55},
                                    {0x4E, 0x03}, {0x11, 0x11}, {0x00, 0x00}, {0x55, 0x55}};
    for (uint8_t p = 0; p < 8; ++p)
        for (uint8_t j = 0; j < 8; ++j)
            circuit_command[p][j].store(values[p][j]);
    step();  // packs them; the circuit logic then recomputes circuit_command
    for (uint8_t p = 0; p < 8; ++p)
        for (uint8_t j = 0; j < 8; ++j)
            EXPECT_EQ(power_module_record[p].output_command[j].load(), values[p][j]);
    for (int i = 0; i < 9; ++i)
        can_tx_schedule();  // the tenth schedule is due; no step in between
    for (uint8_t p = 0; p < 8; ++p) {
        queued_frame f;
        ASSERT_TRUE(take_queued(0, f));
        EXPECT_EQ(f.id, 0x18EFB000u + 256u * p);
        EXPECT_TRUE(f.ext);
        EXPECT_EQ(f.len, 6);
        const std::array<uint8_t, 8> bytes = {0x80, 0, expected[p][0], expected[p][1], 0, 0, 0, 0};
        EXPECT_EQ(f.data, bytes) << "PWRB" << p + 1;
    }
}

TEST_F(ModelStep, CircuitCommandsReachOutputCommandOneStepLater)
{
    circuit_request[3].store(1);  // SAILING LIGHT: PWRB5 and PWRB8 output 5
    step();
    EXPECT_EQ(circuit_command[4][4].load(), 1);
    EXPECT_EQ(power_module_record[4].output_command[4].load(), 0);
    step();
    EXPECT_EQ(power_module_record[4].output_command[4].load(), 1);
    EXPECT_EQ(power_module_record[7].output_command[4].load(), 1);
}

TEST_F(ModelStep, CommandFramesGoOutFrom100msOnEvery100ms)
{
    for (int tick = 1; tick <= 35; ++tick) {
        step();
        EXPECT_EQ(can_tx_pending(0), tick % 10 == 0 ? 8 : 0) << "tick " << tick;
        queued_frame f;
        while (take_queued(0, f)) {
        }
    }
}

TEST_F(ModelStep, PageTableHoldsThePageFunctionsAndTheFirstStepIsMarked)
{
    for (uint8_t i = 0; i < PAGE_CALLBACK_COUNT; ++i)
        EXPECT_EQ(page_callbacks[i].load(), page_functions[i]) << int(i);
    EXPECT_EQ(page_callbacks[PAGE_ENTRY_STARTUP].load() != nullptr, true);
    EXPECT_EQ(first_step_done.load(), 0);
    step();
    EXPECT_EQ(first_step_done.load(), 1);
    for (uint8_t i = 0; i < PAGE_CALLBACK_COUNT; ++i)
        EXPECT_EQ(page_callbacks[i].load(), page_functions[i]) << int(i);
}

TEST_F(ModelStep, InitResetsTheOutputsButNotTheInputs)
{
    send(MSG_OUTPUT_STATUS + 1, {0, 0xFF});
    send_analog(1, 5000);
    send_switch(0, 2, 1);
    step(3);
    ASSERT_EQ(tank_level[0], 100.0);
    model_init();
    EXPECT_EQ(tank_level[0], 0.0);
    EXPECT_EQ(module_age[5].load(), 0);
    EXPECT_EQ(power_module_record[1].output_state[0].load(), 0);
    EXPECT_EQ(first_step_done.load(), 0);
    EXPECT_EQ(analog_input[0].load(), 5.0f);
    EXPECT_EQ(switch_input[0][1].load(), 1);
}

TEST(ModelBuildInfo, HoldsTheModelsIdentity)
{
    EXPECT_EQ(std::string(model_build_info.model_code.data(), 4), std::string("QX7\0", 4));
    EXPECT_EQ(model_build_info.model_version, 91u);
    EXPECT_EQ(std::string(model_build_info.toolchain.data(), 13), "(R2012a) 7.14");
    EXPECT_EQ(std::string(model_build_info.release.data(), 11), "2013a_0.0.4");
    EXPECT_STREQ(model_build_info.model_id.data(), "QX7_91");
}

// The tick and the main loop on two threads, as the real-time runner has
// them: the tick steps the model while the main loop stores frames, the
// screens read every output and write requests and overrides. Run under
// ThreadSanitizer this shows any signal shared without an atomic or the lock.
TEST_F(ModelStep, TickAndMainLoopShareTheSignalsOnTwoThreads)
{
    std::atomic<bool> stop{false};
    std::atomic<int> steps{0};
    std::thread tick([&] {
        while (!stop.load()) {
            step();
            steps.fetch_add(1);
        }
    });
    double seen = 0;
    for (int round = 0; round < 3000 || steps.load() < 300; ++round) {
        send_switch(uint8_t(round % 3), uint8_t(round % 10 + 1), uint8_t(round & 1));
        send_analog(uint8_t(round % 4 + 1), uint16_t(round * 3));
        send(MSG_OUTPUT_STATUS + round % 8, {0, uint8_t(round), uint8_t(round >> 8)});
        send(MSG_OUTPUT_CODES + round % 8, {0, uint8_t(round)});
        circuit_request[round % CIRCUIT_REQUEST_COUNT].store(uint8_t(round & 1));
        override_timer[round % OVERRIDE_COUNT].store(uint16_t(round % 5));
        override_state[round % OVERRIDE_COUNT].store(uint8_t(round & 1));
        for (uint8_t i = 0; i < TANK_COUNT; ++i)
            seen += tank_level[i];
        for (const auto& age : module_age)
            seen += age.load(std::memory_order_relaxed);
        for (const power_module_status& rec : power_module_record)
            seen += rec.output_state[0].load(std::memory_order_relaxed) +
                    rec.output_code[6].load(std::memory_order_relaxed) +
                    rec.output_command[7].load(std::memory_order_relaxed);
        for (auto& row : circuit_command)
            seen += row[0].load(std::memory_order_relaxed);
        seen += switch_input[0][0].load() + switch_snapshot[3].load() + first_step_done.load();
        seen += page_callbacks[PAGE_ENTRY_STARTUP].load() != nullptr;
    }
    stop.store(true);
    tick.join();
    EXPECT_GT(seen, 0.0);
    EXPECT_EQ(first_step_done.load(), 1);
}

}  // namespace
