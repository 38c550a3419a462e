// The installation on the hub's bus: it hears every frame but its own, and
// what a full bus refuses it keeps waiting rather than dropping.
#include <vector>

#include <gtest/gtest.h>

#include "host/bus/bus_hub.h"
#include "host/bus/hub_bus_link.h"
#include "host/installation/installation_on_bus.h"
#include "seam/unit.h"
#include "support/unit_fixture.h"

using namespace installation;
using namespace norvane;

namespace {

class InstallationOnBus : public norvane::testing::UnitTest {};

}  // namespace

TEST_F(InstallationOnBus, TheInstallationHearsTheBusButItselfAndCountsWhatAFullBusRefuses)
{
    char why[256] = {};
    ASSERT_EQ(hal_can_map_port(0, "virtual", why, sizeof why), 1) << why;
    bus_hub hub;
    plant modules;
    hub.subscribe([&modules](const bus_event& e) {
        if (installation_hears(e))
            modules.on_frame_from_unit(e.frame);
    });
    norvane::bus_link server = hub_bus_link(hub, 0);

    // A command lighting output 1 of a power module, from each side.
    auto command = [](int pwrb) {
        can_frame f{};
        f.id = 0x18EFB000u + uint32_t(pwrb) * 256;
        f.ext = 1;
        f.len = 6;
        f.data[0] = 0x80;
        f.data[2] = 1;
        return f;
    };
    ASSERT_TRUE(server.to_bus(command(0)));
    ASSERT_EQ(hub.inject(0, command(1), "scenario"), 0);
    ASSERT_EQ(hub.inject(0, command(2), INSTALLATION_SOURCE), 0);
    ASSERT_EQ(hub.inject(1, command(3), "scenario"), 0);  // another bus
    const snapshot s = modules.read();
    EXPECT_TRUE(s.outputs[0][0].lit());
    EXPECT_TRUE(s.outputs[1][0].lit());
    EXPECT_FALSE(s.outputs[2][0].lit());
    EXPECT_FALSE(s.outputs[3][0].lit());

    // A scenario floods port 0 until its own transmit queue is full and the
    // bus refuses it; the modules' first frames (SENB1 channel 1, PWRB1's
    // status and codes) wait for the bus in theirs instead of being refused.
    can_frame flood{};
    flood.id = 0x123;
    flood.ext = 1;
    flood.len = 1;
    flood.data[0] = 0x23;
    while (hub.inject(0, flood, "scenario") == 0) {
    }
    const bus_figures before = hub.figures(0);
    EXPECT_EQ(step_installation_on_hub(modules, hub, 0), 0u);
    EXPECT_EQ(modules.read().frames_sent, 3u);
    EXPECT_EQ(hub.figures(0).refused, before.refused);
}
