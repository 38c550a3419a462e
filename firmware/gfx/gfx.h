// Drawing layers, output buffers, the compositor and the frame hand-over.
#pragma once
#include <atomic>
#include <cstdint>

using gfx_color = uint16_t;

constexpr int GFX_WIDTH = 320;
constexpr int GFX_HEIGHT = 240;
constexpr int GFX_LAYER_ROWS = 288;   // 240 screen rows, 44 panel rows, 4 spare
constexpr int GFX_PANEL_TOP = 240;
constexpr int GFX_PANEL_ROWS = 44;
constexpr uint8_t GFX_REVEAL_MAX = 22;  // units of two rows

constexpr gfx_color GFX_KEY_COLOR = 0xFFFF;
constexpr gfx_color GFX_SECONDARY_COLOR = 0xC618;
constexpr gfx_color GFX_GREY = 0x7BEF;

constexpr uint16_t GFX_LAYER_OVERLAY = 0;
constexpr uint16_t GFX_LAYER_BACKGROUND = 1;
constexpr uint16_t GFX_LAYER_OVERLAY_BLEND = 2;

struct alignas(64) frame_buffer {
    gfx_color pixels[GFX_WIDTH * GFX_HEIGHT];
};

extern gfx_color gfx_overlay[GFX_WIDTH * GFX_LAYER_ROWS];     // layer 0
extern gfx_color gfx_background[GFX_WIDTH * GFX_LAYER_ROWS];  // layer 1
extern frame_buffer gfx_output[2];

struct gfx_draw_state {
    uint16_t layer = GFX_LAYER_OVERLAY_BLEND;
    gfx_color fill_color = 0xFFFF;
    gfx_color text_color = 0x0000;
    gfx_color key_color = GFX_KEY_COLOR;
    gfx_color secondary_color = GFX_SECONDARY_COLOR;
    uint8_t line_style = 0;  // 0 solid, 1 dotted, 2 solid in the secondary colour
    uint8_t line_width = 0;  // 3: three pixels, 4: five pixels, else one
    uint8_t blit_mode = 1;        // images: 1 copy all, 0 skip key-coloured pixels
    uint8_t bitmap_opaque = 1;    // bitmaps: paint clear bits too
};
extern gfx_draw_state gfx_state;

// Lowered by the tick, read once per composition by the main loop.
extern std::atomic<uint8_t> gfx_panel_reveal;

// Layers and output buffers black, the drawing state, the reveal and the
// hand-over as at power-on (output buffer 1 next, the last frame taken).
void gfx_reset();

// The layer the current drawing state selects (0 and 2 are the overlay).
gfx_color* gfx_current_layer();

void gfx_set_layer(uint16_t layer);
void gfx_set_fill_color(gfx_color color);
void gfx_set_text_color(uint16_t code);
void gfx_set_line_style(uint8_t style, uint8_t width);
void gfx_clear_layers();
void gfx_fill_rect(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);
void gfx_fill_bar(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);
void gfx_draw_hline(uint16_t x1, uint16_t y, uint16_t x2);
void gfx_draw_vline(uint16_t x, uint16_t y1, uint16_t y2);
void gfx_draw_rect(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);

// Composes both layers into `out` with the given reveal (0..22).
void gfx_compose_into(frame_buffer& out, uint8_t reveal);
void gfx_compose();  // into output buffer `index`, reveal read once
void gfx_present();  // wait until the host took the last frame, compose, flip
const frame_buffer* gfx_front_buffer();
void gfx_frame_taken();
// The host tells the next gfx_present that nobody will look at its frame: that
// presentation waits and flips as usual but composes nothing, so the output
// buffer keeps an older picture. The window takes every frame and never asks
// this; the virtual-time runner does for frames no screenshot will show.
void gfx_skip_next_compose();
uint8_t gfx_output_index();
