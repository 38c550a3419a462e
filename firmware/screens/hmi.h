// Screen framework: the page ring, page entry, key layouts and the repaint
// pass. The first model step enters the start-up page from the tick, so the
// screen state is atomic.
#pragma once
#include <atomic>
#include <cstdint>

using hmi_fn = void (*)();

extern std::atomic<uint8_t> hmi_page_index;  // ring position 0..5
extern std::atomic<uint8_t> hmi_sel;         // selected row of a list page
extern std::atomic<uint8_t> hmi_item_count;  // rows of the current list page
extern std::atomic<hmi_fn> hmi_draw_full;
extern std::atomic<hmi_fn> hmi_draw_pass;
extern std::atomic<hmi_fn> hmi_overlay;
extern std::atomic<hmi_fn> hmi_restore_keys;
extern std::atomic<bool> hmi_redraw;
extern std::atomic<bool> hmi_overlay_clear;

void hmi_noop();
void hmi_set_page_draw(hmi_fn full, hmi_fn pass);
void hmi_set_overlay(hmi_fn fn);
void hmi_set_restore(hmi_fn fn);
void hmi_run_pass();  // main loop, once per step
