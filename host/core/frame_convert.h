#pragma once
#include <cstddef>
#include <cstdint>

#include "seam/frame.h"

namespace norvane {

constexpr size_t SCREEN_IMAGE_BYTES = size_t(GFX_WIDTH) * GFX_HEIGHT * 4;

// One RGB565 pixel as the window shows it: B, G, R, A bytes with the low bits
// left at zero. 0x8000 is shown as 0x8001 (the unit's display does the same).
inline uint32_t convert_pixel(gfx_color p)
{
    if (p == 0x8000)
        p = 0x8001;
    const uint32_t r = uint32_t(p >> 11) << 3;
    const uint32_t g = uint32_t((p >> 5) & 0x3F) << 2;
    const uint32_t b = uint32_t(p & 0x1F) << 3;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// Converts a 320 x 240 frame into a bottom-up 32-bit image (B, G, R, A per
// pixel): frame row 0 becomes the last row in memory, so the picture is upright.
void convert_frame_bottom_up(const gfx_color* frame, uint8_t* out);

// The same picture top row first, for PNG files and Qt images.
void convert_frame_top_down(const gfx_color* frame, uint8_t* out);

}  // namespace norvane
