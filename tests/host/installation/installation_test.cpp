// The plant model: what each module puts on the bus and when, what it does
// with the unit's commands, and the faults a user injects.
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/installation/installation.h"

using namespace installation;

namespace {

std::vector<can_frame> run(plant& p, uint32_t from_ms, uint32_t to_ms)
{
    std::vector<can_frame> frames;
    for (uint32_t t = from_ms; t <= to_ms; ++t) {
        p.step(t);
        can_frame f;
        while (p.take_frame(&f))
            frames.push_back(f);
    }
    return frames;
}

can_frame command(int pwrb, const uint8_t (&outputs)[8])
{
    can_frame f{};
    f.id = 0x18EFB000u + uint32_t(pwrb) * 256;
    f.ext = 1;
    f.len = 6;
    f.data[0] = 0x80;
    for (int o = 0; o < 8; ++o)
        f.data[2 + o / 4] |= uint8_t(outputs[o] << (2 * (o % 4)));
    return f;
}

const can_frame* last_with_id(const std::vector<can_frame>& frames, uint32_t id)
{
    const can_frame* found = nullptr;
    for (const can_frame& f : frames)
        if (f.id == id)
            found = &f;
    return found;
}

}  // namespace

// Over one second every input channel is sent once and every power module
// ten times, spread out: never two frames of one input module in the same
// millisecond, all extended with 8 bytes in the module's format.
TEST(Plant, SteadyCadenceOfEveryModule)
{
    plant p;
    std::vector<can_frame> frames = run(p, 5000, 5999);
    std::map<uint32_t, int> per_id;
    std::map<std::pair<uint32_t, uint64_t>, int> per_module_ms;
    for (const can_frame& f : frames) {
        EXPECT_EQ(f.ext, 1);
        EXPECT_EQ(f.len, 8);
        ++per_id[f.id];
        if ((f.id & 0x1FFF0000u) == 0x18FF0000u && (f.id & 0xFF) < 0x84 && (f.id & 0xFF00) < 0x0A00) {
            ++per_module_ms[{f.id & 0xFF, f.time_us}];
            EXPECT_EQ(f.data[0], (f.id & 0xFF) == 0x83 ? 10 : 13);
            EXPECT_EQ(f.data[1], 1);
        }
    }
    for (uint32_t m = 0; m < 4; ++m)
        for (uint32_t c = 0; c < 10; ++c)
            EXPECT_EQ(per_id[0x18FF0080u + c * 256 + m], 1) << "SENB" << m + 1 << " channel " << c + 1;
    for (uint32_t p8 = 0; p8 < 8; ++p8) {
        EXPECT_EQ(per_id[0x18FFA0B0u + p8], 10);
        EXPECT_EQ(per_id[0x18FFA1B0u + p8], 10);
    }
    EXPECT_EQ(frames.size(), 40u + 160u);
    for (const auto& [key, count] : per_module_ms)
        EXPECT_EQ(count, 1);
}

// A rocker sends at once on each flip, a push button on press and on
// release after the time held; an unchanged set sends nothing extra.
TEST(Plant, SwitchesSendOnChange)
{
    plant p;
    run(p, 0, 2000);
    p.set_switch(1, 2, true);  // SENB2 channel 3
    std::vector<can_frame> now = run(p, 2001, 2001);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0].id, 0x18FF0281u);
    EXPECT_EQ(now[0].data[2], 1);
    p.set_switch(1, 2, true);
    EXPECT_TRUE(run(p, 2002, 2002).empty());

    p.push(0, 1, 300);  // SENB1 channel 2 held 300 ms
    std::vector<can_frame> pressed = run(p, 2003, 2400);
    std::vector<uint8_t> states;
    std::vector<uint64_t> times;
    for (const can_frame& f : pressed)
        if (f.id == 0x18FF0180u) {
            states.push_back(f.data[2]);
            times.push_back(f.time_us / 1000);
        }
    // Pressed at once, released 300 ms later; the periodic frame between
    // repeats the pressed state.
    ASSERT_GE(states.size(), 2u);
    EXPECT_EQ(states.front(), 1);
    EXPECT_EQ(times.front(), 2003u);
    EXPECT_EQ(states.back(), 0);
    EXPECT_EQ(times.back(), 2303u);
    for (size_t i = 0; i + 1 < states.size(); ++i)
        EXPECT_EQ(states[i], 1) << "at " << times[i];
    EXPECT_EQ(p.read().switch_on[0][1], 0);
}

// The tank senders' curves: fuel 0 V empty to 5 V full and on to 6.25 V,
// water 4.9 V empty to 2.5 V full; a value outside the scale is clamped.
TEST(Plant, TankSendersFollowTheirCurves)
{
    struct tank_case {
        int tank;
        double percent;
        uint16_t mv;
        double shown;
    } cases[] = {
        {0, 0, 0, 0},        {0, 50, 2500, 50},   {1, 100, 5000, 100}, {1, 125, 6250, 125},
        {0, 400, 6250, 125}, {0, -5, 0, 0},       {2, 0, 4900, 0},     {2, 50, 3700, 50},
        {3, 100, 2500, 100}, {3, 150, 2500, 100}, {2, -10, 4900, 0},
    };
    for (const tank_case& c : cases) {
        plant p;
        run(p, 0, 10);
        p.set_tank_percent(c.tank, c.percent);
        std::vector<can_frame> frames = run(p, 11, 11);
        const can_frame* f = last_with_id(frames, 0x18FF0083u + uint32_t(c.tank) * 256);
        snapshot s = p.read();
        EXPECT_EQ(s.analog_mv[c.tank], c.mv) << "tank " << c.tank + 1 << " at " << c.percent << " %";
        EXPECT_DOUBLE_EQ(s.tank_percent[c.tank], c.shown);
        if (c.mv != (c.tank < 2 ? 0 : 4900)) {
            ASSERT_NE(f, nullptr) << "tank " << c.tank + 1 << " at " << c.percent << " %";
            EXPECT_EQ(f->data[2] | f->data[3] << 8, c.mv);
        }
    }
    plant p;
    p.set_volts(2, 3.7);
    EXPECT_DOUBLE_EQ(p.read().tank_percent[2], 50);
    p.set_volts(7, 12.5);  // a free channel: volts only
    EXPECT_EQ(p.read().analog_mv[7], 12500);

    // A tank the page does not have moves no channel: not the free ones
    // (whose tank is none), and no level past the four.
    for (int tank : {-1, TANK_COUNT}) {
        plant q;
        run(q, 0, 10);
        q.set_tank_percent(tank, 80);
        const snapshot s = q.read();
        for (int c = 0; c < INPUT_CHANNELS; ++c)
            EXPECT_EQ(s.analog_mv[c], plant().read().analog_mv[c]) << "tank " << tank << ", channel " << c + 1;
        EXPECT_TRUE(run(q, 11, 11).empty()) << "tank " << tank;
    }
}

// A power module applies the newest command addressed to it; one that stops
// obeying keeps its outputs, a silent one sends nothing and hears nothing.
TEST(Plant, CommandsFaultsAndSilence)
{
    plant p;
    p.on_frame_from_unit(command(2, {1, 0, 1, 0, 0, 0, 0, 1}));
    snapshot s = p.read();
    EXPECT_TRUE(s.outputs[2][0].lit());
    EXPECT_FALSE(s.outputs[2][1].lit());
    EXPECT_TRUE(s.outputs[2][7].lit());
    EXPECT_FALSE(s.outputs[1][0].lit());

    can_frame standard = command(2, {0, 0, 0, 0, 0, 0, 0, 0});
    standard.ext = 0;
    p.on_frame_from_unit(standard);  // not a command: an 11-bit identifier
    EXPECT_TRUE(p.read().outputs[2][0].lit());

    p.set_obeying(2, false);
    p.on_frame_from_unit(command(2, {0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(p.read().outputs[2][0].lit());
    p.set_obeying(2, true);
    p.set_module_on(power_module_index(2), false);
    p.on_frame_from_unit(command(2, {0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(p.read().outputs[2][0].lit());

    std::vector<can_frame> frames = run(p, 0, 999);
    EXPECT_EQ(last_with_id(frames, 0x18FFA0B2u), nullptr);
    p.set_module_on(power_module_index(2), true);
    p.set_module_on(0, false);  // SENB1
    frames = run(p, 1000, 1999);
    EXPECT_NE(last_with_id(frames, 0x18FFA0B2u), nullptr);
    for (const can_frame& f : frames)
        EXPECT_NE(f.id & 0xFF, 0x80u) << std::hex << f.id;
}

// Each output's state and code land in its own field of the status and
// codes messages; healthy outputs report 0.
TEST(Plant, FaultFieldsOfEachOutput)
{
    struct field {
        int output;
        int status_byte, status_shift;
        int codes_byte, codes_shift;
    } fields[] = {
        {0, 1, 0, 1, 0}, {1, 1, 2, 1, 4}, {2, 1, 4, 2, 0}, {3, 1, 6, 2, 4},
        {4, 2, 0, 3, 0}, {5, 2, 2, 3, 4}, {6, 2, 4, 4, 0},
    };
    for (const field& f : fields) {
        plant p;
        p.set_fault(5, f.output, 3, 11);
        std::vector<can_frame> frames = run(p, 0, 100);
        const can_frame* status = last_with_id(frames, 0x18FFA0B5u);
        const can_frame* codes = last_with_id(frames, 0x18FFA1B5u);
        ASSERT_NE(status, nullptr);
        ASSERT_NE(codes, nullptr);
        uint8_t want_status[8] = {}, want_codes[8] = {};
        want_status[f.status_byte] = uint8_t(3 << f.status_shift);
        want_codes[f.codes_byte] = uint8_t(11 << f.codes_shift);
        for (int b = 0; b < 8; ++b) {
            EXPECT_EQ(status->data[b], want_status[b]) << "output " << f.output + 1 << " byte " << b;
            EXPECT_EQ(codes->data[b], want_codes[b]) << "output " << f.output + 1 << " byte " << b;
        }
        const can_frame* healthy = last_with_id(frames, 0x18FFA1B4u);
        ASSERT_NE(healthy, nullptr);
        for (uint8_t byte : healthy->data)
            EXPECT_EQ(byte, 0);
    }
}

// The unit's thread steps the plant every unit millisecond, hands it
// commands and takes its frames while a window's thread calls every setter
// and reads snapshots. Afterwards the last values set are the ones read and
// sent, the newest command is the one applied, and every frame the plant
// counted as sent was taken once.
TEST(Plant, UnitThreadAndWindowThreadTogether)
{
    plant p;
    // Each side goes on until the other has done its share, so they overlap.
    std::atomic<bool> window_done{false};
    std::atomic<uint32_t> unit_reached{0};
    uint64_t taken = 0;
    uint32_t unit_ms = 0;
    std::thread unit([&] {
        can_frame f;
        for (; unit_ms < 3000 || !window_done.load(); ++unit_ms) {
            unit_reached.store(unit_ms);
            if (unit_ms % 25 == 0) {
                const uint8_t on = uint8_t(unit_ms / 200 % 2);
                p.on_frame_from_unit(command(int(unit_ms / 25 % 8), {on, 1, on, 0, 0, 0, 0, 0}));
            }
            p.step(unit_ms);
            while (p.take_frame(&f))
                ++taken;
        }
    });
    uint64_t sent_before = 0;
    bool sent_grows = true;
    for (int i = 0; i < 3000 || unit_reached.load() < 2999; ++i) {
        p.set_switch(i % 3, i % 10, i % 2 != 0);
        p.push(i % 3, (i + 5) % 10, uint32_t(i % 50));
        p.set_tank_percent(i % 4, i % 130);
        p.set_volts(4 + i % 6, (i % 70) / 10.0);
        p.set_fault(i % 8, i % 7, uint8_t(i % 4), uint8_t(i % 16));
        p.set_module_on(i % 12, i % 4 != 0);
        p.set_obeying(i % 8, i % 3 != 0);
        EXPECT_EQ(p.module_by_name("PWRB3"), power_module_index(2));
        const snapshot s = p.read();
        sent_grows = sent_grows && s.frames_sent >= sent_before;
        sent_before = s.frames_sent;
    }
    window_done = true;
    unit.join();
    EXPECT_TRUE(sent_grows);

    // The last word of each side, then a second of unit time so every
    // channel and module sends what it has.
    for (int m = 0; m < module_count(); ++m)
        p.set_module_on(m, true);
    for (int q = 0; q < POWER_MODULES; ++q) {
        p.set_obeying(q, true);
        p.on_frame_from_unit(command(q, {uint8_t(q % 2), uint8_t(1 - q % 2), 1, 0, 0, 0, 0, 1}));
    }
    p.set_switch(0, 0, true);
    p.set_switch(2, 9, false);
    p.set_tank_percent(0, 40);
    p.set_volts(9, 7.5);
    p.set_fault(3, 1, 2, 5);
    const std::vector<can_frame> last = run(p, unit_ms, unit_ms + 1100);
    taken += last.size();

    const snapshot s = p.read();
    EXPECT_EQ(taken, s.frames_sent);
    EXPECT_EQ(s.switch_on[0][0], 1);
    EXPECT_EQ(s.switch_on[2][9], 0);
    EXPECT_EQ(s.analog_mv[0], 2000);
    EXPECT_DOUBLE_EQ(s.tank_percent[0], 40);
    EXPECT_EQ(s.analog_mv[9], 7500);
    EXPECT_EQ(s.outputs[3][1].state, 2);
    EXPECT_EQ(s.outputs[3][1].code, 5);
    for (int q = 0; q < POWER_MODULES; ++q) {
        EXPECT_EQ(s.outputs[q][0].command, q % 2) << "PWRB" << q + 1;
        EXPECT_EQ(s.outputs[q][1].command, 1 - q % 2) << "PWRB" << q + 1;
        EXPECT_EQ(s.outputs[q][7].command, 1) << "PWRB" << q + 1;
    }
    // The other outputs' fields hold what the window's thread left there.
    struct sent_case {
        uint32_t id;
        int byte;
        uint8_t mask, value;
    } sent[] = {
        {0x18FF0080u, 2, 0xFF, 1},     // SENB1 channel 1 on
        {0x18FF0982u, 2, 0xFF, 0},     // SENB3 channel 10 off
        {0x18FF0083u, 2, 0xFF, 0xD0},  // fuel 1 at 40 %: 2000 mV
        {0x18FF0083u, 3, 0xFF, 0x07},
        {0x18FF0983u, 2, 0xFF, 0x4C},  // SENB4 channel 10 at 7.5 V
        {0x18FF0983u, 3, 0xFF, 0x1D},
        {0x18FFA0B3u, 1, 3 << 2, 2 << 2},    // PWRB4 output 2: state 2
        {0x18FFA1B3u, 1, 0xF0, 5 << 4},      // and code 5
    };
    for (const sent_case& c : sent) {
        const can_frame* f = last_with_id(last, c.id);
        ASSERT_NE(f, nullptr) << std::hex << c.id;
        EXPECT_EQ(f->data[c.byte] & c.mask, c.value) << std::hex << c.id << " byte " << c.byte;
    }
}
