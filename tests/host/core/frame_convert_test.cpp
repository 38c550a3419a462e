// The vectorised conversion against the one-pixel reference, which the
// foundation's tests pin to the window's rule.
#include "host/core/frame_convert.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace norvane {
namespace {

TEST(FrameConvert, EveryValueMatchesTheReferencePixelInBothRowOrders)
{
    // 76800 pixels: every 16-bit value at least once, 0x8000 among them.
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

}  // namespace
}  // namespace norvane
