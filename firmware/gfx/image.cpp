// Image records: RGB565 copies in the display's own format, and one- or
// two-plane 1-bit bitmaps drawn in the text, fill and secondary colours.
#include "gfx/image.h"

namespace {

void draw_rgb565(uint16_t x, uint16_t y, const gfx_image* image)
{
    const uint8_t mode = gfx_state.blit_mode;
    if (mode > 1)
        return;
    gfx_color* layer = gfx_state.layer == GFX_LAYER_BACKGROUND ? gfx_background : gfx_overlay;
    const auto* pixels =
        reinterpret_cast<const gfx_color*>(reinterpret_cast<const uint8_t*>(image) + sizeof(gfx_image));
    const uint32_t width = image->width;
    const gfx_color key = gfx_state.key_color;
    gfx_color* row = layer + uint32_t(y) * GFX_WIDTH + x;
    for (uint32_t r = 0; r < image->height; ++r, row += GFX_WIDTH, pixels += width) {
        if (mode == 1) {
            for (uint32_t c = 0; c < width; ++c)
                row[c] = pixels[c];
        } else {
            for (uint32_t c = 0; c < width; ++c)
                if (pixels[c] != key)
                    row[c] = pixels[c];
        }
    }
}

// Rows are stored bottom row first, the most significant bit leftmost.
void draw_bitmap(uint16_t x, uint16_t y, const uint8_t* record)
{
    const uint8_t kind = record[0];
    const uint32_t rows = record[1];
    const uint32_t bytes_per_row = record[2];
    const uint8_t* plane_a = record + 3;
    const uint8_t* plane_b = plane_a + rows * bytes_per_row;
    const gfx_color text = gfx_state.text_color;
    const gfx_color fill = gfx_state.fill_color;
    const gfx_color key = gfx_state.key_color;
    const gfx_color secondary = gfx_state.secondary_color;
    const bool opaque = gfx_state.bitmap_opaque != 0;

    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t offset = (uint32_t(y) + rows - 1 - r) * GFX_WIDTH + x;
        gfx_color* over = gfx_overlay + offset;
        gfx_color* back = gfx_background + offset;
        for (uint32_t i = 0; i < bytes_per_row; ++i) {
            const uint8_t a = plane_a[r * bytes_per_row + i];
            const uint8_t b = kind >= 2 ? plane_b[r * bytes_per_row + i] : 0;
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const uint8_t mask = uint8_t(0x80u >> bit);
                const uint32_t c = 8 * i + bit;
                if (kind == 1) {
                    // Grey one-plane bitmaps belong to the page's background.
                    const bool grey = text == GFX_GREY;
                    gfx_color* dst = grey ? back : over;
                    if (a & mask)
                        dst[c] = text;
                    else if (opaque)
                        dst[c] = grey ? fill : key;
                } else if (b & mask) {
                    // The secondary colour shows through a transparent overlay.
                    back[c] = secondary;
                    over[c] = key;
                } else if (a & mask) {
                    over[c] = text;
                    back[c] = fill;
                } else if (opaque) {
                    over[c] = key;
                    back[c] = fill;
                }
            }
        }
    }
}

}  // namespace

void gfx_draw_image(uint16_t x, uint16_t y, const void* record)
{
    const auto* bytes = static_cast<const uint8_t*>(record);
    if (bytes[0] == 0)
        draw_rgb565(x, y, static_cast<const gfx_image*>(record));
    else
        draw_bitmap(x, y, bytes);
}

void gfx_set_blit_mode(uint8_t mode)
{
    gfx_state.blit_mode = mode;
}

void gfx_set_bitmap_opaque(uint8_t flag)
{
    gfx_state.bitmap_opaque = flag;
}
