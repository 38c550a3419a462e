#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "gfx/assets.h"
#include "model/mailbox.h"
#include "model/model.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

// The model recomputes the levels on every tick, so the tests of what the
// page makes of a level (including ones the model never produces) set the
// levels and run the page's repaint pass between two ticks.
class TankPage : public ScreensTest {
protected:
    void SetUp() override
    {
        ScreensTest::SetUp();
        tank_page_enter();
        unit().advance(25);
    }
    void show_level(double level)
    {
        tank_level.fuel[0].store(level);
        tank_level.fuel[1].store(level);
        tank_level.water[0].store(float(level));
        tank_level.water[1].store(float(level));
        for (tank_refresh& r : tank_refresh_records)
            r.mark = 0;  // due for a refresh
        hmi_run_pass();
    }
};

TEST_F(TankPage, NumbersAreFlooredAndClamped)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct level_case {
        double level;
        double shown;
    };
    const level_case cases[] = {
        {110, 110}, {-5, 0}, {45.9, 45}, {nan, 0}, {130, 125}, {125.9, 125}, {inf, 125}, {-inf, 0},
        {0.99, 0},
    };
    for (const level_case& c : cases) {
        show_level(c.level);
        // The water tanks show the same numbers: the number's clamp to 0..125
        // covers both kinds; only the bar stops at 100.
        for (int i = 0; i < TANK_GAUGES; ++i)
            EXPECT_EQ(tank_refresh_records[i].shown, c.shown) << "level " << c.level << " tank " << i;
    }
}

// The level lines go up from row 143 over the gauge, one per 1.25 %; each
// line is two rows, so the bar of n lines ends with the first row of the
// top line on row 144 - n and the gauge shows above it.
TEST_F(TankPage, LevelBarsHaveOneLinePerStepOfTheClampedLevel)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct bar_case {
        double level;
        int lines;
    };
    const bar_case cases[] = {{110, 80}, {100, 80}, {-5, 0}, {0, 0}, {nan, 0}, {45.9, 37}, {0.5, 1}};
    const int gauge_x[TANK_GAUGES] = {30, 93, 174, 237};
    for (const bar_case& c : cases) {
        show_level(c.level);
        for (int i = 0; i < TANK_GAUGES; ++i) {
            SCOPED_TRACE(::testing::Message() << "level " << c.level << " tank " << i);
            const gfx_image& gauge = i < 2 ? img_tank_fuel : img_tank_water;
            const gfx_image& line = i < 2 ? img_level_fuel : img_level_water;
            const int top = 144 - c.lines;
            if (c.lines > 0) {
                EXPECT_TRUE(overlay_shows(line, gauge_x[i], top, 0, 1));
                EXPECT_TRUE(overlay_shows(line, gauge_x[i], 144 - 1, 1, 1));
            }
            EXPECT_TRUE(overlay_shows(gauge, gauge_x[i], 55, 0, uint32_t(top - 55)));
            EXPECT_TRUE(overlay_shows(gauge, gauge_x[i], 55, 145 - 55, 98));
        }
    }
}

// SENB4 reports fuel tank 1 on analog channel 1: 5 V is 100 %.
void send_fuel_level_mv(uint16_t mv)
{
    const uint8_t data[8] = {MSG_INPUT_ANALOG_KIND, 1, uint8_t(mv), uint8_t(mv >> 8), 0, 0, 0, 0};
    can_rx_dispatch(MSG_INPUT_CHANNEL + 0x83, 8, data);
}

TEST_F(TankPage, ANumberChangesAtMostEvery200msWhileTheBarFollows)
{
    std::vector<uint64_t> refreshed;
    double last_mark = tank_refresh_records[0].mark;
    unit().after_step = [&](uint64_t t) {
        const tank_refresh& r = tank_refresh_records[0];
        if (r.mark != last_mark) {
            last_mark = r.mark;
            refreshed.push_back(t);
            EXPECT_EQ(r.shown, std::floor(tank_level[0])) << "at " << t;
        }
        // The bar is at the level of this pass.
        int lines = 0;
        while (lines < 0.8 * tank_level[0])
            ++lines;
        EXPECT_TRUE(overlay_shows(img_level_fuel, 30, 144 - lines, 0, 1)) << "at " << t;
    };
    // A level that rises on every tick, 0.2 % a time.
    uint16_t mv = 1000;
    unit().advance(2000, [&](uint64_t t) {
        if (t % 10 == 5)
            send_fuel_level_mv(mv += 10);
    });
    ASSERT_GE(refreshed.size(), 8u);
    for (size_t i = 1; i < refreshed.size(); ++i)
        EXPECT_EQ(refreshed[i] - refreshed[i - 1], 225u) << "the first pass more than 200 ms later";
}

}  // namespace
}  // namespace norvane::testing
