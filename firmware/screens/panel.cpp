// The soft-key panel: the bar of key labels kept in the overlay's panel area,
// the machine that shows it and lets it sink out of sight, the wake keys that
// bring it back, and the brightness pop-up of the fifth key.
#include "screens/panel.h"

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "screens/keys.h"
#include "platform/settings.h"
#include "screens/hmi.h"

std::atomic<uint8_t> display_levels[2];
std::atomic<uint8_t> panel_state{1};
std::atomic<uint8_t> panel_timer{0};
std::atomic<uint8_t> panel_hold_time{50};

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// States of the show/hide machine beyond the three that key layouts write.
constexpr uint8_t PANEL_HIDE_NOW = 3;
constexpr uint8_t PANEL_SHOWING = 4;
constexpr uint8_t PANEL_SINKING = 5;
constexpr uint8_t PANEL_SINKING_LOW = 6;
constexpr uint8_t PANEL_AT_REST = 7;
constexpr uint8_t REVEAL_LOW = 6;

// Grid to pixels: 160 columns and 128 rows over the 320 x 240 screen.
uint16_t grid_x(int u)
{
    return uint16_t(320 * u / 160);
}

uint16_t grid_y(int v)
{
    return uint16_t(240 * v / 128);
}

// Lowers a byte the main loop may set meanwhile: a store from the other side
// wins over this decrement instead of being undone by it.
void count_down(std::atomic<uint8_t>& value)
{
    uint8_t v = value.load(relaxed);
    if (v != 0)
        value.compare_exchange_strong(v, uint8_t(v - 1), relaxed);
}

void run_restore_keys()
{
    if (const hmi_fn restore = hmi_restore_keys.load(relaxed))
        restore();
}

// One press on a level key: the level moves one step within 0..maximum
// (silently stopping at the ends) and the pop-up shows that level.
void step_level(std::atomic<uint8_t>& level, int step, uint8_t maximum, hmi_fn view)
{
    const int next = level.load(relaxed) + step;
    if (next >= 0 && next <= maximum)
        level.store(uint8_t(next), relaxed);
    hmi_set_overlay(view);
}

void clear_bar_strip()
{
    gfx_fill_rect(0, GFX_PANEL_TOP, GFX_WIDTH - 1, 280);
}

}  // namespace

void hmi_draw_softkey_bar()
{
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_set_text_color(1);
    gfx_set_bitmap_opaque(0);
    clear_bar_strip();
    for (uint8_t i = 0; i < 128; i += 32)
        panel_draw_frame(i, 128, uint8_t(i + 32), 149);
    panel_draw_frame(128, 128, 159, 149);

    for (uint8_t i = 0; i < KEY_COUNT; ++i) {
        const gfx_image* label = hmi_softkeys[i].label.load(relaxed);
        if (!label)
            continue;
        uint16_t x = uint16_t(64 * i);
        // A two-plane bitmap in the last slot sits in its narrower frame.
        if (i == KEY_COUNT - 1 && *reinterpret_cast<const uint8_t*>(label) != 0)
            x = 260;
        gfx_draw_image(x, GFX_PANEL_TOP, label);
    }
    gfx_set_text_style(10, TEXT_ALIGN_LEFT, 1);
}

void panel_draw_frame(uint8_t c1, uint8_t r1, uint8_t c2, uint8_t r2)
{
    const int a = c1, b = r1, c = c2, d = r2;
    gfx_fill_rect(grid_x(a + 1), grid_y(b + 1), uint16_t(grid_x(c - 1) + 1),
                  uint16_t(grid_y(d - 1) + 1));
    gfx_set_text_color(1);
    gfx_set_line_style(0, 1);
    gfx_draw_hline(grid_x(a + 2), grid_y(b), uint16_t(grid_x(c - 1) - 1));
    gfx_draw_hline(grid_x(a + 2), grid_y(d), uint16_t(grid_x(c - 1) - 1));
    gfx_draw_vline(grid_x(a), grid_y(b + 2), uint16_t(grid_y(d - 2) + 1));
    gfx_draw_vline(grid_x(c), grid_y(b + 2), uint16_t(grid_y(d - 2) + 1));
    // Rounded corners: a two-pixel dash inside each.
    gfx_draw_hline(grid_x(a + 1), grid_y(b + 1), uint16_t(grid_x(a + 1) + 1));
    gfx_draw_hline(grid_x(a + 1), grid_y(d - 1), uint16_t(grid_x(a + 1) + 1));
    gfx_draw_hline(grid_x(c - 1), grid_y(b + 1), uint16_t(grid_x(c - 1) + 1));
    gfx_draw_hline(grid_x(c - 1), grid_y(d - 1), uint16_t(grid_x(c - 1) + 1));
}

void panel_step()
{
    switch (panel_state.load(relaxed)) {
    case 0:
        panel_timer.store(panel_hold_time.load(relaxed), relaxed);
        gfx_panel_reveal.store(GFX_REVEAL_MAX, relaxed);
        panel_state.store(PANEL_AT_REST, relaxed);
        break;
    case 1:
        panel_timer.store(panel_hold_time.load(relaxed), relaxed);
        gfx_panel_reveal.store(GFX_REVEAL_MAX, relaxed);
        panel_state.store(PANEL_SHOWING, relaxed);
        break;
    case 2:
    case PANEL_HIDE_NOW:
        gfx_panel_reveal.store(0, relaxed);
        panel_timer.store(0, relaxed);
        panel_state.store(PANEL_AT_REST, relaxed);
        break;
    case PANEL_SHOWING:
        if (panel_timer.load(relaxed) == 0)
            panel_state.store(PANEL_SINKING, relaxed);
        break;
    case PANEL_SINKING:
        if (gfx_panel_reveal.load(relaxed) <= REVEAL_LOW)
            panel_state.store(PANEL_SINKING_LOW, relaxed);
        break;
    case PANEL_SINKING_LOW:
        if (gfx_panel_reveal.load(relaxed) == 0)
            panel_state.store(PANEL_AT_REST, relaxed);
        break;
    default:
        break;
    }
}

void panel_slide_tick()
{
    const uint8_t state = panel_state.load(relaxed);
    if (state == PANEL_SINKING || state == PANEL_SINKING_LOW)
        count_down(gfx_panel_reveal);
}

void panel_timer_tick()
{
    count_down(panel_timer);
}

void panel_hide()
{
    panel_state.store(PANEL_HIDE_NOW, relaxed);
    hmi_redraw.store(true, relaxed);
    panel_install_wake_keys();
}

void panel_install_wake_keys()
{
    key_clear_handlers();
    for (key_code k = 0; k < KEY_COUNT; ++k)
        key_set_press_handler(panel_wake, k);
    key_set_press_handler(brightness_open, KEY_COUNT - 1);
}

void panel_wake()
{
    panel_state.store(1, relaxed);
    run_restore_keys();
    hmi_draw_softkey_bar();
    hmi_redraw.store(false, relaxed);
}

void brightness_open()
{
    key_clear_handlers();
    clear_bar_strip();
    key_set_press_handler(brightness_display_down, 0);
    key_set_press_handler(brightness_display_up, 1);
    key_set_press_handler(brightness_keypad_down, 2);
    key_set_press_handler(brightness_keypad_up, 3);
    key_set_press_handler(brightness_close, 4);
    hmi_set_overlay(brightness_show_display);
    gfx_set_bitmap_opaque(0);
    clear_bar_strip();
    panel_draw_frame(0, 128, 64, 149);
    panel_draw_frame(64, 128, 128, 149);
    panel_draw_frame(128, 128, 159, 149);
    gfx_set_text_style(gfx_text_style.size, TEXT_ALIGN_CENTER, 1);
    gfx_set_text_color(1);
    gfx_draw_image(256, GFX_PANEL_TOP, &img_popup_exit);
    panel_state.store(0, relaxed);
}

void brightness_close()
{
    panel_state.store(PANEL_HIDE_NOW, relaxed);
    settings_dirty.store(1, relaxed);  // the levels are saved with the settings
    hmi_redraw.store(true, relaxed);
    hmi_overlay_clear.store(true, relaxed);
    run_restore_keys();
    // A page whose layout keeps the bar up gets its keys back; any other
    // page's bar goes out of sight again behind the wake keys.
    if (panel_state.load(relaxed) == 0)
        return;
    hmi_redraw.store(true, relaxed);
    panel_state.store(PANEL_HIDE_NOW, relaxed);
    panel_install_wake_keys();
}

void brightness_display_down()
{
    step_level(display_level, -1, DISPLAY_LEVEL_MAX, brightness_show_display);
}

void brightness_display_up()
{
    step_level(display_level, +1, DISPLAY_LEVEL_MAX, brightness_show_display);
}

void brightness_keypad_down()
{
    step_level(keypad_level, -1, KEYPAD_LEVEL_MAX, brightness_show_keypad);
}

void brightness_keypad_up()
{
    step_level(keypad_level, +1, KEYPAD_LEVEL_MAX, brightness_show_keypad);
}

void brightness_show_display()
{
    brightness_draw_level(img_display_view_panel, display_level.load(relaxed), DISPLAY_LEVEL_MAX);
    gfx_draw_image(0, GFX_PANEL_TOP, &img_display_view_left);
    gfx_draw_image(128, GFX_PANEL_TOP, &img_display_view_right);
}

void brightness_show_keypad()
{
    brightness_draw_level(img_keypad_view_panel, keypad_level.load(relaxed), KEYPAD_LEVEL_MAX);
    gfx_draw_image(0, GFX_PANEL_TOP, &img_keypad_view_left);
    gfx_draw_image(128, GFX_PANEL_TOP, &img_keypad_view_right);
}

void brightness_draw_level(const gfx_image& panel, uint8_t level, uint8_t maximum)
{
    gfx_fill_rect(0, 148, 256, 196);
    gfx_draw_image(0, 148, &panel);
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_set_text_color(0x07FF);
    if (level > maximum)
        level = maximum;
    if (level > 0)
        gfx_fill_bar(32, 168, uint16_t(32 + level * 191 / maximum), 179);
}

void panel_reset()
{
    display_levels[0].store(0, relaxed);
    display_levels[1].store(0, relaxed);
    panel_state.store(1, relaxed);
    panel_timer.store(0, relaxed);
    panel_hold_time.store(50, relaxed);
}
