// Pictures of every page in a known state, driven in virtual time the way a
// user and the installation drive the unit (buttons, CAN frames), compared
// pixel for pixel with the references under golden/.
// scripts/update-goldens.sh rewrites the references.
#include <gtest/gtest.h>

#include "gfx/gfx.h"
#include "gfx/panel.h"
#include "screens_fixture.h"
#include "support/scenario_fixture.h"

namespace norvane::testing {
namespace {

class ScreenGolden : public ScreensTest {
protected:
    ::testing::AssertionResult matches(const char* name)
    {
        return frame_matches_golden(frame(), std::string("firmware/screens/golden/") + name + ".png");
    }
};

// The pages, as norvane-run shows them from the scenario files users write.
// Each file names the golden pictures it takes.
class ScenarioGolden : public ::testing::TestWithParam<const char*> {};

TEST_P(ScenarioGolden, ScreenshotsMatch)
{
    EXPECT_TRUE(scenario_matches_goldens(std::string("firmware/screens/scenarios/") + GetParam(), 12000));
}

INSTANTIATE_TEST_SUITE_P(Pages, ScenarioGolden,
                         ::testing::Values("version.txt", "circuit_pages.txt", "tank.txt",
                                           "module_status.txt", "overrides.txt"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             return name.substr(0, name.find('.'));
                         });

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
