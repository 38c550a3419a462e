#include "gfx/image.h"

void gfx_draw_image(uint16_t, uint16_t, const void*) {}

void gfx_set_blit_mode(uint8_t mode)
{
    gfx_state.blit_mode = mode;
}

void gfx_set_bitmap_opaque(uint8_t flag)
{
    gfx_state.bitmap_opaque = flag;
}
