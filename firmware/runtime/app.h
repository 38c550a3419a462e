// The firmware's two execution contexts: the 25 ms main-loop step and the
// 10 ms tick with its dividers.
#pragma once
#include <cstdint>

#include "seam/unit.h"  // app_init, app_start, app_main_step, sys_tick, app_reset

constexpr uint32_t APP_TEST_FRAME_ID = 0x421;  // sent on port 0 every 100 ms

// The buzzer countdown in ticks; a beep drives the buzzer output with 1000.
extern uint8_t sys_buzzer_countdown;
