// RGB565 image records and two-plane bitmaps.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"

constexpr uint32_t GFX_IMAGE_RGB565 = 0;

// Kind-0 record: kind, width, height, then width * height pixels, top row
// first. The pixels follow the header in memory.
struct gfx_image {
    uint32_t kind;
    uint32_t width;
    uint32_t height;
};

// Draws a kind-0 record or a one/two-plane bitmap (told apart by the first
// byte) with its top-left corner at (x, y).
void gfx_draw_image(uint16_t x, uint16_t y, const void* record);
void gfx_set_blit_mode(uint8_t mode);
void gfx_set_bitmap_opaque(uint8_t flag);
