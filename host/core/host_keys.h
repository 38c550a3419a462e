// The five buttons as the host holds them, between the window's input events
// and the firmware's 10 ms sample of key_input_mask. A press stays down, as
// the unit sees it, until a whole tick has sampled it, so a click whose press
// and release both fall between two ticks (a touchpad tap, automation) is
// still seen as one press and one release.
#pragma once
#include <cstdint>

namespace norvane {

// Button 1..5 (F1..F5) goes down or up. A release of a press no tick has
// sampled yet waits for host_keys_after_tick. Other numbers are ignored.
void host_key_set(int button, bool down);
// Lets go of every button the host holds (the window lost the keyboard, a
// menu or dialog opened): the unit sees each of them released.
void host_keys_release_all();
// The buttons the host holds down now (bit n-1 for button n).
uint8_t host_keys_held();

// Tick side, around each sys_tick: before notes the presses the tick is about
// to sample; after applies the releases that waited for that sample.
void host_keys_before_tick();
void host_keys_after_tick();

// Back to no button held and nothing waiting.
void host_keys_reset();

}  // namespace norvane
