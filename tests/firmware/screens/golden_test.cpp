// Pictures of the pages that scenario files cannot reach, compared pixel for
// pixel with the references under golden/. The pages themselves are tested by
// the scenario files in scenarios/ (buttons and CAN frames in, 'expect
// screen' lines), which ctest runs through norvane-run.
// scripts/update-goldens.sh rewrites the references.
#include <gtest/gtest.h>

#include "gfx/gfx.h"
#include "gfx/panel.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class ScreenGolden : public ScreensTest {
protected:
    ::testing::AssertionResult matches(const char* name)
    {
        return frame_matches_golden(frame(), std::string("firmware/screens/golden/") + name + ".png");
    }
};

// No page lets the bar slide away (every key layout keeps it shown), so the
// slide is shown from the state the panel starts in.
TEST_F(ScreenGolden, SoftKeyBarSlidingAway)
{
    panel_state.store(1);
    unit().advance(5000 + 100);
    const uint8_t reveal = gfx_panel_reveal.load();
    EXPECT_GT(reveal, 0);
    EXPECT_LT(reveal, GFX_REVEAL_MAX);
    EXPECT_TRUE(matches("softkey_bar_sliding"));
}

}  // namespace
}  // namespace norvane::testing
