// The tick's dividers and the frames the unit sends on its own.
#include <filesystem>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "host/core/virtual_clock.h"
#include "runtime/app.h"
#include "runtime/hal.h"
#include "runtime/settings.h"
#include "support/unit_fixture.h"

namespace {

class Tick : public norvane::testing::UnitTest {
protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
        app_init();
        app_start();
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            now_ += 10;
            norvane::set_virtual_clock_ms(now_);
            sys_tick();
        }
    }
    int drain_test_frames()
    {
        int frames = 0;
        can_queue_entry slot;
        while (can_tx_take(0, &slot)) {
            const uint32_t id = uint32_t(slot.bytes[0] | slot.bytes[1] << 8 | slot.bytes[2] << 16 |
                                         slot.bytes[3] << 24) >> 3;
            if (id == APP_TEST_FRAME_ID) {
                ++frames;
                EXPECT_EQ(slot.bytes[4], 0x88);  // standard, sent, length 8
                for (int i = 5; i < 13; ++i)
                    EXPECT_EQ(slot.bytes[i], 0);
            }
        }
        return frames;
    }
    std::filesystem::path eeprom() const
    {
        return dir_.path() / "rootfs/app/data/config/eeprom.dat";
    }
    uint64_t now_ = 0;
};

TEST_F(Tick, TestFrameGoesOutOnTheFirstTickThenEveryTenTicks)
{
    tick();
    EXPECT_EQ(drain_test_frames(), 1);
    tick(9);
    EXPECT_EQ(drain_test_frames(), 0);
    tick();
    EXPECT_EQ(drain_test_frames(), 1);
    tick(100);
    EXPECT_EQ(drain_test_frames(), 10);
}

TEST_F(Tick, OncePerSecondWorkRunsOnTheFirstTickThenEveryHundred)
{
    // An erased image gives defaults, which the first second's save writes.
    EXPECT_FALSE(std::filesystem::exists(eeprom()));
    tick();
    ASSERT_TRUE(std::filesystem::exists(eeprom()));
    EXPECT_EQ(settings_work.u32(SETTINGS_OFS_COUNTER), 1u);

    circuit_request[3] = 1;
    tick(99);
    EXPECT_EQ(settings_work.u32(SETTINGS_OFS_COUNTER), 1u);
    tick();
    EXPECT_EQ(settings_work.u32(SETTINGS_OFS_COUNTER), 2u);
}

TEST_F(Tick, MsSinceStartCountsFromInit)
{
    tick(7);
    EXPECT_EQ(sys_ms_since_start(), 70u);
}

TEST_F(Tick, ExitRequestKeepsItsCode)
{
    EXPECT_EQ(sys_exit_requested(), 0u);
    sys_request_exit(-3);
    EXPECT_EQ(sys_exit_requested(), 1u);
    EXPECT_EQ(sys_exit_code(), -3);
    // A unit started again (the window opened anew in one process) has not
    // been asked to end.
    app_init();
    EXPECT_EQ(sys_exit_requested(), 0u);
    EXPECT_EQ(sys_exit_code(), 0);
}

}  // namespace
