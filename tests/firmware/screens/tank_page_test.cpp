#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/model.h"
#include "screens/interim_model.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class TankPage : public ScreensTest {
protected:
    void set_levels(double fuel0, double fuel1, float water0, float water1)
    {
        tank_level.fuel[0].store(fuel0);
        tank_level.fuel[1].store(fuel1);
        tank_level.water[0].store(water0);
        tank_level.water[1].store(water1);
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
    tank_page_enter();
    for (const level_case& c : cases) {
        set_levels(c.level, c.level, float(c.level), float(c.level));
        unit().advance(250);
        for (int i = 0; i < TANK_GAUGES; ++i) {
            // The water tanks show the same numbers: the clamp to 0..125
            // covers both kinds, the bar clamps to 100.
            EXPECT_EQ(tank_refresh_records[i].shown, c.shown) << "level " << c.level << " tank " << i;
        }
    }
}

TEST_F(TankPage, ANumberChangesAtMostEvery200ms)
{
    tank_page_enter();
    std::vector<uint64_t> refreshed;
    double last_mark = -1;
    unit().after_step = [&](uint64_t t) {
        if (tank_refresh_records[0].mark != last_mark) {
            last_mark = tank_refresh_records[0].mark;
            refreshed.push_back(t);
        }
    };
    // A level that moves on every tick.
    unit().advance(2000, [](uint64_t t) {
        if (t % 10 == 0)
            tank_level.fuel[0].store(double(t) / 20.0);
    });
    ASSERT_GE(refreshed.size(), 8u);
    EXPECT_EQ(refreshed.front(), 25u) << "the first pass refreshes";
    for (size_t i = 1; i < refreshed.size(); ++i)
        EXPECT_EQ(refreshed[i] - refreshed[i - 1], 225u);
    EXPECT_EQ(tank_refresh_records[0].shown, std::floor(double(refreshed.back() - refreshed.back() % 10) / 20.0));
}

}  // namespace
}  // namespace norvane::testing
