// The screen as the window shows it and as Save Screen writes it.
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "host/core/bitmap_file.h"
#include "host/core/frame_convert.h"
#include "support/unit_fixture.h"

namespace {

TEST(FrameConversion, PixelRule)
{
    struct pixel_case {
        gfx_color in;
        uint8_t b, g, r;
    };
    const pixel_case cases[] = {
        {0xFFFF, 0xF8, 0xFC, 0xF8}, {0x8000, 0x08, 0x00, 0x80}, {0x8001, 0x08, 0x00, 0x80},
        {0x0000, 0x00, 0x00, 0x00}, {0x001F, 0xF8, 0x00, 0x00}, {0x07E0, 0x00, 0xFC, 0x00},
        {0x7BEF, 0x78, 0x7C, 0x78},
    };
    static frame_buffer frame;
    for (const pixel_case& c : cases) {
        SCOPED_TRACE(c.in);
        frame.pixels[0] = c.in;  // row 0 becomes the last row in memory
        std::vector<uint8_t> image(norvane::SCREEN_IMAGE_BYTES);
        norvane::convert_frame_bottom_up(frame.pixels, image.data());
        const size_t at = size_t(GFX_HEIGHT - 1) * GFX_WIDTH * 4;
        EXPECT_EQ(image[at + 0], c.b);
        EXPECT_EQ(image[at + 1], c.g);
        EXPECT_EQ(image[at + 2], c.r);
        EXPECT_EQ(image[at + 3], 0xFF);
        const uint32_t word = norvane::convert_pixel(c.in);
        EXPECT_EQ(word, uint32_t(0xFF) << 24 | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
    }
}

TEST(BitmapFile, LayoutOfTheSavedScreen)
{
    static frame_buffer frame;
    frame.pixels[0] = 0xFFFF;                          // top-left
    frame.pixels[GFX_WIDTH * GFX_HEIGHT - 1] = 0x8000;  // bottom-right
    norvane::testing::TempDir dir;
    const std::string path = (dir / "screen.bmp").string();
    std::string why;
    ASSERT_TRUE(norvane::write_bitmap_file(path, frame, why)) << why;

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(b.size(), 307254u);
    auto u32 = [&](size_t at) { return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24); };
    auto u16 = [&](size_t at) { return uint32_t(b[at] | b[at + 1] << 8); };
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(u32(2), 307254u);
    EXPECT_EQ(u32(6), 0u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 320u);
    EXPECT_EQ(u32(22), 240u);
    EXPECT_EQ(u16(26), 1u);
    EXPECT_EQ(u16(28), 32u);
    for (size_t at = 30; at < 54; ++at)
        EXPECT_EQ(b[at], 0) << at;
    // Bottom-up rows: the top-left pixel is the first pixel of the last row.
    const size_t top_left = 54 + size_t(GFX_HEIGHT - 1) * GFX_WIDTH * 4;
    EXPECT_EQ(u32(top_left), 0xFFF8FCF8u);
    const size_t bottom_right = 54 + size_t(GFX_WIDTH - 1) * 4;
    EXPECT_EQ(u32(bottom_right), 0xFF800008u);
}

TEST(BitmapFile, WriteErrorsAreReported)
{
    static frame_buffer frame;
    std::string why;
    EXPECT_FALSE(norvane::write_bitmap_file("/nonexistent-folder/screen.bmp", frame, why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
