// The key engine in virtual time: presses, releases and holds as the host's
// button levels reach the tick and the main loop.
#include <vector>

#include <gtest/gtest.h>

#include "screens/panel.h"
#include "model/model.h"
#include "screens/keys.h"
#include "support/unit_fixture.h"
#include "host/core/host_keys.h"

namespace {

using norvane::VirtualStepper;

struct call {
    char kind;  // 'p' press, 'r' release, 'h' hold
    int key;
    uint64_t at;
};
std::vector<call> calls;
VirtualStepper* unit_for_log = nullptr;

template <char Kind, int Key>
void record()
{
    calls.push_back({Kind, Key, unit_for_log ? unit_for_log->now() : 0});
}

class KeyEngine : public norvane::testing::UnitTest {
protected:
    VirtualStepper& boot()
    {
        calls.clear();
        VirtualStepper& unit = start();
        // The keys are tested on their own: no start-up page takes them over.
        first_step_done.store(1);
        unit_for_log = &unit;
        key_clear_handlers();
        return unit;
    }
    void TearDown() override { unit_for_log = nullptr; }
};

TEST_F(KeyEngine, PressAndReleaseWithinOneStepGiveOneReleaseCall)
{
    VirtualStepper& unit = boot();
    key_set_release_handler(record<'r', 2>, 2);
    unit.run_until(26);
    unit.set_key(3, true);  // F3 = key 2
    unit.run_until(35);     // the tick at 30 sees the press
    unit.set_key(3, false);
    unit.run_until(500);    // the tick at 40 sees the release; the step at 50 dispatches
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, 'r');
    EXPECT_EQ(calls[0].at, 50u);
}

TEST_F(KeyEngine, HoldFiresOnceAndSwallowsRelease)
{
    // Whatever the phase of the 100 ms divider, a hold time of 20 fires 1.81 to
    // 1.90 s after the tick that saw the press, plus the wait for a main step.
    VirtualStepper& unit = boot();
    key_set_hold_handler(record<'h', 1>, 1, 20);
    key_set_release_handler(record<'r', 1>, 1);
    uint64_t base = 0;
    for (uint64_t phase : {1u, 12u, 47u, 95u, 133u}) {
        SCOPED_TRACE(phase);
        calls.clear();
        unit.run_until(base + phase);
        unit.set_key(2, true);
        const uint64_t seen_at = (unit.now() + 9) / 10 * 10;
        unit.advance(2500);
        unit.set_key(2, false);
        unit.advance(500);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].kind, 'h');
        EXPECT_GE(calls[0].at - seen_at, 1810u);
        EXPECT_LE(calls[0].at - seen_at, 1900u + 25u);
        base += 4000;
    }
}

TEST_F(KeyEngine, ShortPressGivesPressThenNothingOrRelease)
{
    VirtualStepper& unit = boot();
    key_set_press_handler(record<'p', 0>, 0);
    key_set_release_handler(record<'r', 4>, 4);
    key_set_hold_handler(record<'h', 4>, 4, 20);
    unit.tap(1, 200);
    unit.tap(5, 300);
    unit.advance(200);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, 'p');
    EXPECT_EQ(calls[1].kind, 'r');
    EXPECT_EQ(calls[1].key, 4);
}

TEST_F(KeyEngine, TwoButtonsInOneTickDispatchInTwoStepsLowerFirst)
{
    VirtualStepper& unit = boot();
    key_set_press_handler(record<'p', 3>, 3);
    key_set_press_handler(record<'p', 1>, 1);
    unit.run_until(52);
    unit.set_key(4, true);
    unit.set_key(2, true);
    unit.advance(200);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].key, 1);
    EXPECT_EQ(calls[1].key, 3);
    EXPECT_EQ(calls[0].at, 75u);
    EXPECT_EQ(calls[1].at, 100u);
}

TEST_F(KeyEngine, FourButtonCombinationRestoresBrightnessAndDispatchesNothing)
{
    VirtualStepper& unit = boot();
    for (int k = 0; k < 4; ++k)
        key_set_press_handler(record<'p', 9>, uint8_t(k));
    keypad_level = 0;
    display_level = 3;
    unit.run_until(52);
    for (int b = 1; b <= 4; ++b)
        unit.set_key(b, true);
    unit.advance(100);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(keypad_level.load(), 2);
    EXPECT_EQ(display_level.load(), 10);
    // Every step while they are held restores the levels again.
    keypad_level = 1;
    unit.advance(25);
    EXPECT_EQ(keypad_level.load(), 2);
}

TEST_F(KeyEngine, CombinationDoesNotFireWithTheFifthButtonDown)
{
    VirtualStepper& unit = boot();
    keypad_level = 0;
    display_level = 3;
    unit.run_until(52);
    for (int b = 1; b <= 5; ++b)
        unit.set_key(b, true);
    unit.advance(200);
    EXPECT_EQ(keypad_level.load(), 0);
    EXPECT_EQ(display_level.load(), 3);
}

TEST_F(KeyEngine, SettersIgnoreKeysAboveFour)
{
    boot();
    key_set_press_handler(record<'p', 5>, 5);
    key_set_release_handler(record<'r', 5>, 5);
    key_set_hold_handler(record<'h', 5>, 5, 7);
    for (const softkey& k : hmi_softkeys) {
        EXPECT_EQ(k.on_press.load(), nullptr);
        EXPECT_EQ(k.on_release.load(), nullptr);
        EXPECT_EQ(k.on_hold.load(), nullptr);
    }
    for (const auto& h : key_hold_time)
        EXPECT_EQ(h.load(), KEY_DEFAULT_HOLD_TIME);
}

// The engine's own countdown, one 100 ms step per call: a running timer
// steps down, a stopped one (0) stays stopped.
TEST_F(KeyEngine, HoldCountdownStepsEveryRunningTimerOnceAndStopsAtZero)
{
    boot();
    const uint8_t start[KEY_COUNT] = {0, 1, 2, 20, 255};
    const uint8_t after[KEY_COUNT] = {0, 0, 1, 19, 254};
    for (uint8_t i = 0; i < KEY_COUNT; ++i)
        key_hold_timer[i].store(start[i]);
    key_hold_countdown();
    for (uint8_t i = 0; i < KEY_COUNT; ++i)
        EXPECT_EQ(key_hold_timer[i].load(), after[i]) << "key " << int(i);
}

TEST_F(KeyEngine, HostLevelsSetAndClearOneBitPerButton)
{
    boot();
    VirtualStepper::set_key(3, true);
    EXPECT_EQ(key_input_mask.load(), 0x04);
    VirtualStepper::set_key(5, true);
    VirtualStepper::set_key(3, false);
    // No tick has sampled button 3 yet: its release waits for one.
    EXPECT_EQ(key_input_mask.load(), 0x14);
    norvane::host_keys_before_tick();
    norvane::host_keys_after_tick();
    EXPECT_EQ(key_input_mask.load(), 0x10);
    VirtualStepper::set_key(6, true);  // no such button
    EXPECT_EQ(key_input_mask.load(), 0x10);
}

}  // namespace
