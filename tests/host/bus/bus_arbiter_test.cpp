// The bus's bandwidth: exact frame lengths, today's traffic untouched, more
// than the bus carries waiting in arbitration order, then refused.
#include "host/bus/bus_arbiter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvane;

namespace {

can_frame frame(uint32_t id, bool ext, std::vector<uint8_t> data)
{
    can_frame f{};
    f.id = id;
    f.ext = ext ? 1 : 0;
    f.len = uint8_t(data.size());
    for (size_t i = 0; i < data.size(); ++i)
        f.data[i] = data[i];
    return f;
}

}  // namespace

// Counted by a separate implementation (stuff bits from the start of frame
// to the end of the CRC, 13 bits of delimiters, acknowledgement, end of
// frame and interframe space), and inside the textbook bounds.
TEST(BusArbiter, FramesTakeTheirExactBitsStuffingIncluded)
{
    const struct {
        can_frame f;
        uint32_t bits;
    } cases[] = {
        {frame(0x421, false, {0, 0, 0, 0, 0, 0, 0, 0}), 124},
        {frame(0x18EFB000, true, {0x80, 0, 0x50, 1, 0, 0}), 127},
        {frame(0x18FF0080, true, {0x0D, 1, 0, 0, 0, 0, 0, 0}), 148},
        {frame(0x000, false, {}), 53},
        {frame(0x7FF, false, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 126},
        {frame(0x18FFA0B0, true, {0, 0, 0, 0, 0, 0, 0, 0}), 149},
        {frame(0x123, false, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}), 112},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.f.id);
        EXPECT_EQ(can_frame_wire_bits(c.f), c.bits);
        // Without stuffing 47 (standard) or 67 (extended) bits and the data;
        // at worst a stuff bit every four after the first.
        const uint32_t plain = (c.f.ext ? 67u : 47u) + 8u * c.f.len;
        const uint32_t stuffable = (c.f.ext ? 54u : 34u) + 8u * c.f.len;
        EXPECT_GE(can_frame_wire_bits(c.f), plain);
        EXPECT_LE(can_frame_wire_bits(c.f), plain + (stuffable - 1) / 4);
    }
}

// The arbiter remembers the lengths of frames it has seen: over repeated
// frames, frames differing in one byte, remote frames and more frames than
// it remembers, the bits it carries are still each frame's exact length.
TEST(BusArbiter, RememberedLengthsAreTheFramesOwn)
{
    bus_arbiter bus;
    uint64_t expected = 0;
    for (uint32_t round = 0; round < 3; ++round) {
        for (uint32_t i = 0; i < 300; ++i) {
            can_frame f = frame(0x18FF0080 + (i % 150), true, {uint8_t(i), 0x1F, 0xF0, 0, 0, uint8_t(i >> 3), 0xFF, 0});
            if (i % 7 == 0) {
                f.rtr = 1;
                f.data[0] = uint8_t(round);
            }
            expected += can_frame_wire_bits(f);
            bus.offer(f, round * 1000 + i, 0);
        }
    }
    EXPECT_EQ(bus.carried(), 900u);
    EXPECT_EQ(bus.busy_bits(10000), expected);
}

// Today's traffic: a step's batch of nine frames and the modules' frames in
// between leave at once, each with the time it was offered.
TEST(BusArbiter, TrafficWithinCapacityLeavesAtOnce)
{
    bus_arbiter bus;
    for (uint64_t ms = 0; ms < 10000; ++ms) {
        if (ms % 100 == 0) {
            for (uint32_t p = 0; p < 8; ++p)
                EXPECT_EQ(bus.offer(frame(0x18EFB000 + p * 256, true, {0x80, 0, 0x55, 0x55, 0, 0}), ms, 0),
                          bus_arbiter::verdict::now);
            EXPECT_EQ(bus.offer(frame(0x421, false, {0, 0, 0, 0, 0, 0, 0, 0}), ms, 0), bus_arbiter::verdict::now);
        }
        if (ms % 5 == 0) {
            EXPECT_EQ(bus.offer(frame(0x18FFA0B0 + uint32_t(ms % 8), true, {0, 0, 0, 0, 0, 0, 0, 0}), ms, 0),
                      bus_arbiter::verdict::now);
        }
    }
    EXPECT_EQ(bus.delayed(), 0u);
    EXPECT_EQ(bus.refused(), 0u);
}

// 2,500 frames a second of eight bytes, more than the bus carries: the bus
// stays busy at 100 % and never above, the excess waits and leaves lowest
// identifier first, and past the bound the rest is refused and counted.
TEST(BusArbiter, MoreThanTheBusCarriesWaitsInArbitrationOrderThenIsRefused)
{
    bus_arbiter bus;
    uint64_t offered = 0, left_later = 0;
    std::vector<uint64_t> busy_each_second;
    bool ordered = true;
    for (uint64_t ms = 0; ms <= 4000; ++ms) {
        can_frame f;
        uintptr_t tag = 0;
        uint32_t previous = 0;
        bool first = true;
        while (bus.release(ms, f, tag)) {
            // Within one pass the waiting frames leave lowest identifier first.
            ordered = ordered && (first || f.id >= previous);
            previous = f.id;
            first = false;
            EXPECT_EQ(tag, uintptr_t(7));
            ++left_later;
        }
        const int n = ms % 2 == 0 ? 3 : 2;  // 2.5 frames a millisecond
        for (int i = 0; i < n; ++i, ++offered)
            bus.offer(frame(0x100 + uint32_t((offered * 37) % 0x600), false, {1, 2, 3, 4, 5, 6, 7, 8}), ms, 7);
        if (ms % 1000 == 0)
            busy_each_second.push_back(bus.busy_bits(ms));
    }
    EXPECT_TRUE(ordered);
    EXPECT_GT(bus.delayed(), 0u);
    EXPECT_GT(left_later, 0u);
    EXPECT_GT(bus.refused(), 0u);
    EXPECT_EQ(bus.backlog(), bus_arbiter::PENDING_MAX);
    EXPECT_EQ(bus.carried() + bus.refused() + bus.backlog(), offered);
    // Another sender's queue is its own: the unit's frame still waits its turn
    // (and, with its low identifier, leaves first) instead of being refused.
    EXPECT_EQ(bus.offer(frame(0x050, false, {1}), 4000, 1), bus_arbiter::verdict::waiting);
    can_frame next;
    uintptr_t next_tag = 0;
    for (uint64_t ms = 4001; !bus.release(ms, next, next_tag);)
        ++ms;
    EXPECT_EQ(next_tag, uintptr_t(1));
    for (size_t s = 1; s < busy_each_second.size(); ++s) {
        const uint64_t busy = busy_each_second[s] - busy_each_second[s - 1];
        EXPECT_LE(busy, bus_arbiter::BIT_RATE) << "second " << s;
        EXPECT_GE(busy, bus_arbiter::BIT_RATE * 99 / 100) << "second " << s;  // full
    }
}

// Arbitration: a standard identifier before an extended one of the same
// base, lower before higher, equal ones in the order they came.
TEST(BusArbiter, WaitingFramesLeaveInArbitrationOrder)
{
    bus_arbiter bus;
    // Fill the bus for 30 ms so everything after waits.
    while (bus.offer(frame(0x7FF, false, {0, 0, 0, 0, 0, 0, 0, 0}), 0, 0) == bus_arbiter::verdict::now) {
    }
    const std::vector<can_frame> offered = {
        frame(0x18EFB000, true, {1}), frame(0x300, false, {1}), frame(0x63B, false, {1}),
        frame(0x18EFB000, true, {2}), frame(0x100, false, {1}), frame(0x18FF0080, true, {1}),
    };
    for (size_t i = 0; i < offered.size(); ++i)
        EXPECT_EQ(bus.offer(offered[i], 0, i + 1), bus_arbiter::verdict::waiting);
    std::vector<uintptr_t> order;
    can_frame f;
    uintptr_t tag;
    for (uint64_t ms = 0; ms < 200; ++ms)
        while (bus.release(ms, f, tag))
            order.push_back(tag);
    // 0x100, 0x300, 0x18EFB000 (base 0x63B, extended) after the standard 0x63B,
    // its two frames in order, 0x18FF0080 (base 0x63F), and last the 0x7FF
    // that found the bus full (tag 0).
    EXPECT_EQ(order, (std::vector<uintptr_t>{5, 2, 3, 1, 4, 6, 0}));
}
