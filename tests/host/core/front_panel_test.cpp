#include "host/core/front_panel.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

TEST(FrontPanel, ClientAndScreenRectanglePerZoom)
{
    struct Case {
        int zoom;
        PanelSize client;
        PanelRect screen;
    };
    const Case cases[] = {
        {1, {407, 421}, {43, 60, 363, 300}},
        {2, {814, 842}, {86, 120, 726, 600}},
        {4, {1280, 960}, {0, 0, 1280, 960}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zoom);
        const PanelSize client = client_size(c.zoom);
        EXPECT_EQ(client, c.client);
        EXPECT_EQ(screen_rect(client.width, client.height, c.zoom), c.screen);
        // Below zoom 4 the screen is exactly 320 x 240 times the zoom.
        const PanelRect r = screen_rect(client.width, client.height, c.zoom);
        EXPECT_EQ(r.right - r.left, 320 * c.zoom);
        EXPECT_EQ(r.bottom - r.top, 240 * c.zoom);
    }
}

// Every zone's inclusive edges and the points just outside them.
TEST(FrontPanel, ButtonZonesAnswerExactlyTheirPixels)
{
    struct Zone {
        int x_from, x_to;
    };
    struct Case {
        int zoom, y_from, y_to;
        Zone zones[5];
    };
    const Case cases[] = {
        {1, 358, 384, {{66, 99}, {128, 161}, {189, 220}, {250, 282}, {312, 343}}},
        {2, 716, 769, {{132, 198}, {256, 322}, {377, 441}, {500, 565}, {623, 687}}},
    };
    for (const Case& c : cases) {
        const PanelSize s = client_size(c.zoom);
        for (int n = 1; n <= 5; ++n) {
            const Zone z = c.zones[n - 1];
            SCOPED_TRACE(::testing::Message() << "zoom " << c.zoom << " button " << n);
            for (int y : {c.y_from, c.y_to}) {
                EXPECT_EQ(button_at(s.width, s.height, z.x_from, y), n);
                EXPECT_EQ(button_at(s.width, s.height, z.x_to, y), n);
                EXPECT_EQ(button_at(s.width, s.height, z.x_from - 1, y), 0);
                EXPECT_EQ(button_at(s.width, s.height, z.x_to + 1, y), 0);
            }
            EXPECT_EQ(button_at(s.width, s.height, z.x_from, c.y_from - 1), 0);
            EXPECT_EQ(button_at(s.width, s.height, z.x_from, c.y_to + 1), 0);
        }
    }
    EXPECT_EQ(button_at(407, 421, 65, 370), 0);
    EXPECT_EQ(button_at(407, 421, 80, 357), 0);
    // At zoom 4 the zones lie over the lower part of the screen.
    EXPECT_EQ(button_at(1280, 960, 250, 850), 1);
}

TEST(FrontPanel, TooltipShowsScreenPixelsAndNothingOffTheScreen)
{
    struct Case {
        int zoom, x, y;
        const char* text;  // nullptr: off the screen
    };
    const Case cases[] = {
        {1, 43, 60, "X:0 Y:0"},     {1, 362, 299, "X:319 Y:239"}, {2, 87, 121, "X:0 Y:0"},
        {2, 725, 599, "X:319 Y:239"}, {4, 1279, 0, "X:319 Y:0"},    {1, 42, 60, nullptr},
        {1, 363, 100, nullptr},     {1, 100, 300, nullptr},       {1, 100, 59, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "zoom " << c.zoom << " at " << c.x << "," << c.y);
        const PanelSize s = client_size(c.zoom);
        const auto p = screen_pixel_at(screen_rect(s.width, s.height, c.zoom), c.zoom, c.x, c.y);
        if (!c.text) {
            EXPECT_FALSE(p.has_value());
            continue;
        }
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(tooltip_text(*p), c.text);
    }
}

TEST(FrontPanel, GridLinesCountFromTheBottomRow)
{
    const int w = 320, h = 240;
    const std::vector<uint32_t> g = grid_image(1, 20);
    ASSERT_EQ(g.size(), size_t(w * h));
    auto at = [&](int x, int y) { return g[size_t(y) * w + x]; };
    // Horizontal dotted lines on image rows 239, 219, ..., 19; never row 0.
    for (int y : {239, 219, 119, 19}) {
        EXPECT_EQ(at(0, y), GRID_PIXEL) << y;
        EXPECT_EQ(at(1, y), 0u) << y;
        EXPECT_EQ(at(318, y), GRID_PIXEL) << y;
    }
    for (int x = 0; x < w; ++x)
        EXPECT_EQ(at(x, 0), 0u) << x;
    // Vertical dotted lines every 20 columns on rows of even memory index
    // (memory row r is image row 239 - r): image row 237 is r = 2.
    EXPECT_EQ(at(0, 237), GRID_PIXEL);
    EXPECT_EQ(at(20, 237), GRID_PIXEL);
    EXPECT_EQ(at(300, 237), GRID_PIXEL);
    EXPECT_EQ(at(1, 237), 0u);
    EXPECT_EQ(at(20, 238), 0u);  // r = 1: odd
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(at(w - 1, y), 0u) << y;
    // At zoom 2 the cells are 40 pixels: lines on image rows 479, 439, ...
    const std::vector<uint32_t> g2 = grid_image(2, 20);
    EXPECT_EQ(g2[size_t(439) * 640], GRID_PIXEL);
    EXPECT_EQ(g2[size_t(439) * 640 + 2], GRID_PIXEL);
    EXPECT_EQ(g2[size_t(437) * 640 + 40], GRID_PIXEL);
    EXPECT_EQ(g2[size_t(437) * 640 + 20], 0u);
}

}  // namespace
}  // namespace norvane

namespace norvane {
namespace {

// The rectangle drawn pressed is exactly the set of pixels that press it.
TEST(FrontPanel, ButtonRectangleCoversExactlyItsZone)
{
    for (const int zoom : {1, 2}) {
        const PanelSize c = client_size(zoom);
        for (int n = 1; n <= 5; ++n) {
            SCOPED_TRACE(::testing::Message() << "zoom " << zoom << " button " << n);
            const PanelRect r = button_rect(c.width, c.height, n);
            ASSERT_LT(r.left, r.right);
            ASSERT_LT(r.top, r.bottom);
            for (int y = r.top - 1; y <= r.bottom; ++y)
                for (int x = r.left - 1; x <= r.right; ++x) {
                    const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                    EXPECT_EQ(button_at(c.width, c.height, x, y) == n, inside) << x << "," << y;
                }
        }
    }
    EXPECT_EQ(button_rect(407, 421, 0), PanelRect{});
    EXPECT_EQ(button_tooltip_text(3), "Button 3 (F3)");
    EXPECT_EQ(button_tooltip_text(6), "");
}

}  // namespace
}  // namespace norvane
