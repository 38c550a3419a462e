// The soft-key bar at the bottom of the screen and the brightness pop-up.
#pragma once
#include <atomic>
#include <cstdint>

struct gfx_image;

// Brightness levels: byte 0 keypad level 0..3, byte 1 display level 0..10.
extern std::atomic<uint8_t> display_levels[2];
inline std::atomic<uint8_t>& keypad_level = display_levels[0];
inline std::atomic<uint8_t>& display_level = display_levels[1];
constexpr uint8_t KEYPAD_LEVEL_MAX = 3;
constexpr uint8_t DISPLAY_LEVEL_MAX = 10;

// Show/hide machine. Page key layouts write panel_state: 0 keeps the bar
// shown, 1 shows it and lets it slide away after panel_hold_time, 2 hides it
// at once.
extern std::atomic<uint8_t> panel_state;
extern std::atomic<uint8_t> panel_timer;      // 100 ms steps of show time left
extern std::atomic<uint8_t> panel_hold_time;  // 50 = 5 s

void hmi_draw_softkey_bar();
// A framed box on the 160 x 128 panel grid (column u is pixel 2u, row v is
// pixel 240 v / 128), in the current layer.
void panel_draw_frame(uint8_t c1, uint8_t r1, uint8_t c2, uint8_t r2);
void panel_step();        // main loop, after the key dispatch
void panel_slide_tick();  // every tick, first thing
void panel_timer_tick();  // every 100 ms
void panel_hide();
void panel_install_wake_keys();
void panel_wake();
void panel_reset();  // levels and the show/hide machine back to their start values

// Brightness pop-up, opened by the fifth key while the bar is hidden.
void brightness_open();
void brightness_close();
void brightness_display_down();
void brightness_display_up();
void brightness_keypad_down();
void brightness_keypad_up();
void brightness_show_display();  // overlay functions of the repaint pass
void brightness_show_keypad();
void brightness_draw_level(const gfx_image& panel, uint8_t level, uint8_t maximum);
