#include "host/core/frame_convert.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "host/core/bitmap_file.h"

namespace norvane {
namespace {

// Bytes B, G, R, A of image pixel (x, y) counted in memory order.
std::vector<uint8_t> pixel_bytes(const std::vector<uint8_t>& image, int x, int memory_row)
{
    const auto at = image.begin() + (ptrdiff_t(memory_row) * GFX_WIDTH + x) * 4;
    return {at, at + 4};
}

TEST(FrameConvert, PixelsFollowTheWindowsRuleIncludingTheTopRedCase)
{
    std::vector<gfx_color> frame(GFX_WIDTH * GFX_HEIGHT, 0);
    frame[0] = 0xFFFF;
    frame[1] = 0x8000;
    frame[2] = 0x0000;
    frame[3] = 0xF800;
    frame[4] = 0x07E0;
    frame[5] = 0x001F;
    frame[GFX_WIDTH * (GFX_HEIGHT - 1)] = 0x8001;
    std::vector<uint8_t> image(SCREEN_IMAGE_BYTES);
    convert_frame_bottom_up(frame.data(), image.data());

    // Frame row 0 is the last row in memory.
    using B = std::vector<uint8_t>;
    EXPECT_EQ(pixel_bytes(image, 0, GFX_HEIGHT - 1), (B{0xF8, 0xFC, 0xF8, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 1, GFX_HEIGHT - 1), (B{0x08, 0x00, 0x80, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 2, GFX_HEIGHT - 1), (B{0x00, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 3, GFX_HEIGHT - 1), (B{0x00, 0x00, 0xF8, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 4, GFX_HEIGHT - 1), (B{0x00, 0xFC, 0x00, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 5, GFX_HEIGHT - 1), (B{0xF8, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(pixel_bytes(image, 0, 0), (B{0x08, 0x00, 0x80, 0xFF}));
}

TEST(FrameConvert, EveryValueMatchesTheReferencePixelInBothRowOrders)
{
    // 65536 values fill 0.85 frames; the rest repeats them.
    std::vector<gfx_color> frame(GFX_WIDTH * GFX_HEIGHT);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = gfx_color(i * 40503u);  // odd factor: a permutation of all values
    std::vector<uint8_t> up(SCREEN_IMAGE_BYTES), down(SCREEN_IMAGE_BYTES);
    convert_frame_bottom_up(frame.data(), up.data());
    convert_frame_top_down(frame.data(), down.data());
    for (int y = 0; y < GFX_HEIGHT; ++y) {
        for (int x = 0; x < GFX_WIDTH; ++x) {
            const uint32_t want = convert_pixel(frame[size_t(y) * GFX_WIDTH + x]);
            uint32_t got_up = 0, got_down = 0;
            std::memcpy(&got_up, &up[(size_t(GFX_HEIGHT - 1 - y) * GFX_WIDTH + x) * 4], 4);
            std::memcpy(&got_down, &down[(size_t(y) * GFX_WIDTH + x) * 4], 4);
            ASSERT_EQ(got_up, want) << "x " << x << " y " << y;
            ASSERT_EQ(got_down, want) << "x " << x << " y " << y;
        }
    }
}

TEST(BitmapFile, HeaderAndSizeAreTheSaveScreenFormat)
{
    std::vector<uint8_t> image(SCREEN_IMAGE_BYTES, 0xAB);
    const std::vector<uint8_t> file = bitmap_file_bytes(image.data());
    ASSERT_EQ(file.size(), 307254u);
    const uint8_t header[54] = {'B', 'M', 0x36, 0xB0, 0x04, 0x00, 0, 0, 0, 0, 54, 0, 0, 0,
                                40, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 1, 0, 32, 0};
    EXPECT_EQ(std::memcmp(file.data(), header, sizeof header), 0);
    EXPECT_EQ(file[54], 0xAB);
    EXPECT_EQ(file.back(), 0xAB);
}

}  // namespace
}  // namespace norvane
