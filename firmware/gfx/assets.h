// The unit's images, compiled into the program. Draw with
// gfx_draw_image(x, y, &img_name).
#pragma once
#include "gfx/image.h"

extern const gfx_image& img_page_background;
extern const gfx_image& img_splash_logo;
extern const gfx_image& img_key_left;
extern const gfx_image& img_key_right;
extern const gfx_image& img_key_up;
extern const gfx_image& img_key_down;
extern const gfx_image& img_key_return;
extern const gfx_image& img_key_reset;
extern const gfx_image& img_key_blank;
extern const gfx_image& img_key_on;
extern const gfx_image& img_key_off;
extern const gfx_image& img_key_on_off;
extern const gfx_image& img_key_starboard;
extern const gfx_image& img_key_port;
extern const gfx_image& img_key_exit;
extern const gfx_image& img_state_on;
extern const gfx_image& img_state_off;
extern const gfx_image& img_status_ok;
extern const gfx_image& img_status_alarm;
extern const gfx_image& img_tank_water;
extern const gfx_image& img_tank_fuel;
extern const gfx_image& img_level_water;
extern const gfx_image& img_level_fuel;
extern const gfx_image& img_display_view_left;
extern const gfx_image& img_display_view_right;
extern const gfx_image& img_display_view_panel;
extern const gfx_image& img_keypad_view_left;
extern const gfx_image& img_keypad_view_right;
extern const gfx_image& img_keypad_view_panel;
extern const gfx_image& img_popup_exit;
