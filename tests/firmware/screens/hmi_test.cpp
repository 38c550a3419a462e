#include <gtest/gtest.h>

#include "gfx/assets.h"
#include "screens/panel.h"
#include "model/model.h"
#include "model/sig.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class ScreenFramework : public ScreensTest {};

TEST_F(ScreenFramework, OuterButtonsWalkTheRingBothWays)
{
    lighting_page_enter();
    const char* forward[] = {"NAVIGATION", "REFRIGERATION", "PUMPS", "tank", "module status",
                             "LIGHTING & SOUND"};
    static_assert(std::size(forward) == HMI_RING_SIZE);
    for (int i = 0; i < HMI_RING_SIZE; ++i) {
        press(5);
        EXPECT_EQ(current_page(), forward[i]);
        EXPECT_EQ(hmi_page_index.load(), (i + 1) % HMI_RING_SIZE);
    }
    const char* backward[] = {"module status", "tank", "PUMPS", "REFRIGERATION", "NAVIGATION",
                              "LIGHTING & SOUND"};
    static_assert(std::size(backward) == HMI_RING_SIZE);
    for (int i = 0; i < HMI_RING_SIZE; ++i) {
        press(1);
        EXPECT_EQ(current_page(), backward[i]);
        EXPECT_EQ(hmi_page_index.load(), (HMI_RING_SIZE - 1 - i) % HMI_RING_SIZE);
    }
}

TEST_F(ScreenFramework, OverridePagesHangOffTheStatusPageWithoutMovingTheRing)
{
    hmi_page_index.store(5);
    page_show_current();
    unit().advance(50);
    press(2);
    EXPECT_EQ(current_page(), "PORT OVERRIDES");
    press(5);
    EXPECT_EQ(current_page(), "module status");
    press(3);
    EXPECT_EQ(current_page(), "STARBOARD OVERRIDES");
    press(5);
    EXPECT_EQ(current_page(), "module status");
    EXPECT_EQ(hmi_page_index.load(), 5);
    press(5);
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
}

// What a page installs on one button. A handler the page keeps to itself
// (toggle, override on, ...) is expected as "any handler".
void any_handler() {}
const key_handler ANY = any_handler;
struct key_expect {
    const gfx_image* label;
    key_handler press, release, hold;
    uint8_t hold_time;
};
struct layout_case {
    const char* page;
    hmi_fn enter;
    const key_expect* keys;
};

const key_expect blank = {&img_key_blank, hmi_noop, nullptr, nullptr, 20};
const key_expect left = {&img_key_left, page_prev, nullptr, nullptr, 20};
const key_expect right = {&img_key_right, nullptr, page_next, nullptr, 20};
const key_expect circuit_keys[KEY_COUNT] = {
    left,
    {&img_key_up, sel_prev, nullptr, nullptr, 20},
    {&img_key_on_off, ANY, nullptr, ANY, 30},
    {&img_key_down, sel_next, nullptr, nullptr, 20},
    right,
};
const key_expect override_keys[KEY_COUNT] = {
    {&img_key_down, sel_next, nullptr, nullptr, 20},
    {&img_key_on, ANY, nullptr, nullptr, 20},
    {&img_key_off, ANY, nullptr, nullptr, 20},
    {&img_key_reset, ANY, nullptr, nullptr, 20},
    {&img_key_return, nullptr, status_page_enter, nullptr, 20},
};

const key_expect tank_keys[KEY_COUNT] = {left, blank, blank, blank, right};
const key_expect status_keys[KEY_COUNT] = {
    left,
    {&img_key_port, port_overrides_enter, nullptr, nullptr, 20},
    {&img_key_starboard, starboard_overrides_enter, nullptr, nullptr, 20},
    blank,
    right,
};

const layout_case layouts[] = {
    {"LIGHTING & SOUND", lighting_page_enter, circuit_keys},
    {"NAVIGATION", navigation_page_enter, circuit_keys},
    {"REFRIGERATION", refrigeration_page_enter, circuit_keys},
    {"PUMPS", pumps_page_enter, circuit_keys},
    {"tank", tank_page_enter, tank_keys},
    {"module status", status_page_enter, status_keys},
    {"PORT OVERRIDES", port_overrides_enter, override_keys},
    {"STARBOARD OVERRIDES", starboard_overrides_enter, override_keys},
};

void expect_handler(key_handler expected, key_handler actual, const char* what, int k)
{
    if (expected == ANY)
        EXPECT_NE(actual, nullptr) << what << " of button " << k;
    else
        EXPECT_EQ(actual, expected) << what << " of button " << k;
}

TEST_F(ScreenFramework, EveryPageInstallsItsOwnKeysAndNothingElse)
{
    for (const layout_case& c : layouts) {
        SCOPED_TRACE(c.page);
        // A circuit page first leaves a hold handler and hold time behind.
        pumps_page_enter();
        panel_state.store(7);
        c.enter();
        const key_expect* keys = c.keys;
        for (int k = 0; k < KEY_COUNT; ++k) {
            expect_handler(keys[k].press, hmi_softkeys[k].on_press.load(), "press", k);
            expect_handler(keys[k].release, hmi_softkeys[k].on_release.load(), "release", k);
            expect_handler(keys[k].hold, hmi_softkeys[k].on_hold.load(), "hold", k);
            EXPECT_EQ(key_hold_time[k].load(), keys[k].hold_time) << "button " << k;
            EXPECT_EQ(hmi_softkeys[k].label.load(), keys[k].label) << "button " << k;
        }
        EXPECT_EQ(panel_state.load(), 0) << "the bar stays shown";
        EXPECT_EQ(current_page(), c.page);
        EXPECT_TRUE(hmi_redraw.load());
    }
}

TEST_F(ScreenFramework, ListPagesStartOnTheirFirstRowOtherPagesKeepTheSelection)
{
    struct entry_case {
        hmi_fn enter;
        int sel, count;
    };
    const entry_case cases[] = {
        {lighting_page_enter, 0, 6},   {navigation_page_enter, 0, 4},
        {refrigeration_page_enter, 0, 4}, {pumps_page_enter, 0, 4},
        {port_overrides_enter, 0, 5},  {starboard_overrides_enter, 0, 5},
        {tank_page_enter, 3, 9},       {status_page_enter, 3, 9},
    };
    for (const entry_case& c : cases) {
        hmi_sel.store(3);
        hmi_item_count.store(9);
        c.enter();
        EXPECT_EQ(hmi_sel.load(), c.sel) << current_page();
        EXPECT_EQ(hmi_item_count.load(), c.count) << current_page();
    }
}

TEST_F(ScreenFramework, SelectionWrapsBothWaysOnACircuitPage)
{
    lighting_page_enter();
    press(2);
    EXPECT_EQ(hmi_sel.load(), 5) << "up from the first row selects FRONT SPEAKERS";
    press(4);
    EXPECT_EQ(hmi_sel.load(), 0) << "down from the last row selects INSIDE LIGHTS";
    hmi_page_index.store(3);
    page_show_current();
    for (int i = 0; i < 3; ++i)
        press(4);
    EXPECT_EQ(hmi_sel.load(), 3) << "DECK WASH";
    press(4);
    EXPECT_EQ(hmi_sel.load(), 0) << "FRESH WATER";
}

TEST_F(ScreenFramework, HoldingTheRightButtonPastItsHoldTimeGivesNoPageChange)
{
    lighting_page_enter();
    hold(5, 2500);
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
    EXPECT_EQ(hmi_page_index.load(), 0);
    hold(5, 1500);
    EXPECT_EQ(current_page(), "NAVIGATION");
}

int full_draws, pass_draws, overlay_draws;
std::string order;
void count_full() { ++full_draws; order += "F"; }
void count_pass() { ++pass_draws; order += "P"; }
void count_overlay() { ++overlay_draws; order += "O"; }

TEST_F(ScreenFramework, RepaintPassRunsTheFullDrawOnceThenThePassAndOverlayEveryTime)
{
    hmi_set_page_draw(count_full, count_pass);
    hmi_redraw.store(true);
    hmi_run_pass();
    hmi_run_pass();
    EXPECT_EQ(order, "FPP");
    EXPECT_FALSE(hmi_redraw.load());

    order.clear();
    hmi_set_overlay(count_overlay);
    hmi_run_pass();
    EXPECT_EQ(order, "PO");
    hmi_set_overlay(nullptr);
    EXPECT_EQ(hmi_overlay.load(), count_overlay) << "dropped on the next pass, not at once";
    hmi_run_pass();
    EXPECT_EQ(order, "POP");
    EXPECT_EQ(hmi_overlay.load(), nullptr);
    EXPECT_FALSE(hmi_overlay_clear.load());
}

// A page entered while a pass runs (the tick enters the start-up page) must
// still get its full repaint on the next pass.
void enter_during_full_draw()
{
    ++full_draws;
    hmi_redraw.store(true);
}

TEST_F(ScreenFramework, AFullRepaintRequestedDuringAPassIsNotLost)
{
    full_draws = 0;
    hmi_set_page_draw(enter_during_full_draw, nullptr);
    hmi_redraw.store(true);
    hmi_run_pass();
    hmi_run_pass();
    EXPECT_EQ(full_draws, 2);
}

}  // namespace
}  // namespace norvane::testing
