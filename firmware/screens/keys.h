// Front-panel key engine: five buttons sampled on the 10 ms tick, dispatched
// to press / release / hold handlers by the main loop.
#pragma once
#include <atomic>
#include <cstdint>

#include "seam/buttons.h"  // KEY_COUNT, the host's button levels

struct gfx_image;

using key_code = uint8_t;
using key_handler = void (*)();

constexpr uint8_t KEY_DEFAULT_HOLD_TIME = 20;  // 100 ms steps: 2.0 s

// One soft key. The handlers are installed by the page layouts, which run on
// the main loop and, once, from the tick (the first model step enters the
// start-up page), so each slot is an atomic pointer.
struct softkey {
    std::atomic<key_handler> on_press{nullptr};
    std::atomic<key_handler> on_release{nullptr};
    std::atomic<key_handler> on_hold{nullptr};
    std::atomic<const gfx_image*> label{nullptr};
};

extern softkey hmi_softkeys[KEY_COUNT];
extern std::atomic<uint8_t> key_hold_time[KEY_COUNT];

// Masks over the five buttons (bit k = button k). Bytes that both contexts
// change are atomics updated with fetch_or / fetch_and.
extern std::atomic<uint8_t> key_input_mask;  // raw levels, written by the host
extern uint8_t key_prev;                     // tick only
extern std::atomic<uint8_t> key_new;
extern std::atomic<uint8_t> key_taken;
extern std::atomic<uint8_t> key_long;
extern std::atomic<uint8_t> key_released;
extern std::atomic<uint8_t> key_hold_timer[KEY_COUNT];
extern uint8_t key_hold_armed;  // main loop only

void key_sample();  // tick context
void key_scan();    // main loop: at most one handler per call
void key_hold_countdown();  // tick context, every 100 ms: the hold timers count down one step
void key_reset_state();  // clears the masks that app_start clears
void key_reset();        // every record of the engine back to its start value

void key_set_press_handler(key_handler handler, key_code key);
void key_set_release_handler(key_handler handler, key_code key);
void key_set_hold_handler(key_handler handler, key_code key, uint8_t hold_time);
void key_clear_handlers();
void key_set_label(const gfx_image* label, key_code key);
