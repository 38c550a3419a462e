#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "gfx/assets.h"
#include "platform/settings.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class CircuitPages : public ScreensTest {
protected:
    std::vector<int> requests() const
    {
        std::vector<int> r;
        for (uint32_t i = 0; i < CIRCUIT_REQUEST_COUNT; ++i)
            r.push_back(circuit_request[i].load());
        return r;
    }
};

TEST_F(CircuitPages, ButtonTwoTogglesTheSelectedRowOnly)
{
    lighting_page_enter();
    press(4);
    press(4);
    press(3);
    std::vector<int> expected(CIRCUIT_REQUEST_COUNT, 0);
    expected[2] = 1;  // ANCHOR LIGHT
    EXPECT_EQ(requests(), expected);
    press(3);
    EXPECT_EQ(requests(), std::vector<int>(CIRCUIT_REQUEST_COUNT, 0));

    // Each page writes its own block of requests.
    struct row_case {
        hmi_fn enter;
        int downs;
        int index;
    };
    const row_case rows[] = {
        {navigation_page_enter, 2, 16},   // HELM CHART PLOTTER
        {refrigeration_page_enter, 3, 13},  // RIGHT FRIDGE
        {pumps_page_enter, 0, 6},         // FRESH WATER
        {lighting_page_enter, 5, 5},      // FRONT SPEAKERS
    };
    for (const row_case& c : rows) {
        c.enter();
        for (int i = 0; i < c.downs; ++i)
            press(4);
        press(3);
        expected.assign(CIRCUIT_REQUEST_COUNT, 0);
        expected[size_t(c.index)] = 1;
        EXPECT_EQ(requests(), expected) << current_page();
        circuit_request[c.index].store(0);
    }
}

TEST_F(CircuitPages, AnyNonzeroRequestTogglesToOff)
{
    lighting_page_enter();
    circuit_request[0].store(7);
    press(3);
    EXPECT_EQ(circuit_request[0].load(), 0);
}

TEST_F(CircuitPages, NoRowIsSelectedAtSelection255)
{
    lighting_page_enter();
    hmi_sel.store(255);
    press(3);
    EXPECT_EQ(requests(), std::vector<int>(CIRCUIT_REQUEST_COUNT, 0));
}

TEST_F(CircuitPages, HoldOnPumpsSwitchesAllRowsOnThenAllOff)
{
    pumps_page_enter();
    press(4);  // PORT BATHROOMS
    circuit_request[7].store(1);
    hold(3, 3500);
    // The press toggled row 2 off first; the hold then set all four on.
    EXPECT_EQ(requests(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    press(3);  // a single toggle in between does not change what the hold does next
    hold(3, 3500);
    EXPECT_EQ(requests(), std::vector<int>(CIRCUIT_REQUEST_COUNT, 0));
    hold(3, 3500);
    EXPECT_EQ(requests(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CircuitPages, AHoldShorterThanThreeSecondsIsOnlyAToggle)
{
    pumps_page_enter();
    hold(3, 2500);
    EXPECT_EQ(requests(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CircuitPages, RequestsAndSelectionOnLeavingAndReentering)
{
    lighting_page_enter();
    press(4);
    press(3);
    press(5);
    press(1);
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
    EXPECT_EQ(hmi_sel.load(), 0);
    EXPECT_EQ(circuit_request[1].load(), 1);
}

TEST_F(CircuitPages, RequestsSurviveARestartThroughTheSavedSettings)
{
    lighting_page_enter();
    press(3);  // INSIDE LIGHTS
    pumps_page_enter();
    for (int i = 0; i < 3; ++i)
        press(4);
    press(3);  // DECK WASH
    unit().advance(1100);  // the once-per-second save

    std::ifstream f(unit_file("rootfs/app/data/config/eeprom.dat"), std::ios::binary);
    ASSERT_TRUE(f) << "eeprom.dat written";
    const std::vector<uint8_t> image{std::istreambuf_iterator<char>(f), {}};
    ASSERT_GE(image.size(), SETTINGS_SIZE);
    EXPECT_EQ(image[SETTINGS_OFS_CIRCUIT_REQUEST + 0], 1);
    EXPECT_EQ(image[SETTINGS_OFS_CIRCUIT_REQUEST + 9], 1);

    // Power off: the working copy is lost; the next start loads it back.
    for (uint32_t i = 0; i < CIRCUIT_REQUEST_COUNT; ++i)
        circuit_request[i].store(0);
    circuit_all_set[3] = 0;  // as after one hold on PUMPS
    start();
    std::vector<int> expected(CIRCUIT_REQUEST_COUNT, 0);
    expected[0] = expected[9] = 1;
    EXPECT_EQ(requests(), expected);
    EXPECT_EQ(circuit_all_set[3], 1) << "not saved: the first hold after a start switches all on";
}

TEST_F(CircuitPages, BadgesFollowTheRequests)
{
    refrigeration_page_enter();
    circuit_request[11].store(1);
    circuit_request[13].store(200);
    unit().advance(50);
    const bool on[4] = {false, true, false, true};
    for (int row = 0; row < 4; ++row)
        EXPECT_TRUE(overlay_shows(on[row] ? img_state_on : img_state_off, 10, 30 + 23 * row)) << row;
    press(3);  // BAR OUTSIDE on
    EXPECT_TRUE(overlay_shows(img_state_on, 10, 30));
    circuit_request[13].store(0);
    unit().advance(50);
    EXPECT_TRUE(overlay_shows(img_state_off, 10, 30 + 23 * 3));
}

}  // namespace
}  // namespace norvane::testing
