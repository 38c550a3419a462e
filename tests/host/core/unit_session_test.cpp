// The unit's bench in one place: every input takes one path whatever its
// source, and whoever watches the bus (a monitor, the CAN log) sees the same
// frames with the installation and without it.
#include "host/core/unit_session.h"

#include <string>
#include <vector>

#include "host/core/host_keys.h"
#include "screens/keys.h"
#include "seam/unit.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;

class Session : public norvane::testing::UnitTest {
protected:
    static scenario_action action(const std::string& line)
    {
        std::vector<scenario_action> actions;
        std::string error;
        EXPECT_TRUE(parse_scenario(line, "s.txt", actions, error)) << error;
        return actions.empty() ? scenario_action{} : actions.front();
    }
};

// A press and its release both before the next tick: the release waits for
// the tick that samples the press, so the unit sees one press, as in the
// window.
TEST_F(Session, APressReleasedBeforeAnyTickIsHeldUntilATickSawIt)
{
    UnitSession session;
    VirtualStepper& unit = session.start_virtual();
    unit.run_until(101);
    EXPECT_TRUE(session.apply(action("101 press 2")));
    EXPECT_TRUE(session.apply(action("105 release 2")));
    EXPECT_EQ(key_input_mask.load(), 0x02);
    EXPECT_EQ(host_keys_held(), 0);
    unit.run_until(110);
    EXPECT_EQ(key_input_mask.load(), 0);
}

// The bus as a watcher sees it: the unit's frames and a scenario's frames on
// both ports, each with its direction, source and the unit time it went on
// the bus; the CAN log has the others' frames only with the installation
// (whose log records the whole bus).
TEST_F(Session, WatchersSeeTheUnitsAndTheScenariosFramesWithAndWithoutTheInstallation)
{
    for (const bool with_installation : {false, true}) {
        SCOPED_TRACE(with_installation ? "with the installation" : "without");
        SetUp();
        char reason[256] = {};
        for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
            ASSERT_EQ(hal_can_map_port(port, "virtual", reason, sizeof reason), 1) << reason;
        const installation::description layout = installation::default_description();
        UnitSession session(with_installation ? &layout : nullptr);
        std::vector<bus_event> seen;
        session.watch_bus([&seen](const bus_event& e) { seen.push_back(e); });
        std::string why;
        const std::string log_path = unit_file("can.log").string();
        ASSERT_TRUE(session.open_log(log_path, "", why)) << why;

        VirtualStepper& unit = session.start_virtual();
        unit.run_until(500, [&session](uint64_t now) {
            if (now == 300) {
                EXPECT_TRUE(session.apply(action("300 can 0 18FEEE99#AA")));
                EXPECT_TRUE(session.apply(action("300 can 1 123#11")));
            }
            session.step_installation(uint32_t(now));
        });
        ASSERT_TRUE(session.close_log(why)) << why;

        int from_unit = 0;
        std::vector<std::string> scenario;
        for (const bus_event& e : seen) {
            if (e.direction == bus_direction::from_unit) {
                ++from_unit;
                EXPECT_GT(e.frame.time_us, 0u) << "every frame carries the unit's time";
            } else if (std::string(e.source) == "scenario") {
                scenario.push_back(std::to_string(e.port) + "@" + std::to_string(e.frame.time_us / 1000));
            }
        }
        EXPECT_GT(from_unit, 0);
        EXPECT_EQ(scenario, (std::vector<std::string>{"0@300", "1@300"}));

        const std::string log = norvane::testing::read_file(log_path);
        EXPECT_NE(log.find(" can0 "), std::string::npos) << "the unit's frames";
        EXPECT_EQ(log.find("can1 123#11\n") != std::string::npos, with_installation) << log;
        if (with_installation) {
            EXPECT_NE(session.plant()->read().frames_sent, 0u) << "the modules answer on the bus";
        }
    }
}

// 2,500 eight-byte frames a second put on the bus by a client, more than
// 250 kbit/s carry: with the installation or without it, the bus stays at
// most fully busy, the excess waits or is refused, and the watchers see
// only what the bus carried.
TEST_F(Session, AFloodTakesTheBussBandwidthWithAndWithoutTheInstallation)
{
    for (const bool with_installation : {false, true}) {
        SCOPED_TRACE(with_installation ? "with the installation" : "without");
        SetUp();
        char reason[256] = {};
        ASSERT_EQ(hal_can_map_port(0, "virtual", reason, sizeof reason), 1) << reason;
        ASSERT_TRUE(UnitSession::on_virtual_bus(0));
        const installation::description layout = installation::default_description();
        UnitSession session(with_installation ? &layout : nullptr);
        uint64_t client_frames_seen = 0;
        session.watch_bus([&client_frames_seen](const bus_event& e) {
            if (e.direction == bus_direction::to_unit && std::string(e.source) == "bus-server")
                ++client_frames_seen;
        });
        can_frame flood{};
        flood.id = 0x100;
        flood.len = 8;
        uint64_t offered = 0;
        VirtualStepper& unit = session.start_virtual();
        unit.run_until(4000, [&](uint64_t now) {
            if (now >= 1000 && now < 4000)
                for (int i = 0; i < (now % 2 == 0 ? 3 : 2); ++i, ++offered)
                    session.send(0, flood, "bus-server");
            session.step_installation(uint32_t(now));
        });
        const bus_figures bus = session.hub().figures(0);
        EXPECT_EQ(offered, 7500u);
        EXPECT_LE(bus.busy_bits, 4000u * bus_arbiter::BITS_PER_MS);
        EXPECT_GT(bus.busy_bits, 2900u * bus_arbiter::BITS_PER_MS) << "the last three seconds the bus is full";
        EXPECT_GT(bus.refused + bus.backlog, 0u);
        EXPECT_LT(client_frames_seen, offered);
    }
}

}  // namespace
