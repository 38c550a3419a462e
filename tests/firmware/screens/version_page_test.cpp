#include <gtest/gtest.h>

#include "gfx/panel.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class VersionPage : public ScreensTest {};

TEST_F(VersionPage, ShowsForTwoSecondsThenLightingAndSound)
{
    version_page_enter();
    const uint32_t entered = version_entry_time.load();
    uint64_t left_at = 0;
    unit().after_step = [&](uint64_t t) {
        if (!left_at && current_page() != "version")
            left_at = t;
    };
    unit().advance(3000);
    // Passes run every 25 ms: the one at exactly 2000 ms keeps the page.
    EXPECT_EQ(left_at - entered, 2025u);
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
    EXPECT_EQ(hmi_page_index.load(), 0);
    EXPECT_EQ(hmi_item_count.load(), 6);
}

TEST_F(VersionPage, HidesTheBarAndInstallsNoButtons)
{
    version_page_enter();
    EXPECT_EQ(panel_state.load(), 2);
    for (int k = 0; k < KEY_COUNT; ++k) {
        EXPECT_EQ(hmi_softkeys[k].on_press.load(), nullptr);
        EXPECT_EQ(hmi_softkeys[k].on_release.load(), nullptr);
        EXPECT_EQ(hmi_softkeys[k].on_hold.load(), nullptr);
    }
    for (int button = 1; button <= 5; ++button)
        press(button);
    EXPECT_EQ(current_page(), "version");
    EXPECT_EQ(hmi_sel.load(), 0);
}

}  // namespace
}  // namespace norvane::testing
