// The seam: the five buttons as the host drives them. The host sets and
// clears levels from any thread; the tick samples them.
#pragma once
#include <cstdint>

constexpr uint8_t KEY_COUNT = 5;

uint8_t key_host_levels();             // bit k: button k is down
void key_host_press(uint8_t buttons);  // these buttons go down
void key_host_release(uint8_t buttons);
void key_host_clear();                 // every button up
