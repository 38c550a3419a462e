#include "screens/panel.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "screens/keys.h"
#include "platform/settings.h"
#include "screens/hmi.h"
#include "support/unit_fixture.h"

namespace {

gfx_color over(int x, int y) { return gfx_overlay[y * GFX_WIDTH + x]; }

void press(key_code k)
{
    const key_handler handler = hmi_softkeys[k].on_press.load();
    ASSERT_NE(handler, nullptr) << "slot " << int(k) << " has no press handler";
    handler();
}

// The panel's share of the unit's timing: a tick every 10 ms (the slide, and
// the show timer every tenth tick) and a main-loop step every 25 ms.
struct panel_clock {
    uint64_t t = 0;
    uint64_t ticks = 0;
    void run_ms(uint64_t ms, const std::function<void()>& after_each = {})
    {
        for (uint64_t end = t + ms; t < end; ++t) {
            if (t % 10 == 0) {
                panel_slide_tick();
                if (++ticks % 10 == 0)
                    panel_timer_tick();
            }
            if (t % 25 == 0)
                panel_step();
            if (after_each)
                after_each();
        }
    }
};

int restore_calls = 0;
int page_handler_calls = 0;
uint8_t layout_state = 1;
void page_handler() { ++page_handler_calls; }
// A page's key layout: one handler on slot 2, labels on all five slots.
void page_layout()
{
    ++restore_calls;
    key_clear_handlers();
    key_set_press_handler(page_handler, 2);
    const gfx_image* labels[] = {&img_key_left, &img_key_up, &img_key_on_off, &img_key_down,
                                 &img_key_right};
    for (key_code k = 0; k < KEY_COUNT; ++k)
        key_set_label(labels[k], k);
    panel_state.store(layout_state);
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        restore_calls = page_handler_calls = 0;
        layout_state = 1;
        hmi_set_restore(page_layout);
        text_build_blend_table();
        text_init_fonts(text_fonts, TEXT_FONT_COUNT);
        gfx_set_fill_color(0xFFFF);
        gfx_clear_layers();
        std::fill(gfx_overlay + GFX_PANEL_TOP * GFX_WIDTH, std::end(gfx_overlay), GFX_KEY_COLOR);
    }

    // A page picture under the panel: black background and a title.
    static void draw_page()
    {
        gfx_set_layer(GFX_LAYER_BACKGROUND);
        gfx_draw_image(0, 0, &img_page_background);
        gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
        gfx_set_text_color(0xFFFE);
        gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
        gfx_draw_text(160, 8, "LIGHTING & SOUND");
        gfx_set_text_style(18, TEXT_ALIGN_LEFT, 0);
        const char* rows[] = {"INSIDE LIGHTS", "DECK LIGHTS", "ANCHOR LIGHT", "SAILING LIGHT"};
        for (int i = 0; i < 4; ++i)
            gfx_draw_text(12, 50 + 32 * i, rows[i]);
    }
};

TEST_F(PanelTest, BarShowsForTheHoldTimeThenSinksTwoRowsPerTick)
{
    panel_state.store(1);
    panel_clock clock;
    std::vector<uint8_t> states;
    uint64_t sink_start = 0, rest_at = 0;
    uint8_t last_reveal = 0;
    bool one_per_tick = true;
    clock.run_ms(6000, [&] {
        const uint8_t s = panel_state.load();
        const uint8_t r = gfx_panel_reveal.load();
        if (states.empty() || states.back() != s) {
            states.push_back(s);
            if (s == 5)
                sink_start = clock.t;
            if (s == 6) {
                EXPECT_LE(r, 6);
            }
            if (s == 7)
                rest_at = clock.t;
        }
        if (clock.t < 4990) {
            EXPECT_EQ(r, GFX_REVEAL_MAX) << "at " << clock.t << " ms";
        }
        if (r < last_reveal && last_reveal - r != 1)
            one_per_tick = false;
        last_reveal = r;
    });
    EXPECT_EQ(states, (std::vector<uint8_t>{4, 5, 6, 7}));
    EXPECT_TRUE(one_per_tick);
    EXPECT_GE(sink_start, 5000u);
    EXPECT_LE(sink_start, 5025u);
    EXPECT_NEAR(double(rest_at - sink_start), 220.0, 25.0);
    EXPECT_EQ(gfx_panel_reveal.load(), 0);
    EXPECT_EQ(panel_state.load(), 7);
}

TEST_F(PanelTest, ALayoutThatKeepsTheBarUpStopsTheSlide)
{
    panel_state.store(1);
    panel_hold_time.store(2);
    panel_clock clock;
    clock.run_ms(300);
    ASSERT_EQ(panel_state.load(), 5);
    ASSERT_LT(gfx_panel_reveal.load(), GFX_REVEAL_MAX);
    panel_state.store(0);
    clock.run_ms(25);
    EXPECT_EQ(gfx_panel_reveal.load(), GFX_REVEAL_MAX);
    clock.run_ms(2000);
    EXPECT_EQ(gfx_panel_reveal.load(), GFX_REVEAL_MAX);
    EXPECT_EQ(panel_state.load(), 7);

    // State 2 (a page without a bar) hides it at once.
    panel_state.store(2);
    clock.run_ms(25);
    EXPECT_EQ(gfx_panel_reveal.load(), 0);
    EXPECT_EQ(panel_timer.load(), 0);
}

TEST_F(PanelTest, FramesSitOnTheGridWhereLabelsAreMissing)
{
    std::fill(gfx_overlay + GFX_PANEL_TOP * GFX_WIDTH, std::end(gfx_overlay), gfx_color(0x5555));
    gfx_set_fill_color(0x1111);
    hmi_draw_softkey_bar();
    struct Case { int fill_x1, fill_x2, edge_x1, edge_x2, left, right; };
    const Case frames[] = {
        {2, 63, 4, 61, 0, 64},       {66, 127, 68, 125, 64, 128},
        {130, 191, 132, 189, 128, 192}, {194, 255, 196, 253, 192, 256},
        {258, 317, 260, 315, 256, 318},
    };
    for (const Case& f : frames) {
        for (int y : {240, 279}) {
            EXPECT_EQ(over(f.edge_x1, y), 0x0000) << "edge at " << f.edge_x1 << ", " << y;
            EXPECT_EQ(over(f.edge_x2, y), 0x0000) << "edge at " << f.edge_x2 << ", " << y;
            EXPECT_NE(over(f.edge_x2 + 1, y), 0x0000) << "edge at " << f.edge_x2 + 1 << ", " << y;
        }
        for (int x : {f.left, f.right}) {
            EXPECT_EQ(over(x, 243), 0x0000) << "side at " << x;
            EXPECT_EQ(over(x, 276), 0x0000) << "side at " << x;
            EXPECT_NE(over(x, 242), 0x0000) << "side at " << x;
            EXPECT_NE(over(x, 277), 0x0000) << "side at " << x;
        }
        // Corner dashes, and the fill inside.
        for (int y : {241, 277}) {
            EXPECT_EQ(over(f.fill_x1, y), 0x0000);
            EXPECT_EQ(over(f.fill_x1 + 1, y), 0x0000);
            EXPECT_EQ(over(f.fill_x1 + 2, y), 0x1111);
        }
        EXPECT_EQ(over(f.fill_x1, 260), 0x1111);
        EXPECT_EQ(over(f.fill_x2, 278), 0x1111);
    }
    EXPECT_EQ(over(319, 260), 0x1111);  // the cleared strip reaches row 280 only
    EXPECT_EQ(over(10, 280), 0x1111);
    EXPECT_EQ(over(10, 281), 0x5555);
    EXPECT_EQ(gfx_state.bitmap_opaque, 0);
    EXPECT_EQ(gfx_text_style.size, 10);
    EXPECT_EQ(gfx_text_style.alignment, TEXT_ALIGN_LEFT);
    EXPECT_EQ(gfx_text_style.spacing, 1);
}

TEST_F(PanelTest, LabelsCoverTheirSlotsAndABitmapGoesToTheLastFrame)
{
    key_set_label(&img_key_reset, 1);
    // Two rows, bottom first: eight set pixels land on row 241.
    const uint8_t bitmap[] = {1, 2, 1, 0xFF, 0x00};
    key_set_label(reinterpret_cast<const gfx_image*>(bitmap), 4);
    gfx_set_text_color(0x001F);
    hmi_draw_softkey_bar();
    const auto* reset = reinterpret_cast<const gfx_color*>(reinterpret_cast<const uint8_t*>(
                                                               &img_key_reset) + 12);
    for (int y = 0; y < 44; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(over(64 + x, 240 + y), reset[y * 64 + x]) << x << ", " << y;
    EXPECT_EQ(over(260, 241), 0x0000);  // bitmap in the text colour code 1
    EXPECT_EQ(over(267, 241), 0x0000);
    EXPECT_EQ(over(268, 241), GFX_KEY_COLOR);  // frame fill of slot 4 is the key
}

TEST_F(PanelTest, AWakeKeyOnlyBringsTheBarBack)
{
    panel_hide();
    EXPECT_EQ(panel_state.load(), 3);
    EXPECT_TRUE(hmi_redraw.load());
    for (key_code k = 0; k < 4; ++k)
        EXPECT_EQ(hmi_softkeys[k].on_press.load(), panel_wake);
    EXPECT_EQ(hmi_softkeys[4].on_press.load(), brightness_open);

    press(2);
    EXPECT_EQ(page_handler_calls, 0);
    EXPECT_EQ(restore_calls, 1);
    EXPECT_EQ(panel_state.load(), 1);
    EXPECT_FALSE(hmi_redraw.load());
    EXPECT_NE(over(160, 260), GFX_KEY_COLOR);  // the bar is drawn again

    press(2);
    EXPECT_EQ(page_handler_calls, 1);
}

TEST_F(PanelTest, PopUpLevelsStopAtTheirLimits)
{
    display_level.store(0);
    keypad_level.store(3);
    panel_hide();
    press(4);
    EXPECT_EQ(panel_state.load(), 0);
    EXPECT_EQ(hmi_overlay.load(), brightness_show_display);

    for (int i = 0; i < 11; ++i)
        press(1);
    EXPECT_EQ(display_level.load(), 10);
    hmi_overlay.load()();
    auto bar_end = [] {
        int x = 32;
        while (x < GFX_WIDTH && over(x, 170) == 0x07FF)
            ++x;
        return x - 1;
    };
    EXPECT_NE(over(31, 170), 0x07FF);
    EXPECT_EQ(over(32, 168), 0x07FF);
    EXPECT_EQ(over(32, 179), 0x07FF);
    EXPECT_NE(over(32, 180), 0x07FF);
    EXPECT_EQ(bar_end(), 223);

    press(3);
    EXPECT_EQ(keypad_level.load(), 3);
    EXPECT_EQ(hmi_overlay.load(), brightness_show_keypad);

    struct Case { void (*down)(); uint8_t presses; int end; };
    const Case cases[] = {
        {brightness_keypad_down, 2, 95},   // level 1 of 3: 32 + 191 / 3
        {brightness_display_down, 9, 51},  // level 1 of 10
    };
    for (const Case& c : cases) {
        for (int i = 0; i < c.presses; ++i)
            c.down();
        hmi_overlay.load()();
        EXPECT_EQ(bar_end(), c.end);
    }
    for (int i = 0; i < 5; ++i)
        press(0);
    EXPECT_EQ(display_level.load(), 0);
    hmi_overlay.load()();
    EXPECT_NE(over(32, 170), 0x07FF);  // level 0 draws no bar
}

TEST_F(PanelTest, ClosingThePopUpRestoresThePageOrHidesTheBarAgain)
{
    for (uint8_t state : {uint8_t(0), uint8_t(1)}) {
        layout_state = state;
        settings_dirty.store(0);
        panel_hide();
        press(4);
        press(4);
        EXPECT_EQ(settings_dirty.load(), 1);
        EXPECT_TRUE(hmi_redraw.load());
        EXPECT_TRUE(hmi_overlay_clear.load());
        if (state == 0) {
            EXPECT_EQ(panel_state.load(), 0);
            EXPECT_EQ(hmi_softkeys[2].on_press.load(), page_handler);
        } else {
            EXPECT_EQ(panel_state.load(), 3);
            EXPECT_EQ(hmi_softkeys[2].on_press.load(), panel_wake);
            EXPECT_EQ(hmi_softkeys[4].on_press.load(), brightness_open);
        }
    }
}

TEST_F(PanelTest, SoftKeyBarMatchesTheReference)
{
    draw_page();
    page_layout();
    hmi_draw_softkey_bar();
    frame_buffer frame;
    gfx_compose_into(frame, GFX_REVEAL_MAX);
    EXPECT_TRUE(norvane::testing::frame_matches_golden(frame, "firmware/screens/softkey_bar.png"));
}

TEST_F(PanelTest, BrightnessPopUpMatchesTheReference)
{
    draw_page();
    page_layout();
    hmi_draw_softkey_bar();
    display_level.store(7);
    panel_hide();
    press(4);
    hmi_overlay.load()();
    frame_buffer frame;
    gfx_compose_into(frame, GFX_REVEAL_MAX);
    EXPECT_TRUE(norvane::testing::frame_matches_golden(frame, "firmware/screens/brightness_popup.png"));
}

}  // namespace
