#include <gtest/gtest.h>

#include "model/model.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class OverridePages : public ScreensTest {};

TEST_F(OverridePages, OnRunsAnHourAndCountsDownOncePerSecond)
{
    port_overrides_enter();
    press(1);
    press(1);
    press(2);  // KITCHEN on
    EXPECT_EQ(override_state[2].load(), 1);
    EXPECT_EQ(override_timer[2].load(), 3600);
    unit().advance(1000);
    EXPECT_EQ(override_timer[2].load(), 3599);
    for (int i : {0, 1, 3, 4}) {
        EXPECT_EQ(override_timer[i].load(), 0);
        EXPECT_EQ(override_timer[5 + i].load(), 0);
    }

    press(3);  // off restarts the hour with the circuit forced off
    EXPECT_EQ(override_state[2].load(), 0);
    EXPECT_EQ(override_timer[2].load(), 3600);
}

TEST_F(OverridePages, EndLeavesOneSecondThenStops)
{
    starboard_overrides_enter();
    press(1);  // SALOON
    press(2);
    unit().advance(3000);
    press(4);
    EXPECT_EQ(override_timer[6].load(), 1);
    EXPECT_EQ(override_state[6].load(), 0);
    unit().advance(1000);
    EXPECT_EQ(override_timer[6].load(), 0);
    unit().advance(2000);
    EXPECT_EQ(override_timer[6].load(), 0);
    EXPECT_EQ(override_timer[1].load(), 0) << "the port page's row is untouched";
}

TEST_F(OverridePages, ATimerRunningOutKeepsItsStateValue)
{
    override_state[4].store(1);
    override_timer[4].store(2);
    unit().advance(2000);
    EXPECT_EQ(override_timer[4].load(), 0);
    EXPECT_EQ(override_state[4].load(), 1);
}

TEST_F(OverridePages, SelectionMovesForwardOnlyAndWraps)
{
    port_overrides_enter();
    for (int expected : {1, 2, 3, 4, 0}) {
        press(1);
        EXPECT_EQ(hmi_sel.load(), expected);
    }
}

TEST_F(OverridePages, NoRowIsSelectedAtSelection255)
{
    port_overrides_enter();
    hmi_sel.store(255);
    press(2);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(override_timer[i].load(), 0);
}

TEST_F(OverridePages, CountdownStaysWithinZeroToAnHour)
{
    struct step {
        uint16_t before, after;
    };
    const step steps[] = {{0, 0}, {1, 0}, {2, 1}, {3600, 3599}, {3601, 3600}, {3602, 3600}, {65535, 3600}};
    for (const step& s : steps) {
        override_timer[0].store(s.before);
        override_timer[9].store(s.before);
        override_countdown();
        EXPECT_EQ(override_timer[0].load(), s.after) << s.before;
        EXPECT_EQ(override_timer[9].load(), s.after) << s.before;
    }
}

}  // namespace
}  // namespace norvane::testing
