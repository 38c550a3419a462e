// Screen framework: the page ring, page entry, key layouts and the repaint
// pass. The first model step enters the start-up page from the tick, so the
// screen state is atomic.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "screens/keys.h"

struct gfx_image;

using hmi_fn = void (*)();

extern std::atomic<uint8_t> hmi_page_index;  // ring position 0..HMI_RING_SIZE - 1
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
void hmi_reset();     // the framework's records back to their start values

// The list pages' row selection on hmi_sel over hmi_item_count rows, with
// wrap-around (an empty list selects row 255 going back).
void sel_next();
void sel_prev();

// The ring of main pages the outer buttons walk both ways: the entry
// functions in ring order, listed in page_table.cpp (the circuit pages, the
// tank page, the module status page).
constexpr uint8_t HMI_RING_SIZE = 6;
extern const std::array<hmi_fn, HMI_RING_SIZE> hmi_ring;
void page_next();
void page_prev();
void page_show_current();

// One button of a page's key layout: the label shown over it and the
// handlers the page gives it (none for an empty kind).
struct hmi_key {
    const gfx_image* label;
    hmi_fn press;
    hmi_fn release;
    hmi_fn hold;
    uint8_t hold_time;  // 100 ms steps, only with a hold handler
};

// A page's key layout: clears every handler, keeps the soft-key bar shown
// and installs the five buttons. A button without any handler gets hmi_noop
// as its press handler, so a press on it does nothing.
void hmi_install_keys(const hmi_key (&keys)[KEY_COUNT]);

// Entering a page: its key layout once, the layout kept for the panel to
// re-install, its draw functions, no overlay, and a full repaint due.
void hmi_enter_page(hmi_fn key_layout, hmi_fn full, hmi_fn pass);
// A list page also starts on its first row.
void hmi_enter_list_page(hmi_fn key_layout, hmi_fn full, hmi_fn pass, uint8_t rows);

// The full repaint every page but the version page shares: the black page
// background, and layer 2 left selected with the fill colour transparent so
// that each pass draws over it and erases with a fill.
void hmi_static_draw();

// List pages: rows 23 pixels apart starting at y 30 under a centred title.
constexpr int HMI_LIST_TOP = 30;
constexpr int HMI_LIST_PITCH = 23;
int hmi_list_row_y(uint8_t row);  // top of a row, limited to the screen

// Erases the page area and draws the title, the highlight around the
// selected row and the row labels.
void hmi_draw_list(const char* title, const char* const* labels, uint8_t rows);
// The ON or OFF badge of a row, its left edge at x.
void hmi_draw_badge(uint16_t x, uint8_t row, bool on);
