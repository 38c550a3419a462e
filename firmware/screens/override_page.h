// PORT OVERRIDES and STARBOARD OVERRIDES: force a cabin circuit on or off
// for one hour.
#pragma once
#include <cstdint>

constexpr uint16_t OVERRIDE_SECONDS = 3600;

void port_overrides_enter();
void starboard_overrides_enter();
void override_countdown();  // once per second from the tick
