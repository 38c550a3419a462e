// Stand-in records until the asset conversion generates the real ones.
#include "gfx/assets.h"

namespace {
const gfx_image empty_image{GFX_IMAGE_RGB565, 0, 0};
}  // namespace

const gfx_image& img_page_background = empty_image;
const gfx_image& img_splash_logo = empty_image;
const gfx_image& img_key_left = empty_image;
const gfx_image& img_key_right = empty_image;
const gfx_image& img_key_up = empty_image;
const gfx_image& img_key_down = empty_image;
const gfx_image& img_key_return = empty_image;
const gfx_image& img_key_reset = empty_image;
const gfx_image& img_key_blank = empty_image;
const gfx_image& img_key_on = empty_image;
const gfx_image& img_key_off = empty_image;
const gfx_image& img_key_on_off = empty_image;
const gfx_image& img_key_starboard = empty_image;
const gfx_image& img_key_port = empty_image;
const gfx_image& img_key_exit = empty_image;
const gfx_image& img_state_on = empty_image;
const gfx_image& img_state_off = empty_image;
const gfx_image& img_status_ok = empty_image;
const gfx_image& img_status_alarm = empty_image;
const gfx_image& img_tank_water = empty_image;
const gfx_image& img_tank_fuel = empty_image;
const gfx_image& img_level_water = empty_image;
const gfx_image& img_level_fuel = empty_image;
const gfx_image& img_display_view_left = empty_image;
const gfx_image& img_display_view_right = empty_image;
const gfx_image& img_display_view_panel = empty_image;
const gfx_image& img_keypad_view_left = empty_image;
const gfx_image& img_keypad_view_right = empty_image;
const gfx_image& img_keypad_view_panel = empty_image;
const gfx_image& img_popup_exit = empty_image;
