#include "gfx/image.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "gfx/assets.h"

namespace {

// A kind-0 record laid out like the generated assets.
template <uint32_t W, uint32_t H>
struct test_image {
    gfx_image head{GFX_IMAGE_RGB565, W, H};
    gfx_color pixels[W * H];
    explicit test_image(gfx_color color) { std::fill(std::begin(pixels), std::end(pixels), color); }
};

gfx_color& over(int x, int y) { return gfx_overlay[y * GFX_WIDTH + x]; }
gfx_color& back(int x, int y) { return gfx_background[y * GFX_WIDTH + x]; }

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::fill(std::begin(gfx_overlay), std::end(gfx_overlay), gfx_color(0x1111));
        std::fill(std::begin(gfx_background), std::end(gfx_background), gfx_color(0x2222));
    }

    // Pixels of a layer that differ from its fill, as a box.
    static void box_of(const gfx_color* layer, gfx_color fill, int& x1, int& y1, int& x2, int& y2)
    {
        x1 = y1 = 1000;
        x2 = y2 = -1;
        for (int y = 0; y < GFX_LAYER_ROWS; ++y)
            for (int x = 0; x < GFX_WIDTH; ++x)
                if (layer[y * GFX_WIDTH + x] != fill) {
                    x1 = std::min(x1, x);
                    y1 = std::min(y1, y);
                    x2 = std::max(x2, x);
                    y2 = std::max(y2, y);
                }
    }
};

TEST_F(ImageTest, BlitModesCopySkipKeyOrDrawNothing)
{
    test_image<2, 1> image(0);
    image.pixels[0] = 0xFFFF;
    image.pixels[1] = 0x0841;
    struct Case { uint8_t mode; gfx_color want0, want1; };
    const Case cases[] = {
        {1, 0xFFFF, 0x0841},  // every pixel copied: the key makes the overlay transparent
        {0, 0x1111, 0x0841},  // key-coloured pixels keep the destination
        {2, 0x1111, 0x1111},  // any other mode draws nothing
    };
    for (const Case& c : cases) {
        SetUp();
        gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
        gfx_set_blit_mode(c.mode);
        gfx_draw_image(10, 5, &image);
        EXPECT_EQ(over(10, 5), c.want0) << "mode " << int(c.mode);
        EXPECT_EQ(over(11, 5), c.want1) << "mode " << int(c.mode);
        EXPECT_EQ(back(10, 5), 0x2222);
    }
}

TEST_F(ImageTest, RecordsLandWhereTheLayerSays)
{
    // A soft-key label in the last slot fills the panel area's corner exactly.
    test_image<64, 44> label(0x0001);
    gfx_set_layer(GFX_LAYER_OVERLAY);
    gfx_draw_image(256, 240, &label);
    int x1, y1, x2, y2;
    box_of(gfx_overlay, 0x1111, x1, y1, x2, y2);
    EXPECT_EQ(x1, 256);
    EXPECT_EQ(y1, 240);
    EXPECT_EQ(x2, 319);
    EXPECT_EQ(y2, 283);

    // A 48-row pop-up piece reaches the layer's spare rows.
    SetUp();
    test_image<128, 48> piece(0x0002);
    gfx_draw_image(0, 240, &piece);
    box_of(gfx_overlay, 0x1111, x1, y1, x2, y2);
    EXPECT_EQ(x2, 127);
    EXPECT_EQ(y2, 287);

    // Layer 1 is the background; an empty record draws nothing.
    SetUp();
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    test_image<3, 2> small(0x0003);
    gfx_draw_image(317, 238, &small);
    box_of(gfx_background, 0x2222, x1, y1, x2, y2);
    EXPECT_EQ(x1, 317);
    EXPECT_EQ(y1, 238);
    EXPECT_EQ(x2, 319);
    EXPECT_EQ(y2, 239);
    const gfx_image empty{GFX_IMAGE_RGB565, 0, 5};
    gfx_draw_image(0, 0, &empty);
    EXPECT_EQ(back(0, 0), 0x2222);
}

// One-plane bitmap: 2 rows of one byte, stored bottom row first.
const uint8_t one_plane[] = {1, 2, 1, 0b10000000, 0b01000000};

TEST_F(ImageTest, OnePlaneBitmapGoesToTheLayerItsColourSays)
{
    struct Case { uint16_t color_code; bool opaque; bool to_background; gfx_color clear_bit; };
    const Case cases[] = {
        {2, true, true, 0xABCD},       // grey: background layer, clear bits in the fill colour
        {0x001F, true, false, 0xFFFF}, // other colours: overlay, clear bits transparent
        {2, false, true, 0x2222},      // without the opaque flag clear bits keep their pixel
        {0x001F, false, false, 0x1111},
    };
    for (const Case& c : cases) {
        SetUp();
        gfx_set_fill_color(0xABCD);
        gfx_set_text_color(c.color_code);
        gfx_set_bitmap_opaque(c.opaque ? 1 : 0);
        gfx_draw_image(16, 20, one_plane);
        gfx_color* dst = c.to_background ? gfx_background : gfx_overlay;
        gfx_color* other = c.to_background ? gfx_overlay : gfx_background;
        const gfx_color ink = gfx_state.text_color;
        // The first stored row is the bottom one (row 21).
        EXPECT_EQ(dst[21 * GFX_WIDTH + 16], ink);
        EXPECT_EQ(dst[20 * GFX_WIDTH + 17], ink);
        EXPECT_EQ(dst[21 * GFX_WIDTH + 17], c.clear_bit);
        EXPECT_EQ(dst[20 * GFX_WIDTH + 23], c.clear_bit);
        EXPECT_EQ(dst[20 * GFX_WIDTH + 24], c.to_background ? 0x2222 : 0x1111);  // past 8 bits
        EXPECT_EQ(other[21 * GFX_WIDTH + 16], c.to_background ? 0x1111 : 0x2222);
    }
}

TEST_F(ImageTest, TwoPlaneBitmapWritesBothLayers)
{
    // One row, one byte per plane: bit 0 in plane B, bit 1 in A, bit 2 in both.
    const uint8_t record[] = {2, 1, 1, 0b01100000, 0b10100000};
    gfx_set_fill_color(0xABCD);
    gfx_set_text_color(0x001F);
    gfx_set_bitmap_opaque(1);
    gfx_draw_image(8, 3, record);
    EXPECT_EQ(over(8, 3), GFX_KEY_COLOR);  // plane B: the secondary colour shows
    EXPECT_EQ(back(8, 3), GFX_SECONDARY_COLOR);
    EXPECT_EQ(over(9, 3), 0x001F);  // plane A: text colour over the fill
    EXPECT_EQ(back(9, 3), 0xABCD);
    EXPECT_EQ(over(10, 3), GFX_KEY_COLOR);  // B wins over A
    EXPECT_EQ(back(10, 3), GFX_SECONDARY_COLOR);
    EXPECT_EQ(over(11, 3), GFX_KEY_COLOR);  // clear, opaque
    EXPECT_EQ(back(11, 3), 0xABCD);

    SetUp();
    gfx_set_bitmap_opaque(0);
    const uint8_t kind_7[] = {7, 1, 1, 0b01000000, 0b00000000};  // any kind above 1
    gfx_draw_image(8, 3, kind_7);
    EXPECT_EQ(over(8, 3), 0x1111);  // clear and not opaque: untouched
    EXPECT_EQ(back(8, 3), 0x2222);
    EXPECT_EQ(over(9, 3), 0x001F);
}

}  // namespace

namespace {

const gfx_color* pixels_of(const gfx_image& image)
{
    return reinterpret_cast<const gfx_color*>(reinterpret_cast<const uint8_t*>(&image) + 12);
}

TEST(Assets, EveryRecordHasItsSizeAndNoOverlayImageUsesTheKeyColour)
{
    struct Case { const gfx_image& image; uint32_t width, height; };
    const Case cases[] = {
        {img_page_background, 320, 240}, {img_splash_logo, 320, 240},
        {img_key_left, 64, 44}, {img_key_right, 64, 44}, {img_key_up, 64, 44},
        {img_key_down, 64, 44}, {img_key_return, 64, 44}, {img_key_reset, 64, 44},
        {img_key_blank, 64, 44}, {img_key_on, 64, 44}, {img_key_off, 64, 44},
        {img_key_on_off, 64, 44}, {img_key_starboard, 64, 44}, {img_key_port, 64, 44},
        {img_key_exit, 64, 44}, {img_state_on, 30, 20}, {img_state_off, 30, 20},
        {img_status_ok, 15, 13}, {img_status_alarm, 15, 13}, {img_tank_water, 53, 98},
        {img_tank_fuel, 53, 98}, {img_level_water, 53, 2}, {img_level_fuel, 53, 2},
        {img_display_view_left, 128, 44}, {img_display_view_right, 128, 48},
        {img_display_view_panel, 256, 48}, {img_keypad_view_left, 128, 48},
        {img_keypad_view_right, 128, 48}, {img_keypad_view_panel, 256, 48},
        {img_popup_exit, 64, 48},
    };
    uint64_t bytes = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.image.kind, GFX_IMAGE_RGB565);
        EXPECT_EQ(c.image.width, c.width);
        EXPECT_EQ(c.image.height, c.height);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(&c.image) % 4, 0u);
        bytes += 12 + 2 * c.image.width * c.image.height;
        if (&c.image == &img_splash_logo)
            continue;
        const gfx_color* p = pixels_of(c.image);
        EXPECT_EQ(std::count(p, p + c.image.width * c.image.height, GFX_KEY_COLOR), 0)
            << "image " << c.width << " x " << c.height;
    }
    EXPECT_EQ(bytes, 508580u);

    // Labels draw their white as 0xFFDF; the splash keeps a plain white field.
    const gfx_color* reset = pixels_of(img_key_reset);
    EXPECT_GT(std::count(reset, reset + 64 * 44, gfx_color(0xFFDF)), 20);
    EXPECT_EQ(pixels_of(img_splash_logo)[0], 0xFFFF);
    const gfx_color* blank = pixels_of(img_key_blank);
    EXPECT_EQ(std::count(blank, blank + 64 * 44, gfx_color(0)), 64 * 44);
}

TEST(Assets, PageBackgroundBlackensTheWholeBackgroundLayer)
{
    std::fill(std::begin(gfx_background), std::end(gfx_background), gfx_color(0x1234));
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    gfx_draw_image(0, 0, &img_page_background);
    EXPECT_EQ(std::count(gfx_background, gfx_background + GFX_WIDTH * GFX_HEIGHT, gfx_color(0)),
              GFX_WIDTH * GFX_HEIGHT);
    EXPECT_EQ(gfx_background[GFX_WIDTH * GFX_HEIGHT], 0x1234);
}

}  // namespace
