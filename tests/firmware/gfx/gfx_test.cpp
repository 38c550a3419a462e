// Layers, primitives, the compositor and the frame hand-over.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "gfx/gfx.h"

namespace {

gfx_color overlay_at(int x, int y)
{
    return gfx_overlay[y * GFX_WIDTH + x];
}

gfx_color background_at(int x, int y)
{
    return gfx_background[y * GFX_WIDTH + x];
}

void clear_both(gfx_color over, gfx_color back)
{
    for (int i = 0; i < GFX_WIDTH * GFX_LAYER_ROWS; ++i) {
        gfx_overlay[i] = over;
        gfx_background[i] = back;
    }
}

TEST(Compositor, RevealZeroShowsOverlayOverBackgroundOnAllRows)
{
    clear_both(GFX_KEY_COLOR, 0);
    for (int i = 0; i < GFX_WIDTH * GFX_LAYER_ROWS; ++i)
        gfx_background[i] = gfx_color(i % 997);
    gfx_overlay[5 * GFX_WIDTH + 7] = 0xFFFE;  // near-white is visible
    gfx_overlay[239 * GFX_WIDTH + 319] = 0x0000;
    gfx_overlay[240 * GFX_WIDTH + 3] = 0x1234;  // panel area: hidden at reveal 0
    frame_buffer out;
    gfx_compose_into(out, 0);
    for (int y = 0; y < GFX_HEIGHT; ++y)
        for (int x = 0; x < GFX_WIDTH; ++x) {
            const gfx_color o = overlay_at(x, y);
            ASSERT_EQ(out.pixels[y * GFX_WIDTH + x], o == GFX_KEY_COLOR ? background_at(x, y) : o)
                << x << "," << y;
        }
    EXPECT_EQ(out.pixels[5 * GFX_WIDTH + 7], 0xFFFE);
}

TEST(Compositor, FullRevealShowsThePanelAreaOverTheLastRows)
{
    clear_both(0x1111, 0x2222);
    for (int y = 240; y < 284; ++y)
        for (int x = 0; x < GFX_WIDTH; ++x)
            gfx_overlay[y * GFX_WIDTH + x] = (x % 2) ? GFX_KEY_COLOR : gfx_color(y);
    for (int y = 0; y < GFX_HEIGHT; ++y)
        for (int x = 0; x < GFX_WIDTH; ++x)
            gfx_background[y * GFX_WIDTH + x] = gfx_color(0x8000 | y);
    frame_buffer out;
    gfx_compose_into(out, 22);
    EXPECT_EQ(out.pixels[195 * GFX_WIDTH + 1], 0x1111);
    for (int y = 196; y < 240; ++y) {
        EXPECT_EQ(out.pixels[y * GFX_WIDTH + 0], gfx_color(240 + (y - 196))) << y;
        // Key-coloured panel pixels let background rows 196..239 show.
        EXPECT_EQ(out.pixels[y * GFX_WIDTH + 1], gfx_color(0x8000 | y)) << y;
    }
    // Reveal 3: six panel rows from its first row.
    gfx_compose_into(out, 3);
    EXPECT_EQ(out.pixels[233 * GFX_WIDTH + 0], 0x1111);
    EXPECT_EQ(out.pixels[234 * GFX_WIDTH + 0], 240);
    EXPECT_EQ(out.pixels[239 * GFX_WIDTH + 0], 245);
}

TEST(Primitives, FillsTakeCornersInEitherOrder)
{
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    clear_both(0, 0);
    gfx_set_fill_color(0x1234);
    gfx_fill_rect(319, 239, 0, 0);
    for (int y = 0; y < GFX_HEIGHT; ++y)
        for (int x = 0; x < GFX_WIDTH; ++x)
            ASSERT_EQ(background_at(x, y), 0x1234);
    EXPECT_EQ(background_at(0, 240), 0);

    clear_both(0, 0);
    gfx_fill_rect(17, 30, 17, 10);  // one column
    for (int y = 0; y < 40; ++y)
        EXPECT_EQ(background_at(17, y), (y >= 10 && y <= 30) ? 0x1234 : 0) << y;
    EXPECT_EQ(background_at(16, 20), 0);
    EXPECT_EQ(background_at(18, 20), 0);

    gfx_set_text_color(0x0F0F);
    gfx_fill_bar(3, 5, 2, 4);
    EXPECT_EQ(background_at(2, 4), 0x0F0F);
    EXPECT_EQ(background_at(3, 5), 0x0F0F);
    EXPECT_EQ(background_at(4, 5), 0);
}

TEST(Primitives, LayersAndColourCodes)
{
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_set_layer(7);  // ignored
    EXPECT_EQ(gfx_state.layer, GFX_LAYER_OVERLAY_BLEND);
    gfx_set_layer(0);
    EXPECT_EQ(gfx_current_layer(), gfx_overlay);
    gfx_set_layer(1);
    EXPECT_EQ(gfx_current_layer(), gfx_background);
    gfx_set_layer(2);
    EXPECT_EQ(gfx_current_layer(), gfx_overlay);

    const std::pair<uint16_t, gfx_color> codes[] = {{0, 0}, {1, 0}, {2, 0x7BEF}, {3, 3}, {0xF800, 0xF800}};
    for (const auto& [code, colour] : codes) {
        gfx_set_text_color(code);
        EXPECT_EQ(gfx_state.text_color, colour) << code;
    }
}

TEST(Primitives, LineStylesAndWidths)
{
    gfx_set_layer(GFX_LAYER_OVERLAY);
    gfx_set_text_color(0x0003);
    clear_both(GFX_KEY_COLOR, 0);

    gfx_set_line_style(1, 1);  // dotted: even positions only
    gfx_draw_hline(13, 50, 3);
    for (int x = 2; x <= 14; ++x)
        EXPECT_EQ(overlay_at(x, 50), (x >= 3 && x <= 13 && x % 2 == 0) ? 3 : GFX_KEY_COLOR) << x;

    gfx_set_line_style(0, 4);  // five pixels wide
    gfx_draw_hline(100, 100, 110);
    for (int y = 97; y <= 103; ++y)
        EXPECT_EQ(overlay_at(105, y), (y >= 98 && y <= 102) ? 3 : GFX_KEY_COLOR) << y;

    gfx_set_line_style(2, 3);  // three wide in the secondary colour
    gfx_draw_vline(200, 20, 10);
    for (int x = 198; x <= 202; ++x)
        EXPECT_EQ(overlay_at(x, 15), (x >= 199 && x <= 201) ? GFX_SECONDARY_COLOR : GFX_KEY_COLOR) << x;

    gfx_set_line_style(10, 0);  // neither stored
    EXPECT_EQ(gfx_state.line_style, 2);
    EXPECT_EQ(gfx_state.line_width, 3);
    gfx_set_line_style(5, 1);  // an unknown style draws nothing
    gfx_draw_hline(0, 5, 319);
    EXPECT_EQ(overlay_at(0, 5), GFX_KEY_COLOR);

    gfx_set_line_style(0, 1);
    std::vector<gfx_color> before(gfx_overlay, gfx_overlay + GFX_WIDTH * GFX_LAYER_ROWS);
    gfx_draw_vline(320, 0, 239);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), gfx_overlay));

    gfx_draw_rect(10, 10, 20, 15);
    EXPECT_EQ(overlay_at(10, 12), 3);
    EXPECT_EQ(overlay_at(20, 12), 3);
    EXPECT_EQ(overlay_at(15, 10), 3);
    EXPECT_EQ(overlay_at(15, 15), 3);
    EXPECT_EQ(overlay_at(15, 12), GFX_KEY_COLOR);
}

TEST(Primitives, ClearLeavesThePanelArea)
{
    // 0x3333 is stored byte-wise, 0x1234 pixel by pixel.
    for (const gfx_color fill : {gfx_color(0x3333), gfx_color(0x1234)}) {
        SCOPED_TRACE(fill);
        clear_both(0x0101, 0x0202);
        gfx_set_fill_color(fill);
        gfx_clear_layers();
        for (int y = 0; y < GFX_LAYER_ROWS; ++y)
            for (int x = 0; x < GFX_WIDTH; ++x) {
                const bool screen = y < GFX_HEIGHT;
                ASSERT_EQ(overlay_at(x, y), screen ? GFX_KEY_COLOR : 0x0101) << x << "," << y;
                ASSERT_EQ(background_at(x, y), screen ? fill : 0x0202) << x << "," << y;
            }
    }
}

// Every rectangle shape, in colours whose two bytes agree (a byte-wise store)
// and colours whose bytes differ, changes exactly its own pixels.
TEST(Primitives, FillsChangeExactlyTheirRectangle)
{
    struct Case { uint16_t layer, x1, y1, x2, y2; gfx_color color; };
    const Case cases[] = {
        {GFX_LAYER_OVERLAY_BLEND, 0, 0, 319, 239, GFX_KEY_COLOR},  // a page's transparent overlay
        {GFX_LAYER_OVERLAY_BLEND, 0, 0, 319, 239, 0x1234},
        {GFX_LAYER_BACKGROUND, 319, 287, 0, 240, 0x0000},        // the panel rows, corners swapped
        {GFX_LAYER_OVERLAY, 0, 17, 319, 17, 0xF800},              // one whole row
        {GFX_LAYER_OVERLAY, 80, 27, 240, 45, GFX_KEY_COLOR},      // a label strip
        {GFX_LAYER_OVERLAY, 81, 27, 240, 45, 0xABCD},             // odd start
        {GFX_LAYER_BACKGROUND, 1, 1, 318, 238, 0x7BEF},           // all but the border
        {GFX_LAYER_BACKGROUND, 300, 5, 319, 6, 0xC618},           // up to the right edge
        {GFX_LAYER_OVERLAY, 9, 9, 9, 9, 0x0001},                  // one pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2 << " colour "
                                          << c.color);
        clear_both(0x5A5A, 0xA5A5);
        gfx_set_layer(c.layer);
        gfx_set_fill_color(c.color);
        gfx_fill_rect(c.x1, c.y1, c.x2, c.y2);
        const gfx_color* drawn = c.layer == GFX_LAYER_BACKGROUND ? gfx_background : gfx_overlay;
        const gfx_color* other = c.layer == GFX_LAYER_BACKGROUND ? gfx_overlay : gfx_background;
        const gfx_color untouched = c.layer == GFX_LAYER_BACKGROUND ? 0xA5A5 : 0x5A5A;
        const int left = std::min(c.x1, c.x2), right = std::max(c.x1, c.x2);
        const int top = std::min(c.y1, c.y2), bottom = std::max(c.y1, c.y2);
        for (int y = 0; y < GFX_LAYER_ROWS; ++y)
            for (int x = 0; x < GFX_WIDTH; ++x) {
                const bool inside = x >= left && x <= right && y >= top && y <= bottom;
                ASSERT_EQ(drawn[y * GFX_WIDTH + x], inside ? c.color : untouched) << x << "," << y;
                ASSERT_EQ(other[y * GFX_WIDTH + x], c.layer == GFX_LAYER_BACKGROUND ? 0x5A5A : 0xA5A5);
            }
    }
}

TEST(FrameHandOver, FirstPresentReturnsSecondWaitsForTheHost)
{
    clear_both(GFX_KEY_COLOR, 0x00AA);
    EXPECT_EQ(gfx_output_index(), 1);
    gfx_present();  // "taken" starts set
    EXPECT_EQ(gfx_output_index(), 0);
    // The host now shows buffer 0 while buffer 1 holds the new frame.
    EXPECT_EQ(gfx_output[1].pixels[0], 0x00AA);

    std::atomic<bool> presented{false};
    std::thread firmware([&] {
        gfx_present();
        presented = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(presented.load());
    EXPECT_EQ(gfx_front_buffer(), &gfx_output[0]);
    gfx_frame_taken();
    firmware.join();
    EXPECT_TRUE(presented.load());
    EXPECT_EQ(gfx_front_buffer(), &gfx_output[1]);
}

// A presentation nobody will look at flips like any other but leaves the
// buffer as it was; the next one composes again.
TEST(FrameHandOver, SkippedCompositionFlipsAndLeavesTheBuffer)
{
    gfx_frame_taken();
    clear_both(GFX_KEY_COLOR, 0x0C0C);
    const uint8_t first = gfx_output_index();
    gfx_output[first].pixels[0] = 0x0BAD;
    gfx_skip_next_compose();
    gfx_present();
    EXPECT_EQ(gfx_output_index(), 1 - first);
    EXPECT_EQ(gfx_output[first].pixels[0], 0x0BAD);

    gfx_frame_taken();
    gfx_output[1 - first].pixels[0] = 0x0BAD;
    gfx_present();
    EXPECT_EQ(gfx_output_index(), first);
    EXPECT_EQ(gfx_output[1 - first].pixels[0], 0x0C0C);
    gfx_frame_taken();
}

}  // namespace
