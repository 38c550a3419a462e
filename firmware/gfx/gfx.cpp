// Two drawing layers, the compositor that merges them into one of two output
// buffers, and the hand-over of finished frames to the host.
#include "gfx/gfx.h"

#include <cstring>
#include <utility>

alignas(64) gfx_color gfx_overlay[GFX_WIDTH * GFX_LAYER_ROWS];
alignas(64) gfx_color gfx_background[GFX_WIDTH * GFX_LAYER_ROWS];
frame_buffer gfx_output[2];
gfx_draw_state gfx_state;
std::atomic<uint8_t> gfx_panel_reveal{0};

namespace {

// Output buffer the next composition writes; the host copies it after the flip.
std::atomic<uint8_t> output_index{1};
// Set by the host when it has copied a frame, cleared by the flip.
std::atomic<uint32_t> frame_taken{1};
// Set by the host when nobody will look at the next presentation's frame.
std::atomic<bool> skip_next_compose{false};

void put(gfx_color* layer, uint32_t x, uint32_t y, gfx_color c)
{
    layer[y * GFX_WIDTH + x] = c;
}

// Sets `count` pixels from `p` on. A colour whose two bytes agree (black,
// the key colour every page clears its overlay to) is a memset, the fastest
// store the C library has; any other a loop the compiler turns into wide
// stores.
void fill_run(gfx_color* __restrict p, size_t count, gfx_color color)
{
    if ((color >> 8) == (color & 0xFF)) {
        std::memset(p, color & 0xFF, count * sizeof(gfx_color));
        return;
    }
    for (size_t i = 0; i < count; ++i)
        p[i] = color;
}

void fill(gfx_color color, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    gfx_color* layer = gfx_current_layer();
    const uint32_t width = uint32_t(x2 - x1) + 1;
    gfx_color* first = layer + uint32_t(y1) * GFX_WIDTH + x1;
    if (width == GFX_WIDTH) {
        // Whole rows are one run: a page's overlay cleared to the key colour.
        fill_run(first, size_t(y2 - y1 + 1) * GFX_WIDTH, color);
        return;
    }
    for (uint32_t y = y1; y <= y2; ++y, first += GFX_WIDTH)
        fill_run(first, width, color);
}

bool line_color(gfx_color& color)
{
    switch (gfx_state.line_style) {
    case 0:
    case 1:
        color = gfx_state.text_color;
        return true;
    case 2:
        color = gfx_state.secondary_color;
        return true;
    default:
        return false;
    }
}

// Offsets across the line that a position also paints, by line width.
int line_reach()
{
    switch (gfx_state.line_width) {
    case 3:
        return 1;
    case 4:
        return 2;
    default:
        return 0;
    }
}

}  // namespace

void gfx_reset()
{
    std::memset(gfx_overlay, 0, sizeof gfx_overlay);
    std::memset(gfx_background, 0, sizeof gfx_background);
    std::memset(gfx_output, 0, sizeof gfx_output);
    gfx_state = gfx_draw_state{};
    gfx_panel_reveal.store(0, std::memory_order_relaxed);
    output_index.store(1, std::memory_order_relaxed);
    skip_next_compose.store(false, std::memory_order_relaxed);
    gfx_frame_taken();
}

gfx_color* gfx_current_layer()
{
    return gfx_state.layer == GFX_LAYER_BACKGROUND ? gfx_background : gfx_overlay;
}

void gfx_set_layer(uint16_t layer)
{
    if (layer <= 2)
        gfx_state.layer = layer;
}

void gfx_set_fill_color(gfx_color color)
{
    gfx_state.fill_color = color;
}

void gfx_set_text_color(uint16_t code)
{
    if (code == 0 || code == 1)
        gfx_state.text_color = 0x0000;
    else if (code == 2)
        gfx_state.text_color = GFX_GREY;
    else
        gfx_state.text_color = code;
}

void gfx_set_line_style(uint8_t style, uint8_t width)
{
    if (style < 10)
        gfx_state.line_style = style;
    if (width != 0)
        gfx_state.line_width = width;
}

void gfx_clear_layers()
{
    fill_run(gfx_overlay, GFX_WIDTH * GFX_HEIGHT, GFX_KEY_COLOR);
    fill_run(gfx_background, GFX_WIDTH * GFX_HEIGHT, gfx_state.fill_color);
}

void gfx_fill_rect(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    fill(gfx_state.fill_color, x1, y1, x2, y2);
}

void gfx_fill_bar(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    fill(gfx_state.text_color, x1, y1, x2, y2);
}

void gfx_draw_hline(uint16_t x1, uint16_t y, uint16_t x2)
{
    gfx_color color;
    if (!line_color(color))
        return;
    if (x2 < x1)
        std::swap(x1, x2);
    gfx_color* layer = gfx_current_layer();
    const int reach = line_reach();
    const bool dotted = gfx_state.line_style == 1;
    for (uint32_t x = x1; x <= x2; ++x) {
        if (dotted && (x & 1))
            continue;
        for (int d = -reach; d <= reach; ++d)
            put(layer, x, uint32_t(int(y) + d), color);
    }
}

void gfx_draw_vline(uint16_t x, uint16_t y1, uint16_t y2)
{
    if (x >= GFX_WIDTH)
        return;
    gfx_color color;
    if (!line_color(color))
        return;
    if (y2 < y1)
        std::swap(y1, y2);
    gfx_color* layer = gfx_current_layer();
    const int reach = line_reach();
    const bool dotted = gfx_state.line_style == 1;
    for (uint32_t y = y1; y <= y2; ++y) {
        if (dotted && (y & 1))
            continue;
        for (int d = -reach; d <= reach; ++d)
            put(layer, uint32_t(int(x) + d), y, color);
    }
}

void gfx_draw_rect(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    gfx_draw_hline(x1, y1, x2);
    gfx_draw_vline(x1, y1, y2);
    gfx_draw_hline(x1, y2, x2);
    gfx_draw_vline(x2, y1, y2);
}

namespace {

// Merges whole rows of overlay over background. Both pixels are loaded before
// the select and the count is fixed, so the compiler tests eight pixels
// against the key per vector compare (more than a pair per word) and the
// merge runs at the speed of memory.
void compose_rows(gfx_color* __restrict out, const gfx_color* __restrict over,
                  const gfx_color* __restrict back, int rows)
{
    const int n = rows * GFX_WIDTH;
    for (int i = 0; i < n; ++i) {
        const gfx_color b = back[i];
        const gfx_color o = over[i];
        out[i] = o == GFX_KEY_COLOR ? b : o;
    }
}

}  // namespace

void gfx_compose_into(frame_buffer& out, uint8_t reveal)
{
    if (reveal > GFX_REVEAL_MAX)
        reveal = GFX_REVEAL_MAX;
    const int r = 2 * reveal;
    const int upper_rows = GFX_HEIGHT - r;

    gfx_color* dst = out.pixels;
    // Screen rows above the panel: overlay over background, row for row.
    compose_rows(dst, gfx_overlay, gfx_background, upper_rows);
    // The bottom r rows show the panel area from its first row.
    if (r > 0)
        compose_rows(dst + upper_rows * GFX_WIDTH, gfx_overlay + GFX_PANEL_TOP * GFX_WIDTH,
                     gfx_background + upper_rows * GFX_WIDTH, r);
}

void gfx_compose()
{
    gfx_compose_into(gfx_output[output_index.load(std::memory_order_relaxed)],
                     gfx_panel_reveal.load(std::memory_order_relaxed));
}

void gfx_present()
{
    // Block until the host has taken the previous frame (no spinning). The
    // composition waits too: the buffer it writes is the one the host copies,
    // so composing first could tear the frame the host is still reading.
    uint32_t taken = frame_taken.load(std::memory_order_acquire);
    while (taken == 0) {
        frame_taken.wait(0, std::memory_order_acquire);
        taken = frame_taken.load(std::memory_order_acquire);
    }
    if (!skip_next_compose.exchange(false, std::memory_order_relaxed))
        gfx_compose();
    frame_taken.store(0, std::memory_order_relaxed);
    output_index.store(uint8_t(1 - output_index.load(std::memory_order_relaxed)),
                       std::memory_order_release);
}

const frame_buffer* gfx_front_buffer()
{
    return &gfx_output[output_index.load(std::memory_order_acquire)];
}

void gfx_frame_taken()
{
    frame_taken.store(1, std::memory_order_release);
    frame_taken.notify_all();
}

void gfx_skip_next_compose()
{
    skip_next_compose.store(true, std::memory_order_relaxed);
}

uint8_t gfx_output_index()
{
    return output_index.load(std::memory_order_acquire);
}
