#include <atomic>
#include <map>
#include <set>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "can/can_backend.h"
#include "can/can_port.h"
#include "can/can_virtual.h"
#include "can_test_support.h"
#include "host/core/virtual_clock.h"
#include "model/mailbox.h"
#include "support/unit_fixture.h"

using can_testing::frame;
using can_testing::map_and_open;
using can_testing::seen;

namespace {

std::vector<can_frame> take_sent(uint8_t port)
{
    std::vector<can_frame> out;
    can_frame f;
    while (can_virtual_take_sent(port, &f))
        out.push_back(f);
    return out;
}

class CanPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
        can_testing::watch_receive();
    }
};

}  // namespace

TEST_F(CanPort, InitTakesTheDefaultKvaserMappingWithoutDevice)
{
    uint32_t type = 99;
    const char* device = "x";
    hal_can_port_mapping(1, &type, &device);
    EXPECT_EQ(type, CAN_TYPE_KVASER);
    EXPECT_EQ(device, nullptr);
    can_init();
    EXPECT_EQ(can_port_device(0), nullptr);
}

TEST_F(CanPort, QueuedShortFrameGoesOutPaddedWithZeros)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    const uint8_t data[8] = {1, 2, 3, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    can_queue_frame(0, 0x18EF1234, 1, 3, data);
    can_flush_transmit();
    const auto sent = take_sent(0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].id, 0x18EF1234u);
    EXPECT_EQ(sent[0].ext, 1);
    EXPECT_EQ(sent[0].rtr, 0);
    EXPECT_EQ(sent[0].len, 3);
    const uint8_t expected[8] = {1, 2, 3, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(sent[0].data, expected, 8));
}

TEST_F(CanPort, FullTransmitRingReplacesTheNewestFrame)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    for (uint32_t i = 0; i < 240; ++i) {
        const uint8_t data[1] = {uint8_t(i)};
        can_queue_frame(0, 0x100 + i, 0, 1, data);
    }
    EXPECT_EQ(can_tx_pending(0), 239);
    can_flush_transmit();
    const auto sent = take_sent(0);
    ASSERT_EQ(sent.size(), 239u);
    for (uint32_t i = 0; i < 238; ++i)
        EXPECT_EQ(sent[i].id, 0x100 + i);
    EXPECT_EQ(sent[238].id, 0x100u + 239) << "the 240th frame takes the 239th's slot";
    EXPECT_EQ(can_tx_pending(0), 0);
}

TEST_F(CanPort, ObserverSeesTheFramesTheBusTookAndRefusalsAreCounted)
{
    // Port 1 stays a Kvaser channel that never opened: its sends fail.
    ASSERT_TRUE(map_and_open(0, "virtual"));
    std::vector<std::pair<uint8_t, uint32_t>> observed;
    can_set_send_observer(
        [](uint8_t port, const can_frame& f, void* context) {
            static_cast<std::vector<std::pair<uint8_t, uint32_t>>*>(context)->emplace_back(port, f.id);
        },
        &observed);
    can_queue_frame(1, 0x7, 0, 0, nullptr);
    can_queue_frame(0, 0x1, 0, 0, nullptr);
    can_queue_frame(0, 0x2, 1, 0, nullptr);
    can_flush_transmit();
    can_set_send_observer(nullptr, nullptr);
    const std::vector<std::pair<uint8_t, uint32_t>> expected = {{0, 0x1}, {0, 0x2}};
    EXPECT_EQ(observed, expected) << "the refused frame on port 1 never reached a bus";
    EXPECT_EQ(take_sent(0).size(), 2u);
    can_port_status s0{}, s1{};
    can_port_get_status(0, &s0);
    can_port_get_status(1, &s1);
    EXPECT_EQ(s0.state, CAN_PORT_OPEN);
    EXPECT_EQ(s0.sent, 2u);
    EXPECT_EQ(s0.refused, 0u);
    EXPECT_EQ(s1.state, CAN_PORT_NOT_OPENED);
    EXPECT_EQ(s1.sent, 0u);
    EXPECT_EQ(s1.refused, 1u);
}

TEST_F(CanPort, ReceivedFramesAreDispatchedByPortAndKind)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    ASSERT_TRUE(map_and_open(1, "virtual"));
    ASSERT_EQ(0, can_virtual_inject(0, frame(0x18FF0380, 1, {13, 1, 1})));
    ASSERT_EQ(0, can_virtual_inject(0, frame(0x422, 0, {1, 2, 3, 4, 5, 6, 7, 8})));
    ASSERT_EQ(0, can_virtual_inject(0, frame(0x421, 0, {0})));         // other standard: dropped
    ASSERT_EQ(0, can_virtual_inject(1, frame(0x18FF0381, 1, {1})));    // port 1: dropped
    ASSERT_EQ(0, can_virtual_inject(1, frame(0x422, 0, {1})));         // port 1: dropped
    ASSERT_EQ(0, can_virtual_inject(0, frame(0x0CFF0480, 1, {})));     // extended, no data
    can_poll_receive();

    const auto& calls = seen();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_FALSE(calls[0].test_message);
    EXPECT_EQ(calls[0].id, 0x18FF0380u);
    EXPECT_EQ(calls[0].len, 3);
    EXPECT_EQ(calls[0].data[0], 13);
    EXPECT_TRUE(calls[1].test_message);
    EXPECT_EQ(calls[1].id, 0x422u);
    EXPECT_EQ(calls[1].len, 8);
    EXPECT_EQ(calls[1].data[7], 8);
    EXPECT_FALSE(calls[2].test_message);
    EXPECT_EQ(calls[2].id, 0x0CFF0480u);
    EXPECT_EQ(calls[2].len, 0);
}

TEST_F(CanPort, FullReceiveRingLeavesTheRestInTheBackEndAndTheObserverSeesEachWhenTaken)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    std::vector<std::pair<uint8_t, uint32_t>> observed;
    can_set_receive_observer(
        [](uint8_t port, const can_frame& f, void* context) {
            static_cast<std::vector<std::pair<uint8_t, uint32_t>>*>(context)->emplace_back(port, f.id);
        },
        &observed);
    for (uint32_t i = 0; i < 600; ++i)
        ASSERT_EQ(0, can_virtual_inject(0, frame(0x10000 + i, 1, {uint8_t(i)})));
    can_poll_receive();
    ASSERT_EQ(seen().size(), 239u);
    EXPECT_EQ(observed.size(), 239u) << "the frames still in the back end are not seen yet";
    can_poll_receive();
    can_poll_receive();
    can_set_receive_observer(nullptr, nullptr);
    ASSERT_EQ(seen().size(), 600u);
    ASSERT_EQ(observed.size(), 600u);
    for (uint32_t i = 0; i < 600; ++i) {
        ASSERT_EQ(seen()[i].id, 0x10000 + i) << "frame " << i << " lost or out of order";
        ASSERT_EQ(observed[i], std::make_pair(uint8_t(0), 0x10000 + i)) << "frame " << i;
    }
}

TEST_F(CanPort, ClosedPortSendsNothingAndReceivesNothing)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why));
    can_init();
    const can_frame f = frame(0x123, 0, {1});
    EXPECT_EQ(can_port_send(0, &f), -1);
    ASSERT_EQ(0, can_virtual_inject(0, f));
    can_frame out;
    EXPECT_EQ(can_port_receive(0, &out), -1);
    EXPECT_EQ(can_port_open(2), -1);
    EXPECT_EQ(can_port_send(2, &f), -1);
}

TEST_F(CanPort, VirtualBusRefusesInjectionWhenFullAndDropsOldestSentFrames)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    for (uint32_t i = 0; i < CAN_VIRTUAL_QUEUE; ++i)
        ASSERT_EQ(0, can_virtual_inject(0, frame(i, 0, {})));
    EXPECT_EQ(-1, can_virtual_inject(0, frame(0x7FF, 0, {})));

    for (uint32_t i = 0; i < CAN_VIRTUAL_QUEUE + 5; ++i) {
        const can_frame f = frame(i & 0x7FF, 0, {});
        ASSERT_EQ(0, can_port_send(0, &f));
    }
    EXPECT_EQ(can_virtual_sent_dropped(0), 5u);
    can_frame first;
    ASSERT_TRUE(can_virtual_take_sent(0, &first));
    EXPECT_EQ(first.id, 5u);
}

TEST_F(CanPort, InjectionFromAnotherThreadArrivesCompleteAndInOrder)
{
    ASSERT_TRUE(map_and_open(0, "virtual"));
    constexpr uint32_t count = 3000;
    std::atomic<bool> done{false};
    std::thread host([&] {
        for (uint32_t i = 0; i < count; ++i)
            while (can_virtual_inject(0, frame(0x1000 + i, 1, {uint8_t(i), uint8_t(i >> 8)})) != 0)
                std::this_thread::yield();
        done = true;
    });
    while (!done.load() || seen().size() < count) {
        can_poll_receive();
        std::this_thread::yield();
    }
    host.join();
    ASSERT_EQ(seen().size(), count);
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(seen()[i].id, 0x1000 + i);
        ASSERT_EQ(seen()[i].data[1], uint8_t(i >> 8));
    }
}

class CanPortUnit : public norvane::testing::UnitTest {};

TEST_F(CanPortUnit, TickFrameAndCommandFramesGoOutEvery100msOnTheVirtualBus)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    auto& unit = start();
    ASSERT_EQ(0, can_port_open(0));
    take_sent(0);
    std::vector<uint64_t> tick_frames;
    std::map<uint64_t, std::set<uint32_t>> commands;  // step time -> command ids
    unit.after_step = [&](uint64_t t) {
        for (const can_frame& f : take_sent(0)) {
            if (!f.ext && f.id == 0x421)
                tick_frames.push_back(t);
            else if (f.ext && f.len == MSG_OUTPUT_COMMAND_LEN && (f.id & 0x1FFFF0FFu) == MSG_OUTPUT_COMMAND)
                commands[t].insert(f.id);
        }
    };
    // The first main step resets the queues, so the frame of the very first
    // tick never leaves; from then on one goes out every 100 ms.
    unit.advance(1000);
    ASSERT_EQ(tick_frames.size(), 9u);
    for (size_t i = 1; i < tick_frames.size(); ++i)
        EXPECT_EQ(tick_frames[i] - tick_frames[i - 1], 100u);

    ASSERT_GE(commands.size(), 9u);
    uint64_t previous = 0;
    for (const auto& [t, ids] : commands) {
        EXPECT_EQ(ids.size(), POWER_MODULE_COUNT) << "at " << t << " ms";
        EXPECT_TRUE(ids.count(MSG_OUTPUT_COMMAND) && ids.count(MSG_OUTPUT_COMMAND + 7 * 256u)) << t;
        if (previous) {
            EXPECT_EQ(t - previous, 100u);
        }
        previous = t;
    }
}
