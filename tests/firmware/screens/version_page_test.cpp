#include <gtest/gtest.h>

#include "screens/panel.h"
#include "screens_fixture.h"

namespace norvane::testing {
namespace {

class VersionPage : public ScreensTest {
protected:
    VersionPage() { boot_past_version_ = false; }

    // Unit time of the first main step that no longer shows the version page.
    uint64_t run_until_left(uint64_t ms)
    {
        uint64_t left_at = 0;
        unit().after_step = [&](uint64_t t) {
            if (!left_at && current_page() != "version")
                left_at = t;
        };
        unit().advance(ms);
        unit().after_step = nullptr;
        return left_at;
    }
};

TEST_F(VersionPage, ColdStartShowsItThenLightingAndSound)
{
    unit().advance(25);
    EXPECT_EQ(current_page(), "version") << "entered by the model's first step";
    EXPECT_EQ(version_entry_time.load(), 10u) << "the first tick";
    // The first pass more than 2000 ms after the entry at 10 ms.
    EXPECT_EQ(run_until_left(3000), 2025u);
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
    EXPECT_EQ(hmi_page_index.load(), 0);
    EXPECT_EQ(hmi_item_count.load(), 6);
}

TEST_F(VersionPage, StaysAtExactlyTwoSecondsAndGoesOnTheNextPass)
{
    unit().advance(2100);
    hmi_page_index.store(4);
    version_page_enter();
    const uint32_t entered = version_entry_time.load();
    EXPECT_EQ(run_until_left(3000) - entered, 2025u) << "the pass at exactly 2000 ms keeps it";
    EXPECT_EQ(current_page(), "LIGHTING & SOUND");
    EXPECT_EQ(hmi_page_index.load(), 4) << "the ring position is left alone";
}

TEST_F(VersionPage, HidesTheBarAndNoButtonDoesAnything)
{
    unit().advance(25);
    EXPECT_EQ(gfx_panel_reveal.load(), 0);
    for (int k = 0; k < KEY_COUNT; ++k) {
        EXPECT_EQ(hmi_softkeys[k].on_press.load(), nullptr);
        EXPECT_EQ(hmi_softkeys[k].on_release.load(), nullptr);
        EXPECT_EQ(hmi_softkeys[k].on_hold.load(), nullptr);
    }
    for (int button = 1; button <= 5; ++button)
        press(button);
    EXPECT_EQ(current_page(), "version");
    EXPECT_EQ(hmi_page_index.load(), 0);
    EXPECT_EQ(gfx_panel_reveal.load(), 0);
}

}  // namespace
}  // namespace norvane::testing
