// The soft-key bar at the bottom of the screen and the brightness pop-up.
#pragma once
#include <atomic>
#include <cstdint>

// Brightness levels: byte 0 keypad level 0..3, byte 1 display level 0..10.
extern std::atomic<uint8_t> display_levels[2];
inline std::atomic<uint8_t>& keypad_level = display_levels[0];
inline std::atomic<uint8_t>& display_level = display_levels[1];

void panel_step();        // main loop, after the key dispatch
void panel_slide_tick();  // every tick, first thing
void panel_timer_tick();  // every 100 ms
