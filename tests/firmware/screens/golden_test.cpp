// Pictures of every page in a known state, driven in virtual time the way a
// user and the installation drive the unit (buttons, CAN frames), compared
// pixel for pixel with the references under golden/.
// scripts/update-goldens.sh rewrites the references.
#include <gtest/gtest.h>

#include "gfx/gfx.h"
#include "gfx/panel.h"
#include "model/mailbox.h"
#include "model/model.h"
#include "runtime/settings.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class ScreenGolden : public ScreensTest {
protected:
    ::testing::AssertionResult matches(const char* name)
    {
        return frame_matches_golden(frame(), std::string("firmware/screens/golden/") + name + ".png");
    }
};

class VersionGolden : public ScreenGolden {
protected:
    VersionGolden() { boot_past_version_ = false; }
};

TEST_F(VersionGolden, VersionPage)
{
    unit().advance(1000);
    EXPECT_TRUE(matches("version"));
}

TEST_F(ScreenGolden, CircuitPagesWithSomeRowsOnAndTheSecondRowHighlighted)
{
    struct page_case {
        const char* name;
        std::string on;  // per row: '1' switched on with button 3
    };
    const page_case pages[] = {
        {"lighting_sound", "101101"},
        {"navigation", "1101"},
        {"refrigeration", "0110"},
        {"pumps", "1001"},
    };
    for (const page_case& p : pages) {
        SCOPED_TRACE(p.name);
        for (char row : p.on) {
            if (row == '1')
                press(3);
            press(4);
        }
        press(4);
        ASSERT_EQ(hmi_sel.load(), 1);
        unit().advance(100);
        EXPECT_TRUE(matches(p.name));
        press(5);
    }
}

// SENB4 analog channel c (1..4), in millivolts.
void send_analog_mv(uint8_t channel, uint16_t mv)
{
    const uint8_t data[8] = {MSG_INPUT_ANALOG_KIND, 1, uint8_t(mv), uint8_t(mv >> 8), 0, 0, 0, 0};
    can_rx_dispatch(MSG_INPUT_CHANNEL + uint32_t(channel - 1) * 256 + 0x83, 8, data);
}

TEST_F(ScreenGolden, TankPageAtFixedLevels)
{
    send_analog_mv(1, 5500);  // fuel 110 %
    send_analog_mv(2, 2295);  // fuel 45.9 %
    send_analog_mv(3, 3160);  // water 72.5 %
    send_analog_mv(4, 5000);  // water 0 %
    press(1);
    press(1);
    ASSERT_EQ(current_page(), "tank");
    unit().advance(500);
    EXPECT_TRUE(matches("tank"));
}

void send_status(uint8_t p, const uint8_t (&data)[8])
{
    can_rx_dispatch(MSG_OUTPUT_STATUS + p, 8, data);
}

void send_codes(uint8_t p, const uint8_t (&data)[8])
{
    can_rx_dispatch(MSG_OUTPUT_CODES + p, 8, data);
}

void send_switch(uint8_t m, uint8_t channel, uint8_t on)
{
    const uint8_t data[8] = {MSG_INPUT_SWITCH_KIND, 1, on, 0, 0, 0, 0, 0};
    can_rx_dispatch(MSG_INPUT_CHANNEL + uint32_t(channel - 1) * 256 + 0x80 + m, 8, data);
}

TEST_F(ScreenGolden, ModuleStatusWithHeardAndSilentModulesAndOneFault)
{
    const uint8_t quiet[8] = {};
    const uint8_t pwrb4_codes[8] = {0, 0x30, 0, 0, 0, 0, 0, 0};   // output 2 code 3
    // PWRB2 and SENB2 were heard once, three seconds before the picture.
    send_status(1, quiet);
    send_switch(1, 1, 0);
    unit().advance(3000);
    press(1);
    ASSERT_EQ(current_page(), "module status");
    // PWRB1, PWRB3, PWRB4, PWRB6 and SENB1, SENB4 are heard now; PWRB5,
    // PWRB7, PWRB8 and SENB3 never were.
    send_status(0, quiet);
    send_status(2, quiet);
    send_status(3, quiet);
    send_codes(3, pwrb4_codes);
    send_status(5, quiet);
    send_switch(0, 1, 1);
    send_analog_mv(1, 0);
    unit().advance(200);
    EXPECT_TRUE(matches("module_status"));
}

TEST_F(ScreenGolden, OverridePagesWithOneRunningOverride)
{
    press(1);
    press(2);
    ASSERT_EQ(current_page(), "PORT OVERRIDES");
    press(1);
    press(1);
    press(2);  // KITCHEN on
    unit().advance(5000);
    EXPECT_TRUE(matches("port_overrides"));

    press(5);
    press(3);
    ASSERT_EQ(current_page(), "STARBOARD OVERRIDES");
    press(1);
    press(3);  // SALOON off
    unit().advance(2000);
    EXPECT_TRUE(matches("starboard_overrides"));
}

TEST_F(ScreenGolden, SoftKeyBarSlidingAway)
{
    // A bar shown with a show time slides away once the time is over.
    panel_state.store(1);
    unit().advance(5000 + 100);
    const uint8_t reveal = gfx_panel_reveal.load();
    EXPECT_GT(reveal, 0);
    EXPECT_LT(reveal, GFX_REVEAL_MAX);
    EXPECT_TRUE(matches("softkey_bar_sliding"));
}

}  // namespace
}  // namespace norvane::testing
