#include <gtest/gtest.h>

#include "gfx/assets.h"
#include "model/model.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

// The model rewrites ages and records on every tick, so each test sets them
// and runs the page's repaint pass between two ticks.
class StatusPage : public ScreensTest {
protected:
    // Row 1..8 PWRB1..PWRB8, 9..12 SENB1..SENB4; column 0..6 R1..R7, 7..13
    // F1..F7, 14 CAN.
    static bool cell_good(int row, int column)
    {
        const int x = 49 + 17 * column, y = 1 + 15 * row;
        const bool ok = overlay_shows(img_status_ok, x, y);
        const bool alarm = overlay_shows(img_status_alarm, x, y);
        EXPECT_NE(ok, alarm) << "row " << row << " column " << column << " shows one cell image";
        return ok;
    }
    void show(uint16_t age = 0)
    {
        status_page_enter();
        for (auto& a : module_age)
            a.store(age);
        hmi_run_pass();
    }
    void SetUp() override
    {
        ScreensTest::SetUp();
        for (power_module_status& p : power_module_record)
            for (int j = 0; j < 7; ++j) {
                p.output_state[j].store(0);
                p.output_code[j].store(0);
            }
    }
};

TEST_F(StatusPage, CanCellsFollowTheAgeOfEachModule)
{
    struct age_case {
        uint16_t age;
        bool power_good, input_good;
    };
    // A power module is still heard at 200 steps (2.0 s), an input module
    // is not.
    const age_case cases[] = {
        {0, true, true},     {199, true, true},      {200, true, false},
        {201, false, false}, {0xFFFF, false, false},
    };
    for (const age_case& c : cases) {
        show(c.age);
        for (int p = 0; p < 8; ++p)
            EXPECT_EQ(cell_good(1 + p, 14), c.power_good) << "PWRB" << p + 1 << " at age " << c.age;
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(cell_good(9 + m, 14), c.input_good) << "SENB" << m + 1 << " at age " << c.age;
    }
}

TEST_F(StatusPage, AnOutputCodeTurnsExactlyOneCellRed)
{
    power_module_record[3].output_code[1].store(3);  // PWRB4, output 2
    show();
    for (int row = 1; row <= 8; ++row)
        for (int column = 0; column < 15; ++column)
            EXPECT_EQ(cell_good(row, column), !(row == 4 && column == 1)) << row << " " << column;
}

TEST_F(StatusPage, OutputStatesShowInTheFColumns)
{
    power_module_record[7].output_state[6].store(2);  // PWRB8, output 7
    power_module_record[0].output_code[6].store(15);  // PWRB1, output 7
    show();
    EXPECT_FALSE(cell_good(8, 13));
    EXPECT_TRUE(cell_good(8, 6));
    EXPECT_FALSE(cell_good(1, 6));
    EXPECT_TRUE(cell_good(1, 13));
}

TEST_F(StatusPage, ANeverHeardModuleShowsOnlyItsCanCellRed)
{
    show(0xFFFF);
    for (int column = 0; column < 15; ++column)
        EXPECT_EQ(cell_good(5, column), column != 14) << column;
}

TEST_F(StatusPage, InputModuleRowsHaveOnlyTheCanCell)
{
    show();
    for (int row = 9; row <= 12; ++row)
        for (int column = 0; column < 14; ++column) {
            const int x = 49 + 17 * column, y = 1 + 15 * row;
            EXPECT_FALSE(overlay_shows(img_status_ok, x, y) || overlay_shows(img_status_alarm, x, y))
                << row << " " << column;
        }
}

}  // namespace
}  // namespace norvane::testing
