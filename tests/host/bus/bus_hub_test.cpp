// The host's bus hub: every frame on the virtual bus reaches every
// subscriber once, and the bus server's link sees all of them but its own.
#include <vector>

#include <gtest/gtest.h>

#include "host/bus/bus_hub.h"
#include "host/bus/hub_bus_link.h"
#include "seam/unit.h"
#include "support/unit_fixture.h"

using namespace norvane;

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

// The installation on port 0 hears every frame on its bus but its own: the
// unit's, a bus-server client's, a scenario's. Its frames go onto the bus;
// those a full bus refuses are counted.
// One time base: every frame on the hub carries the unit's time at which it
// reached the bus, the unit's own (which leave without one) and the others'
// (whatever time they came with).
TEST_F(BusHub, FramesCarryTheUnitsTimeAtWhichTheyReachedTheBus)
{
    char why[256] = {};
    ASSERT_EQ(hal_can_map_port(0, "virtual", why, sizeof why), 1) << why;
    norvane::VirtualStepper& unit = start();
    bus_hub hub;
    std::vector<bus_event> seen;
    hub.subscribe([&seen](const bus_event& e) { seen.push_back(e); });
    unit.run_until(101);
    ASSERT_EQ(hub.pump(0), 8);
    const uint64_t sent_us = uint64_t(hal_ms_clock()) * 1000;
    unit.run_until(140);
    can_frame from_client = frame(0x123);
    from_client.time_us = 7;  // a client's own clock
    ASSERT_EQ(hub.inject(0, from_client, "bus-server"), 0);
    const uint64_t injected_us = uint64_t(hal_ms_clock()) * 1000;
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_GE(sent_us, 100000u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(seen[i].frame.time_us, sent_us) << i;
    EXPECT_GT(injected_us, sent_us);
    EXPECT_EQ(seen[8].frame.time_us, injected_us);
}

// A client offering 2,500 frames a second on top of the unit's traffic: the
// bus carries what it can (load at most 100 % each second), the rest waits
// and leaves in arbitration order later, with the time it left, and past the
// bound is refused; the figures count both.
TEST_F(BusHub, MoreThanTheBusCarriesWaitsThenIsRefusedAndTheLoadStaysAtMostFull)
{
    char why[256] = {};
    ASSERT_EQ(hal_can_map_port(0, "virtual", why, sizeof why), 1) << why;
    norvane::VirtualStepper& unit = start();
    bus_hub hub;
    uint64_t late = 0, seen = 0;
    hub.subscribe([&](const bus_event& e) {
        ++seen;
        if (e.direction == bus_direction::to_unit && e.frame.time_us / 1000 != e.frame.data[7] + 256u * e.frame.data[6])
            ++late;
    });
    std::vector<bus_figures> each_second;
    int refused = 0;
    uint64_t offered = 0;
    for (uint32_t ms = 1; ms <= 4000; ++ms) {
        unit.run_until(ms);
        hub.pump(0);
        for (int i = 0; i < (ms % 2 ? 3 : 2); ++i, ++offered) {
            can_frame f = frame(0x100 + uint32_t(offered % 0x500));
            f.ext = 0;
            f.len = 8;
            f.data[6] = uint8_t(ms >> 8);  // the time it was offered
            f.data[7] = uint8_t(ms);
            refused += hub.inject(0, f, "bus-server") != 0;
        }
        if (ms % 1000 == 0)
            each_second.push_back(hub.figures(0));
    }
    const bus_figures end = each_second.back();
    EXPECT_GT(late, 0u);
    EXPECT_GT(end.backlog, 0u);
    EXPECT_GT(end.refused, 0u);
    // The client's refused frames, and the unit's own that found the queue full.
    EXPECT_GE(end.refused, uint64_t(refused));
    EXPECT_GT(refused, 0);
    for (size_t s = 1; s < each_second.size(); ++s) {
        const double load = double(each_second[s].busy_bits - each_second[s - 1].busy_bits) /
                            (double(each_second[s].now_ms - each_second[s - 1].now_ms) * bus_arbiter::BITS_PER_MS);
        EXPECT_LE(load, 1.0) << "second " << s;
        EXPECT_GT(load, 0.99) << "second " << s;
    }
}
