#include "host/core/shown_frame.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

// The window paints a frame only when it differs from the one it shows: the
// first frame always (even a black one), never an equal one again, any frame
// with one pixel changed, and the next frame after the window asked for it.
TEST(ShownFrame, PaintsOnlyFramesThatDifferFromTheOneShown)
{
    ShownFrame shown;
    auto frame = std::make_unique<frame_buffer>();
    EXPECT_TRUE(shown.changed(*frame));
    EXPECT_FALSE(shown.changed(*frame));

    frame->pixels[GFX_WIDTH * GFX_HEIGHT - 1] = 0x0001;  // the last pixel
    EXPECT_TRUE(shown.changed(*frame));
    EXPECT_FALSE(shown.changed(*frame));
    frame->pixels[0] = 0xF800;
    EXPECT_TRUE(shown.changed(*frame));

    shown.show_next();
    EXPECT_TRUE(shown.changed(*frame));
    EXPECT_FALSE(shown.changed(*frame));
}

}  // namespace
}  // namespace norvane
