#include "gfx/panel.h"

std::atomic<uint8_t> display_levels[2];

void panel_step() {}
void panel_slide_tick() {}
void panel_timer_tick() {}
