// Soak in virtual time: an hour of unit time with the bus fully loaded
// (about 1900 frames a second, the most a 250 kbit/s bus carries), pages
// changing now and then. The unit's memory must stay flat and every command
// frame must leave at its 100 ms slot. NORVANE_SOAK_MINUTES shortens or
// lengthens the run (default 60).
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "can/can_virtual.h"
#include "gfx/text.h"
#include "host/core/virtual_stepper.h"
#include "model/mailbox.h"
#include "runtime/app.h"
#include "platform/hal.h"
#include "support/unit_fixture.h"

namespace {

constexpr uint64_t FRAMES_PER_SECOND = 1900;
constexpr int POWER_MODULES = 8;

uint64_t soak_minutes()
{
    const char* text = std::getenv("NORVANE_SOAK_MINUTES");
    const long minutes = text ? std::strtol(text, nullptr, 10) : 60;
    return minutes > 0 ? uint64_t(minutes) : 60;
}

// Resident memory of the process in KiB.
long resident_kib()
{
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

// The n-th frame of the load: the installation's own traffic (the four input
// modules' channels, the eight power modules' status and codes) mixed with
// frames no mailbox takes, test frames 0x422 and other standard frames.
// Contents stay fixed per identifier, so the model settles and the settings
// record does not change.
can_frame load_frame(uint64_t n)
{
    can_frame f{};
    f.ext = 1;
    f.len = 8;
    const uint32_t k = uint32_t(n % 64);
    if (k < 40) {
        const uint32_t module = k % 4;
        const uint32_t channel = k / 4;
        f.id = MSG_INPUT_CHANNEL + channel * 256u + 0x80u + module;
        f.data[0] = channel % 2 ? MSG_INPUT_ANALOG_KIND : MSG_INPUT_SWITCH_KIND;
        f.data[1] = uint8_t(channel);
    } else if (k < 48) {
        f.id = MSG_OUTPUT_STATUS + (k - 40);
    } else if (k < 56) {
        f.id = MSG_OUTPUT_CODES + (k - 48);
    } else if (k < 60) {
        f.id = 0x0C000000u + k;  // nobody's
    } else if (k < 62) {
        f.ext = 0;
        f.id = 0x422;
        f.data[0] = 5;
        f.data[1] = uint8_t(k - 60);
    } else {
        f.ext = 0;
        f.id = 0x100 + k;
    }
    return f;
}

// What left the bus, kept in fixed records: nothing is allocated while the
// unit runs.
struct command_watch {
    uint64_t sent[POWER_MODULES] = {};
    uint64_t off_slot[POWER_MODULES] = {};  // sends not at a multiple of 100 ms
    uint64_t last_ms[POWER_MODULES] = {};
    uint64_t longest_gap_ms[POWER_MODULES] = {};
    uint64_t tick_frames = 0;
};

class Soak : public norvane::testing::UnitTest {};

TEST_F(Soak, HourAtAFullBusKeepsMemoryFlatAndCommandFramesOnTime)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "virtual", why, sizeof why)) << why;
    can_virtual_reset();
    norvane::VirtualStepper& unit = start();

    const uint64_t end_ms = soak_minutes() * 60000;
    const uint64_t settle_ms = 60000;  // caches fill and pages are visited once
    uint64_t injected = 0;
    uint64_t refused = 0;
    command_watch watch;
    long rss_after_settle = 0;
    uint64_t allocations_after_settle = 0;

    unit.after_step = [&](uint64_t t) {
        can_frame f;
        while (can_virtual_take_sent(0, &f)) {
            if (!f.ext && f.id == 0x421) {
                ++watch.tick_frames;
                continue;
            }
            // Power module m's command: MSG_OUTPUT_COMMAND + m * 256.
            if (!f.ext || (f.id & 0xFFFFF0FFu) != MSG_OUTPUT_COMMAND)
                continue;
            const uint32_t m = (f.id >> 8) & 0x0F;
            if (m >= POWER_MODULES)
                continue;
            ++watch.sent[m];
            if (t % 100 != 0)
                ++watch.off_slot[m];
            if (watch.last_ms[m] && t - watch.last_ms[m] > watch.longest_gap_ms[m])
                watch.longest_gap_ms[m] = t - watch.last_ms[m];
            watch.last_ms[m] = t;
        }
        if (t == settle_ms) {
            rss_after_settle = resident_kib();
            allocations_after_settle = text_engine_allocations();
        }
    };
    unit.run_until(end_ms, [&](uint64_t t) {
        // The bus's share of this millisecond.
        const uint64_t due = (t + 1) * FRAMES_PER_SECOND / 1000 - t * FRAMES_PER_SECOND / 1000;
        for (uint64_t i = 0; i < due; ++i)
            if (can_virtual_inject(0, load_frame(injected++)) != 0)
                ++refused;
        // Every 10 s a button: the pages go round.
        if (t % 10000 == 5000)
            norvane::VirtualStepper::set_key(5, true);
        if (t % 10000 == 5100)
            norvane::VirtualStepper::set_key(5, false);
    });
    unit.after_step = nullptr;

    EXPECT_EQ(unit.main_steps(), end_ms / 25);
    EXPECT_EQ(refused, 0u) << "the unit fell behind the bus";
    EXPECT_GE(injected, end_ms * FRAMES_PER_SECOND / 1000);
    EXPECT_GE(watch.tick_frames, end_ms / 100 - 1);
    for (int m = 0; m < POWER_MODULES; ++m) {
        SCOPED_TRACE("power module " + std::to_string(m + 1));
        EXPECT_GE(watch.sent[m], end_ms / 100 - 1);
        EXPECT_EQ(watch.off_slot[m], 0u);
        EXPECT_EQ(watch.longest_gap_ms[m], 100u);
    }
    if (end_ms > settle_ms) {
        const long growth = resident_kib() - rss_after_settle;
        std::printf("soak: %llu min of unit time, %llu frames in, resident memory %+ld KiB after the first "
                    "minute\n",
                    static_cast<unsigned long long>(end_ms / 60000), static_cast<unsigned long long>(injected),
                    growth);
        EXPECT_LT(growth, 1024) << "resident memory grew by " << growth << " KiB";
        EXPECT_EQ(text_engine_allocations(), allocations_after_settle) << "the font engine kept allocating";
    }
}

}  // namespace
