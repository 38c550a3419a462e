#include "gfx/panel.h"

std::atomic<uint8_t> display_levels[2];
std::atomic<uint8_t> panel_state{1};
std::atomic<uint8_t> panel_timer{0};
std::atomic<uint8_t> panel_hold_time{50};

void hmi_draw_softkey_bar() {}
void panel_draw_frame(uint8_t, uint8_t, uint8_t, uint8_t) {}
void panel_step() {}
void panel_slide_tick() {}
void panel_timer_tick() {}
void panel_hide() {}
void panel_install_wake_keys() {}
void panel_wake() {}
