// The host's hold on the buttons between input events and the firmware's
// tick: instant clicks reach the key engine, held buttons let go at once.
#include "host/core/host_keys.h"

#include <string>

#include "runtime/keys.h"
#include "support/unit_fixture.h"

namespace norvane {
namespace {

class HostKeysTest : public testing::UnitTest {
protected:
    void SetUp() override
    {
        testing::UnitTest::SetUp();
        host_keys_reset();
        key_reset_state();
    }
    void TearDown() override { host_keys_reset(); }
    // One 10 ms tick as the runner's tick thread runs it.
    static void tick()
    {
        host_keys_before_tick();
        key_sample();
        host_keys_after_tick();
    }
};

// Each step is "dN" (button N down), "uN" (up), "a" (all up) or "t" (a tick);
// the key engine's new-press and release masks are read at the end.
struct ClickCase {
    const char* name;
    std::string steps;
    uint8_t pressed;
    uint8_t released;
    uint8_t mask_after;
};

TEST_F(HostKeysTest, EveryPressReachesTheKeyEngineEvenBetweenTwoTicks)
{
    const ClickCase cases[] = {
        {"instant click", "d2u2tt", 0x02, 0x02, 0x00},
        {"instant click of two buttons", "d1d5u1u5tt", 0x11, 0x11, 0x00},
        {"held over a tick", "d3tu3t", 0x04, 0x04, 0x00},
        {"still held", "d3tt", 0x04, 0x00, 0x04},
        {"pressed again before the tick", "d2u2d2t", 0x02, 0x00, 0x02},
        {"all up after an unsampled press", "d4att", 0x08, 0x08, 0x00},
        {"all up after a sampled press", "d4tat", 0x08, 0x08, 0x00},
        {"out of range", "d0d6u0u6t", 0x00, 0x00, 0x00},
    };
    for (const ClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        host_keys_reset();
        key_reset_state();
        key_new.store(0);
        key_released.store(0);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const char op = c.steps[i];
            if (op == 't')
                tick();
            else if (op == 'a')
                host_keys_release_all();
            else if (op == 'd' || op == 'u')
                host_key_set(c.steps[++i] - '0', op == 'd');
        }
        EXPECT_EQ(key_new.load(), c.pressed);
        EXPECT_EQ(key_released.load(), c.released);
        EXPECT_EQ(key_input_mask.load(), c.mask_after);
        EXPECT_EQ(host_keys_held(), c.mask_after);
    }
}

TEST_F(HostKeysTest, AReleaseWaitsForTheTickThatSampledThePress)
{
    host_key_set(2, true);
    host_keys_before_tick();  // the tick begins and sees button 2 down
    host_key_set(2, false);
    EXPECT_EQ(key_input_mask.load(), 0x02) << "held until this tick is over";
    key_sample();
    host_keys_after_tick();
    EXPECT_EQ(key_input_mask.load(), 0x00);

    // A press that lands while a tick runs is not counted as sampled by it.
    host_keys_before_tick();
    host_key_set(3, true);
    host_key_set(3, false);
    host_keys_after_tick();
    EXPECT_EQ(key_input_mask.load(), 0x04);
    tick();
    EXPECT_EQ(key_input_mask.load(), 0x00);
}

}  // namespace
}  // namespace norvane
