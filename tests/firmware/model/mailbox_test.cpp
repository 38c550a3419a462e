// Receive mailboxes (routing, ring rules, ages), the transmit schedule and
// the lock between the main loop's puts and the tick's gets.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "can/can_port.h"
#include "model/mailbox.h"
#include "model_support.h"

namespace {

using norvane::testing::queued_frame;
using norvane::testing::take_queued;

// Bit b set when mailbox b holds an undelivered frame. Draws one entry from
// every mailbox.
uint32_t fresh_mailboxes()
{
    uint32_t mask = 0;
    for (uint8_t b = 0; b < RX_MAILBOX_COUNT; ++b) {
        uint16_t age = 1;
        rx_mailbox_get(b, &age, nullptr, nullptr, nullptr, 8);
        if (age == 0)
            mask |= 1u << b;
    }
    return mask;
}

uint32_t status_bit(uint8_t p) { return 1u << rx_mailbox_status(p); }
uint32_t codes_bit(uint8_t p) { return 1u << rx_mailbox_codes(p); }

void set_power_filters()
{
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        rx_mailbox_set_filter(rx_mailbox_status(p), MSG_OUTPUT_STATUS + p, 0x1FFFFFFF);
        rx_mailbox_set_filter(rx_mailbox_codes(p), MSG_OUTPUT_CODES + p, 0x1FFFFFFF);
    }
}

class Mailbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        can_init();
        rx_mailbox_init();
    }
    const uint8_t bytes_[8] = {1, 2, 3, 4, 5, 6, 7, 8};
};

struct RouteCase {
    uint32_t id;
    uint8_t len;
    bool filters_set;  // as after the first model step
    uint32_t expected;
};

TEST_F(Mailbox, DispatchStoresAFrameInEveryMailboxWhoseRuleItMeets)
{
    uint32_t all_status = 0;
    uint32_t all_codes = 0;
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        all_status |= status_bit(p);
        all_codes |= codes_bit(p);
    }
    const RouteCase cases[] = {
        {0x18FF0380, 8, true, 1u << 0},    // SENB1 channel 4
        {0x18FF0081, 3, true, 1u << 1},    // SENB2, any length
        {0x18FF0982, 8, true, 1u << 2},    // SENB3 channel 10
        {0x18FFFF83, 8, true, 1u << 3},    // SENB4: the channel byte is not checked here
        {0x18FF0384, 8, true, 0},          // no module at 0x84
        {0x14FF0080, 8, true, 0},          // priority 5
        {0x18FE0080, 8, true, 0},          // other PDU format
        {0x18FFA0B2, 8, true, status_bit(2)},
        {0x18FFA0B2, 7, true, 0},
        {0x18FFA0B2, 9, true, 0},
        {0x18FFA1B7, 8, true, codes_bit(7)},
        {0x18FFA0B5, 8, false, all_status},  // zero filters take the whole family
        {0x18FFA1B0, 8, false, all_codes},
        {0x18FFA0B8, 8, true, 0},          // no ninth power module
        {0x18FFA0B8, 8, false, all_status},
        {0x18FFA2B0, 8, false, 0},
    };
    for (const RouteCase& c : cases) {
        rx_mailbox_init();
        if (c.filters_set)
            set_power_filters();
        can_rx_dispatch(c.id, c.len, bytes_);
        EXPECT_EQ(fresh_mailboxes(), c.expected)
            << std::hex << "id 0x" << c.id << " len " << int(c.len) << " filters " << c.filters_set;
    }
}

TEST_F(Mailbox, NeverUsedMailboxGivesNothingAndStaysNeverReceived)
{
    for (uint8_t b : {rx_mailbox_input(0), rx_mailbox_status(3), rx_mailbox_codes(7)}) {
        for (int i = 0; i < 3; ++i) {
            uint16_t age = 0;
            uint8_t data[8] = {};
            EXPECT_EQ(rx_mailbox_get(b, &age, nullptr, nullptr, data, 8), 0);
            EXPECT_EQ(age, RX_AGE_NEVER);
        }
    }
}

TEST_F(Mailbox, RingDeliversEachFrameOnceOldestFirstThenRepeatsTheNewestWithGrowingAge)
{
    const uint8_t senb2 = rx_mailbox_input(1);
    for (uint8_t i = 0; i < 3; ++i) {
        const uint8_t data[8] = {13, 1, i};
        rx_mailbox_put(senb2, 0x18FF0081 + i * 256u, 8, data);
    }
    for (uint8_t i = 0; i < 3; ++i) {
        uint16_t age = 9;
        uint32_t id = 0;
        uint8_t ext = 0;
        uint8_t data[8] = {};
        ASSERT_EQ(rx_mailbox_get(senb2, &age, &id, &ext, data, 8), 8);
        EXPECT_EQ(age, 0);
        EXPECT_EQ(id, 0x18FF0081 + i * 256u);
        EXPECT_EQ(ext, 1);
        EXPECT_EQ(data[2], i);
    }
    for (uint16_t expected_age = 1; expected_age <= 4; ++expected_age) {
        uint16_t age = 0;
        uint8_t data[8] = {};
        rx_mailbox_get(senb2, &age, nullptr, nullptr, data, 8);
        EXPECT_EQ(age, expected_age);
        EXPECT_EQ(data[2], 2);
    }
    // A new frame after the drain is current at once.
    const uint8_t data[8] = {13, 1, 7};
    rx_mailbox_put(senb2, 0x18FF0081, 8, data);
    uint16_t age = 9;
    uint8_t got[8] = {};
    rx_mailbox_get(senb2, &age, nullptr, nullptr, got, 8);
    EXPECT_EQ(age, 0);
    EXPECT_EQ(got[2], 7);
}

TEST_F(Mailbox, ElevenPutsKeepTheTenNewest)
{
    const uint8_t senb1 = rx_mailbox_input(0);
    for (uint8_t i = 1; i <= 11; ++i) {
        const uint8_t data[8] = {13, 1, i};
        rx_mailbox_put(senb1, 0x18FF0080, 8, data);
    }
    for (uint8_t expected = 2; expected <= 11; ++expected) {
        uint16_t age = 9;
        uint8_t data[8] = {};
        rx_mailbox_get(senb1, &age, nullptr, nullptr, data, 8);
        EXPECT_EQ(age, 0);
        EXPECT_EQ(data[2], expected);
    }
    uint16_t age = 0;
    uint8_t data[8] = {};
    rx_mailbox_get(senb1, &age, nullptr, nullptr, data, 8);
    EXPECT_EQ(age, 1);
    EXPECT_EQ(data[2], 11);
}

TEST_F(Mailbox, PartlyDrainedRingRefilledPastFullDropsOnlyTheOldest)
{
    const uint8_t senb3 = rx_mailbox_input(2);
    uint8_t seq = 0;
    auto put = [&] {
        const uint8_t data[8] = {13, 1, ++seq};
        rx_mailbox_put(senb3, 0x18FF0082, 8, data);
    };
    auto get = [&](uint16_t& age) {
        uint8_t data[8] = {};
        rx_mailbox_get(senb3, &age, nullptr, nullptr, data, 8);
        return data[2];
    };
    uint16_t age = 0;
    for (int i = 0; i < 4; ++i)
        put();
    for (int i = 0; i < 5; ++i)
        get(age);  // drained: the fifth get repeats frame 4
    ASSERT_EQ(age, 1);
    for (int i = 0; i < 12; ++i)
        put();  // frames 5..16; 5 and 6 are dropped
    for (uint8_t expected = 7; expected <= 16; ++expected) {
        EXPECT_EQ(get(age), expected);
        EXPECT_EQ(age, 0);
    }
    EXPECT_EQ(get(age), 16);
    EXPECT_EQ(age, 1);
}

TEST_F(Mailbox, SingleEntryMailboxKeepsTheNewestAndCountsGetsSinceTheStore)
{
    const uint8_t codes = rx_mailbox_codes(4);
    uint8_t first[8] = {0, 0x21};
    uint8_t second[8] = {0, 0x43};
    rx_mailbox_put(codes, MSG_OUTPUT_CODES + 4, 8, first);
    rx_mailbox_put(codes, MSG_OUTPUT_CODES + 4, 8, second);
    for (uint16_t expected_age = 0; expected_age < 3; ++expected_age) {
        uint16_t age = 99;
        uint8_t data[8] = {};
        EXPECT_EQ(rx_mailbox_get(codes, &age, nullptr, nullptr, data, 8), 8);
        EXPECT_EQ(age, expected_age);
        EXPECT_EQ(data[1], 0x43);
    }
}

TEST_F(Mailbox, AgeStopsAtNeverReceived)
{
    const uint8_t status = rx_mailbox_status(0);
    rx_mailbox_put(status, MSG_OUTPUT_STATUS, 8, bytes_);
    uint16_t age = 0;
    for (uint32_t i = 0; i < 0x10005; ++i)
        rx_mailbox_get(status, &age, nullptr, nullptr, nullptr, 8);
    EXPECT_EQ(age, 0xFFFF);
    rx_mailbox_get(status, &age, nullptr, nullptr, nullptr, 8);
    EXPECT_EQ(age, 0xFFFF);
}

TEST_F(Mailbox, LengthsAreKeptAndCappedAtEightBytes)
{
    const uint8_t senb4 = rx_mailbox_input(3);
    // The port layer's buffer is eight bytes whatever length it reports.
    rx_mailbox_put(senb4, 0x18FF0083, 15, bytes_);
    const uint8_t three[8] = {10, 1, 0xE8};
    rx_mailbox_put(senb4, 0x18FF0083, 3, three);
    uint8_t data[12] = {};
    std::memset(data, 0xAA, sizeof data);
    EXPECT_EQ(rx_mailbox_get(senb4, nullptr, nullptr, nullptr, data, 12), 8);
    EXPECT_EQ(0, std::memcmp(data, bytes_, 8));
    EXPECT_EQ(data[8], 0xAA);
    std::memset(data, 0xAA, sizeof data);
    EXPECT_EQ(rx_mailbox_get(senb4, nullptr, nullptr, nullptr, data, 8), 3);
    EXPECT_EQ(data[2], 0xE8);
    EXPECT_EQ(data[3], 0xAA);
    EXPECT_EQ(rx_mailbox_get(senb4, nullptr, nullptr, nullptr, data, 2), 2);
}

TEST_F(Mailbox, CommandFramesGoOutEveryTenthTickAllEightPwrb1First)
{
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        const uint8_t data[8] = {0x80, 0, p, uint8_t(p << 4), 0, 0, 0xEE, 0xEE};
        EXPECT_EQ(tx_mailbox_set(p, MSG_OUTPUT_COMMAND + p * 256u, 8, data), 6);
    }
    for (int tick = 1; tick <= 30; ++tick) {
        can_tx_schedule();
        if (tick % 10 != 0) {
            EXPECT_EQ(can_tx_pending(0), 0) << "tick " << tick;
            continue;
        }
        ASSERT_EQ(can_tx_pending(0), POWER_MODULE_COUNT) << "tick " << tick;
        for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
            queued_frame f;
            ASSERT_TRUE(take_queued(0, f));
            EXPECT_EQ(f.id, MSG_OUTPUT_COMMAND + p * 256u);
            EXPECT_TRUE(f.ext);
            ASSERT_EQ(f.len, 6);
            const std::array<uint8_t, 8> expected = {0x80, 0, p, uint8_t(p << 4), 0, 0, 0, 0};
            EXPECT_EQ(f.data, expected);
        }
    }
    EXPECT_EQ(can_tx_pending(1), 0);
}

TEST_F(Mailbox, ConcurrentPutsAndGetsDeliverFramesInOrderAndNeverTwice)
{
    // The main loop stores numbered frames while the tick draws them.
    const uint8_t senb1 = rx_mailbox_input(0);
    constexpr uint32_t FRAMES = 20000;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint32_t i = 1; i <= FRAMES; ++i) {
            uint8_t data[8] = {13, 1};
            std::memcpy(data + 4, &i, 4);
            rx_mailbox_put(senb1, 0x18FF0080, 8, data);
        }
        done.store(true);
    });
    uint32_t last = 0;
    uint32_t fresh = 0;
    bool ordered = true;
    auto drain_one = [&] {
        uint16_t age = 0;
        uint8_t data[8] = {};
        if (rx_mailbox_get(senb1, &age, nullptr, nullptr, data, 8) != 8 || age != 0)
            return false;
        uint32_t seq = 0;
        std::memcpy(&seq, data + 4, 4);
        ordered = ordered && seq > last;
        last = seq;
        ++fresh;
        return true;
    };
    while (!done.load())
        drain_one();
    producer.join();
    while (drain_one()) {
    }
    EXPECT_TRUE(ordered);
    EXPECT_EQ(last, FRAMES);  // the newest frame is never lost
    EXPECT_LE(fresh, FRAMES);
}

}  // namespace
