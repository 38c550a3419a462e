// Shared helpers for the screen tests: the unit in virtual time, button
// presses as a user makes them, and which page is showing.
#pragma once
#include <string>

#include "support/unit_fixture.h"
#include "gfx/image.h"
#include "screens/panel.h"
#include "screens/circuit_pages.h"
#include "screens/hmi.h"
#include "screens/override_page.h"
#include "screens/status_page.h"
#include "screens/tank_page.h"
#include "screens/version_page.h"

namespace norvane::testing {

class ScreensTest : public UnitTest {
protected:
    void SetUp() override;

    // Most tests start where the user does: on LIGHTING & SOUND after the
    // version page. Tests of the version page itself clear this.
    bool boot_past_version_ = true;

    VirtualStepper& unit() { return *unit_; }
    // A short press of button n (1..5, F1..F5), then time for its release.
    void press(int button);
    // Button n kept down for `ms`, then released.
    void hold(int button, uint64_t ms);
    // Name of the page whose key layout is installed, or "" for none known.
    std::string current_page() const;
    // The frame shown after the last main step.
    const frame_buffer& frame() const { return unit_->frame(); }
};

namespace screens_detail {

struct known_page {
    const char* name;
    hmi_fn enter;
    hmi_fn layout;  // learnt by entering the page once
};

inline known_page pages[] = {
    {"LIGHTING & SOUND", lighting_page_enter, nullptr},
    {"NAVIGATION", navigation_page_enter, nullptr},
    {"REFRIGERATION", refrigeration_page_enter, nullptr},
    {"PUMPS", pumps_page_enter, nullptr},
    {"tank", tank_page_enter, nullptr},
    {"module status", status_page_enter, nullptr},
    {"PORT OVERRIDES", port_overrides_enter, nullptr},
    {"STARBOARD OVERRIDES", starboard_overrides_enter, nullptr},
    {"version", version_page_enter, nullptr},
};

}  // namespace screens_detail

// Whether the overlay layer holds the rows [first, first + count) of an image
// record drawn with its top-left corner at (x, y).
inline bool overlay_shows(const gfx_image& img, int x, int y, uint32_t first = 0,
                          uint32_t count = 0xFFFF)
{
    if (img.width == 0 || img.height == 0)
        return false;
    const auto* pixels = reinterpret_cast<const gfx_color*>(&img + 1);
    for (uint32_t r = first; r < img.height && r < first + count; ++r)
        for (uint32_t c = 0; c < img.width; ++c)
            if (gfx_overlay[(uint32_t(y) + r) * GFX_WIDTH + uint32_t(x) + c] != pixels[r * img.width + c])
                return false;
    return true;
}

inline void ScreensTest::SetUp()
{
    UnitTest::SetUp();
    // Every page keeps its own key layout as the function the panel
    // re-installs, which tells the pages apart. Learn them, then put the
    // screen state back to its start values.
    for (screens_detail::known_page& p : screens_detail::pages) {
        p.enter();
        p.layout = hmi_restore_keys.load();
    }
    key_clear_handlers();
    hmi_sel.store(0);
    hmi_item_count.store(4);
    hmi_set_page_draw(nullptr, nullptr);
    hmi_restore_keys.store(hmi_noop);
    hmi_redraw.store(false);
    panel_state.store(1);
    start();
    if (boot_past_version_) {
        unit_->advance(2100);
        ASSERT_EQ(current_page(), "LIGHTING & SOUND");
    }
}

inline void ScreensTest::press(int button)
{
    unit_->tap(button, 100);
    unit_->advance(50);
}

inline void ScreensTest::hold(int button, uint64_t ms)
{
    unit_->tap(button, ms);
    unit_->advance(50);
}

inline std::string ScreensTest::current_page() const
{
    const hmi_fn layout = hmi_restore_keys.load();
    for (const screens_detail::known_page& p : screens_detail::pages)
        if (p.layout == layout)
            return p.name;
    return "";
}

}  // namespace norvane::testing
