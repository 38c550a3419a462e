// The host's bus hub: every frame on the virtual bus reaches every
// subscriber once, and the bus server's link sees all of them but its own.
#include <vector>

#include <gtest/gtest.h>

#include "host/installation/bus_hub.h"
#include "support/unit_fixture.h"

using namespace installation;

namespace {

can_frame frame(uint32_t id)
{
    can_frame f{};
    f.id = id;
    f.ext = 1;
    f.len = 1;
    f.data[0] = uint8_t(id);
    return f;
}

class BusHub : public norvane::testing::UnitTest {};

}  // namespace

TEST_F(BusHub, EveryFrameReachesEverySubscriberAndTheServerLinkSkipsItsOwn)
{
    char why[256] = {};
    ASSERT_EQ(hal_can_map_port(0, "virtual", why, sizeof why), 1) << why;
    norvane::VirtualStepper& unit = start();
    bus_hub hub;
    std::vector<bus_event> a, b;
    hub.subscribe([&a](const bus_event& e) { a.push_back(e); });
    const int second = hub.subscribe([&b](const bus_event& e) { b.push_back(e); });
    norvane::bus_link server = hub_bus_link(hub, 0);

    unit.run_until(150);  // the unit's first eight command frames at 100 ms, its test frame at 125 ms
    ASSERT_EQ(hub.inject(0, frame(0x18FF0080), "installation"), 0);
    ASSERT_TRUE(server.to_bus(frame(0x18FF0181)));  // a client's frame

    std::vector<uint32_t> seen_by_server;
    can_frame f;
    while (server.from_bus(f))  // pumps the unit's frames too
        seen_by_server.push_back(f.id);
    const std::vector<uint32_t> expected_server = {0x18FF0080, 0x18EFB000, 0x18EFB100, 0x18EFB200, 0x18EFB300,
                                                   0x18EFB400, 0x18EFB500, 0x18EFB600, 0x18EFB700, 0x421};
    EXPECT_EQ(seen_by_server, expected_server);
    ASSERT_EQ(a.size(), 11u);
    EXPECT_EQ(a[0].direction, bus_direction::to_unit);
    EXPECT_STREQ(a[0].source, "installation");
    EXPECT_STREQ(a[1].source, "bus-server");
    EXPECT_EQ(a[2].direction, bus_direction::from_unit);
    EXPECT_EQ(a[2].frame.id, 0x18EFB000u);
    EXPECT_EQ(b.size(), a.size());

    hub.unsubscribe(second);
    unit.run_until(250);
    EXPECT_EQ(hub.pump(0), 9);
    EXPECT_EQ(a.size(), 20u);
    EXPECT_EQ(b.size(), 11u);
}
