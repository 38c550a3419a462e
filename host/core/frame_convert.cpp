#include "host/core/frame_convert.h"

#include <cstring>

namespace norvane {
namespace {

void convert_row(const gfx_color* __restrict src, uint32_t* __restrict dst)
{
    for (int x = 0; x < GFX_WIDTH; ++x) {
        const uint32_t p = src[x] == 0x8000 ? 0x8001u : src[x];
        dst[x] = 0xFF000000u | ((p >> 11) << 19) | (((p >> 5) & 0x3Fu) << 10) | ((p & 0x1Fu) << 3);
    }
}

}  // namespace

void convert_frame_bottom_up(const gfx_color* frame, uint8_t* out)
{
    uint32_t row[GFX_WIDTH];
    for (int y = 0; y < GFX_HEIGHT; ++y) {
        convert_row(frame + y * GFX_WIDTH, row);
        std::memcpy(out + size_t(GFX_HEIGHT - 1 - y) * GFX_WIDTH * 4, row, sizeof row);
    }
}

void convert_frame_top_down(const gfx_color* frame, uint8_t* out)
{
    uint32_t row[GFX_WIDTH];
    for (int y = 0; y < GFX_HEIGHT; ++y) {
        convert_row(frame + y * GFX_WIDTH, row);
        std::memcpy(out + size_t(y) * GFX_WIDTH * 4, row, sizeof row);
    }
}

}  // namespace norvane
