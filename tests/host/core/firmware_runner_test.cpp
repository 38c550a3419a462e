// The real-time runner: two threads paced by timers, the frame hand-over with
// the host, pause, stop and the exit request. These tests run in real time
// (the runner's subject is real time) but wait only for short, bounded spans.
#include "host/core/firmware_runner.h"

#include <chrono>
#include <thread>

#include "host/core/host_keys.h"
#include "platform/hal.h"
#include "screens/keys.h"
#include "support/unit_fixture.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls `done` every millisecond for at most `limit`. The default limit is
// generous: a loaded machine makes a test slower, never wrong.
template <class Pred>
bool wait_for(Pred done, std::chrono::milliseconds limit = 10000ms)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class FirmwareRunnerTest : public testing::UnitTest {};

TEST_F(FirmwareRunnerTest, PauseStopsTicksAndStepsAndReleasesAWaitingFrame)
{
    std::atomic<int> repaints{0};
    FirmwareRunner runner({.repaint = [&] { repaints.fetch_add(1); }});
    runner.set_realtime_priority(false);
    runner.init();
    runner.start();
    EXPECT_TRUE(runner.is_paused());
    EXPECT_TRUE(runner.set_paused(false));

    // Nobody takes frames: the first step presents at once, the second waits
    // in gfx_present for the host.
    ASSERT_TRUE(wait_for([&] { return repaints.load() >= 1; }));
    // The ticks go on meanwhile: two frame periods of them and still one step.
    const uint64_t ticks_at_first = runner.stats().ticks;
    ASSERT_TRUE(wait_for([&] { return runner.stats().ticks >= ticks_at_first + 5; }));
    EXPECT_EQ(runner.stats().main_steps, 1u);

    EXPECT_FALSE(runner.set_paused(true));
    ASSERT_TRUE(wait_for([&] { return runner.stats().main_steps == 2; }))
        << "pausing must release the step waiting for its frame";

    // Paused, nothing moves: a count that changes within six tick periods
    // fails at once (a slow machine can only make this pass later, never
    // fail it).
    const RunnerStats paused = runner.stats();
    EXPECT_FALSE(wait_for(
        [&] {
            const RunnerStats now = runner.stats();
            return now.main_steps != paused.main_steps || now.ticks != paused.ticks;
        },
        60ms));

    // Play re-arms both timers from now.
    EXPECT_TRUE(runner.set_paused(false));
    EXPECT_FALSE(runner.is_paused());
    ASSERT_TRUE(wait_for([&] { return runner.stats().ticks > paused.ticks; }));
    runner.stop();
}

TEST_F(FirmwareRunnerTest, HostThatTakesEveryFrameKeepsTheMainLoopRunning)
{
    std::atomic<int> frames{0};
    FirmwareRunner runner({.take_frame = [&](const frame_buffer&) { frames.fetch_add(1); }});
    runner.set_realtime_priority(false);
    runner.init();
    runner.start();
    runner.set_paused(false);
    // The ticks run beside the steps, at 2.5 times their rate: wait until they
    // are ahead by twice the steps (a starved tick thread catches up late,
    // not never).
    ASSERT_TRUE(wait_for([&] {
        const RunnerStats now = runner.stats();
        return frames.load() >= 4 && now.ticks >= 2 * now.main_steps;
    }));
    runner.stop();
    const RunnerStats s = runner.stats();
    EXPECT_EQ(uint64_t(frames.load()), s.main_steps);
}

TEST_F(FirmwareRunnerTest, ButtonLevelsSetAndClearTheirBitOnceATickSawThem)
{
    key_input_mask.store(0);
    host_key_set(3, true);
    EXPECT_EQ(key_input_mask.load(), 0x04);
    host_key_set(5, true);
    EXPECT_EQ(key_input_mask.load(), 0x14);
    // No tick has sampled button 3 yet: it stays down for one.
    host_key_set(3, false);
    EXPECT_EQ(key_input_mask.load(), 0x14);
    host_keys_before_tick();
    key_sample();
    host_keys_after_tick();
    EXPECT_EQ(key_input_mask.load(), 0x10);
    host_key_set(5, false);
    EXPECT_EQ(key_input_mask.load(), 0x00) << "a sampled press is released at once";
    host_key_set(0, true);
    host_key_set(6, true);
    EXPECT_EQ(key_input_mask.load(), 0x00);
}

// The window's thread clicks while the tick thread samples: each instant
// click is held for a tick and then let go (a race here shows under TSan).
TEST_F(FirmwareRunnerTest, InstantClicksWhileTheTickRunsAreEachHeldForATick)
{
    FirmwareRunner runner({.take_frame = [](const frame_buffer&) {}});
    runner.set_realtime_priority(false);
    runner.init();
    runner.start();
    runner.set_paused(false);
    for (int click = 0; click < 10; ++click) {
        SCOPED_TRACE(click);
        const uint64_t ticks = runner.stats().ticks;
        host_key_set(2, true);
        host_key_set(2, false);
        ASSERT_TRUE(wait_for([&] { return key_input_mask.load() == 0 && runner.stats().ticks > ticks; }));
    }
    runner.stop();
}

TEST_F(FirmwareRunnerTest, ExitRequestIsReportedOnceAfterTheStepThatRaisedIt)
{
    std::atomic<int> reports{0};
    std::atomic<int32_t> code{0};
    std::atomic<uint64_t> steps_at_report{0};
    FirmwareRunner* self = nullptr;
    FirmwareRunner runner({.exit_requested =
                               [&](int32_t c) {
                                   code.store(c);
                                   steps_at_report.store(self->stats().main_steps);
                                   reports.fetch_add(1);
                               },
                           .take_frame = [](const frame_buffer&) {}});
    self = &runner;
    runner.set_realtime_priority(false);
    runner.init();
    runner.start();
    sys_request_exit(7);
    runner.set_paused(false);
    ASSERT_TRUE(wait_for([&] { return reports.load() == 1; }));
    // The ticks go on after the request; over eight of them (three frame
    // periods) no step runs and nothing is reported again.
    const uint64_t ticks_at_report = runner.stats().ticks;
    ASSERT_TRUE(wait_for([&] { return runner.stats().ticks >= ticks_at_report + 8; }));
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(code.load(), 7);
    EXPECT_EQ(steps_at_report.load(), 1u);
    EXPECT_EQ(runner.stats().main_steps, 1u) << "no step after the exit request";
    runner.stop();
}

TEST_F(FirmwareRunnerTest, StopEndsBothThreadsPromptly)
{
    struct Case {
        const char* name;
        bool paused;
    };
    for (const Case c : {Case{"paused", true}, Case{"waiting for a frame", false}}) {
        SCOPED_TRACE(c.name);
        std::atomic<int> repaints{0};
        FirmwareRunner runner({.repaint = [&] { repaints.fetch_add(1); }});
        runner.set_realtime_priority(false);
        runner.init();
        runner.start();
        runner.set_paused(false);
        ASSERT_TRUE(wait_for([&] { return repaints.load() >= 1; }));
        // A few ticks more: the second step is waiting for its frame.
        const uint64_t ticks = runner.stats().ticks;
        ASSERT_TRUE(wait_for([&] { return runner.stats().ticks >= ticks + 3; }));
        if (c.paused)
            runner.set_paused(true);
        // stop returns once both threads saw the flag and were joined; a
        // thread that misses it hangs the test until its time-out.
        runner.stop();
        const RunnerStats after = runner.stats();
        runner.stop();  // a second stop does nothing
        EXPECT_EQ(runner.stats().ticks, after.ticks);
    }
}

}  // namespace
}  // namespace norvane
