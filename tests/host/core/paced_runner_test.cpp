// The window's unit in unit time: inputs from other threads act at unit
// milliseconds, a recording of them replays in virtual time to the same
// checks, and Step and Run For run exactly the unit time asked.
#include "host/core/paced_runner.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/core/expectation.h"
#include "host/core/scenario_recorder.h"
#include "host/core/scenario_suite.h"
#include "host/core/unit_session.h"
#include "seam/unit.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;

class Paced : public norvane::testing::UnitTest {
protected:
    void SetUp() override
    {
        app_reset();
        UnitTest::SetUp();
        char reason[256] = {};
        for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
            ASSERT_EQ(hal_can_map_port(port, "virtual", reason, sizeof reason), 1) << reason;
    }
    void TearDown() override { app_reset(); }

    // Waits (on a condition, never on the clock's figures) until `done`.
    static bool until(const std::function<bool()>& done)
    {
        for (int i = 0; i < 20000 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    }
    // An installation's action as a scenario line says it.
    static scenario_action line(const std::string& text)
    {
        std::vector<scenario_action> actions;
        std::string error;
        EXPECT_TRUE(parse_scenario(text, "s.txt", actions, error)) << error;
        return actions.empty() ? scenario_action{} : actions.front();
    }
    static scenario_action input(action_kind kind, int value)
    {
        scenario_action a;
        a.kind = kind;
        a.value = value;
        return a;
    }
};

// Step (25 ms) and a tick's 10 ms from a pause run exactly that much unit
// time, one main step and one tick; a pause waits until the unit stands.
TEST_F(Paced, StepAndRunForRunExactlyTheUnitTimeAsked)
{
    UnitSession session;
    std::mutex lock;
    std::condition_variable woke;
    int pauses = 0;
    PacedRunner::hooks hooks;
    hooks.paused = [&] {
        std::lock_guard<std::mutex> hold(lock);
        ++pauses;
        woke.notify_all();
    };
    PacedRunner runner(session, hooks);
    runner.set_speed(PacedRunner::AS_FAST_AS_POSSIBLE);
    runner.start();
    const auto run_and_wait = [&](uint64_t ms) {
        std::unique_lock<std::mutex> hold(lock);
        const int before = pauses;
        runner.run_for(ms);
        return woke.wait_for(hold, std::chrono::seconds(20), [&] { return pauses > before; });
    };
    ASSERT_TRUE(run_and_wait(1000));
    EXPECT_EQ(runner.now(), 1000u);
    EXPECT_TRUE(runner.is_paused());
    const RunnerStats at = runner.stats();
    EXPECT_EQ(at.main_steps, 40u);
    EXPECT_EQ(at.ticks, 100u);

    ASSERT_TRUE(run_and_wait(25));
    EXPECT_EQ(runner.now(), 1025u) << "Step: 25 ms of unit time";
    EXPECT_EQ(runner.stats().main_steps, at.main_steps + 1);
    ASSERT_TRUE(run_and_wait(10));
    EXPECT_EQ(runner.now(), 1035u);
    EXPECT_EQ(runner.stats().ticks, at.ticks + 3) << "1000..1035 holds the ticks at 1010, 1020 and 1030";

    // Running freely, a pause returns with the unit standing still.
    runner.set_paused(false);
    ASSERT_TRUE(until([&] { return runner.now() > 2000; }));
    runner.set_paused(true);
    const uint64_t stood = runner.now();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(runner.now(), stood);
}

// Inputs posted while paused act at the first millisecond after it, in the
// order posted: a press and its release in one millisecond are both
// applied, and the tick still sees the press.
TEST_F(Paced, InputsActAtTheNextMillisecondInTheirOrder)
{
    UnitSession session;
    std::vector<scenario_action> applied;
    PacedRunner::hooks hooks;
    hooks.applied = [&](const scenario_action& a) { applied.push_back(a); };
    PacedRunner runner(session, hooks);
    runner.set_speed(PacedRunner::AS_FAST_AS_POSSIBLE);
    runner.start();
    runner.run_for(3000);
    ASSERT_TRUE(until([&] { return runner.is_paused() && runner.now() == 3000; }));
    runner.post(input(action_kind::press, 3));
    runner.post(input(action_kind::release, 3));
    runner.post(input(action_kind::event, 1));
    runner.run_for(10);
    ASSERT_TRUE(until([&] { return runner.is_paused() && runner.now() == 3010; }));
    ASSERT_EQ(applied.size(), 3u);
    for (const scenario_action& a : applied)
        EXPECT_EQ(a.ms, 3001u);
    EXPECT_EQ(applied[0].kind, action_kind::press);
    EXPECT_EQ(applied[1].kind, action_kind::release);
    EXPECT_EQ(applied[2].kind, action_kind::event);
}

// The point of it all: a session driven from another thread at whatever
// wall moments, recorded as the window records it, replays in virtual time
// with every check passing: the screen, the 64 outputs and the commands.
TEST_F(Paced, ARecordedSessionReplaysInVirtualTimeWithEveryCheckPassing)
{
    const installation::description layout = installation::default_description();
    const std::string file = (dir_ / "rec.txt").string();
    {
        UnitSession session(&layout);
        ScenarioRecorder recorder;
        CommandFrames commands;
        session.on_unit_sent([&](uint8_t port, uint64_t ms, const can_frame& f) { commands.sent(port, ms, f); });
        PacedRunner::hooks hooks;
        hooks.applied = [&](const scenario_action& a) { recorder.action(a); };
        PacedRunner runner(session, hooks);
        std::string why;
        ASSERT_TRUE(recorder.open(file, {"", true, "", {}}, why)) << why;
        runner.set_speed(20);
        runner.start();
        runner.set_paused(false);
        const auto at_least = [&](uint64_t ms) { ASSERT_TRUE(until([&] { return runner.now() >= ms; })); };
        const auto check = [&] {
            std::mutex lock;
            bool done = false;
            runner.post_work([&](uint64_t now) {
                const std::string picture = recorder.next_picture_name();
                std::string reason;
                EXPECT_TRUE(write_screenshot((dir_ / picture).string(), *gfx_front_buffer(), reason)) << reason;
                expectation e;
                e.ms = now;
                e.kind = expect_kind::screen;
                e.file = picture;
                recorder.expect(e);
                for (const expectation& o : output_expectations(session.plant()->read(), now))
                    recorder.expect(o);
                for (const expectation& c : commands.expectations(now))
                    recorder.expect(c);
                std::lock_guard<std::mutex> hold(lock);
                done = true;
            });
            ASSERT_TRUE(until([&] {
                std::lock_guard<std::mutex> hold(lock);
                return done;
            }));
        };
        at_least(2600);
        runner.post(input(action_kind::press, 3));  // INSIDE LIGHTS on
        runner.post(input(action_kind::release, 3));
        at_least(2900);
        runner.post(line("0 switch SENB1 1 on"));
        runner.post(line("0 tank 1 57"));
        at_least(3400);
        runner.post(input(action_kind::press, 4));
        at_least(3450);
        runner.post(input(action_kind::release, 4));
        // Every other kind of input a session can get: a push button, a
        // sender's volts, a fault, a module falling silent and coming back,
        // a test event and a frame from outside on the bus.
        at_least(3600);
        runner.post(line("0 push SENB1 2 300"));
        runner.post(line("0 volts 5 3.25"));
        runner.post(line("0 fault PWRB4 2 0 3"));
        runner.post(line("0 module PWRB8 off"));
        runner.post(input(action_kind::event, 1));
        runner.post(line("0 can 0 18FEEE99#AABB"));
        at_least(4200);
        runner.post(line("0 module PWRB8 on"));
        at_least(4500);
        check();
        at_least(5200);
        check();
        runner.set_paused(true);
        ASSERT_TRUE(recorder.close(runner.now(), why)) << why;
        runner.stop();
    }
    app_reset();
    run_options options;
    options.workdir = (dir_ / "replay").string();
    options.installation = true;
    options.duration_ms = 60000;
    options.quiet = true;
    std::string error;
    ASSERT_TRUE(load_scenario(file, options.actions, options.expectations, error)) << error;
    ASSERT_GT(options.expectations.size(), 2u * (1 + 64));
    ProgressLine progress(stderr, false);
    const scenario_report report = run_scenario(options, file, progress);
    EXPECT_EQ(report.passed, options.expectations.size()) << ::testing::PrintToString(report.failures)
                                                          << norvane::testing::read_file(file);
    EXPECT_TRUE(report.failures.empty());
    // Every kind of input made its line.
    const std::string text = norvane::testing::read_file(file);
    for (const char* verb : {" press 3\n", " release 4\n", " switch SENB1 1 on\n", " tank 1 57\n", " push SENB1 2 300\n",
                             " volts 5 3.25\n", " fault PWRB4 2 0 3\n", " module PWRB8 off\n", " module PWRB8 on\n",
                             " event 1\n", " can 0 18FEEE99#AABB\n"})
        EXPECT_NE(text.find(verb), std::string::npos) << verb << " is not in\n" << text;
}

// What a port's own back end gives the unit (here a trace on port 0: module
// status frames, a switch) is recorded as 'can' lines at the main step that
// took each frame, and a replay on the virtual bus reaches the same screen;
// without those lines it does not.
TEST_F(Paced, FramesFromAPortsBackEndAreRecordedAndReplayOnTheVirtualBus)
{
    const std::string trace = (dir_ / "bus.log").string();
    norvane::testing::write_file(trace,
                                 "(10.000000) can0 18FFA0B1#0000000000000000\n"
                                 "(10.000000) can0 18FF0081#0D01000000000000\n"
                                 "(13.250000) can0 18FFA0B0#0000000000000000\n"
                                 "(13.250000) can0 18FFA1B3#0030000000000000\n"
                                 "(13.250000) can0 18FF0080#0D01010000000000\n"
                                 // Far off, so the trace does not start over during the session.
                                 "(70.000000) can0 18FFA0B5#0000000000000000\n");
    char reason[256] = {};
    ASSERT_EQ(hal_can_map_port(0, ("trace:" + trace).c_str(), reason, sizeof reason), 1) << reason;
    const std::string file = (dir_ / "rec.txt").string();
    {
        UnitSession session;
        ScenarioRecorder recorder;
        CommandFrames commands;
        std::vector<uint64_t> taken;  // the unit times the trace's frames were taken at
        session.on_unit_sent([&](uint8_t port, uint64_t ms, const can_frame& f) { commands.sent(port, ms, f); });
        session.on_outside_received([&](uint8_t port, uint64_t ms, const can_frame& f) {
            recorder.action(can_action(ms, port, f));
            taken.push_back(ms);
        });
        PacedRunner::hooks hooks;
        hooks.applied = [&](const scenario_action& a) { recorder.action(a); };
        PacedRunner runner(session, hooks);
        std::string why;
        ASSERT_TRUE(recorder.open(file, {}, why)) << why;
        runner.set_speed(20);
        runner.start();
        runner.set_paused(false);
        const auto at_least = [&](uint64_t ms) { ASSERT_TRUE(until([&] { return runner.now() >= ms; })); };
        at_least(3100);
        runner.post(input(action_kind::press, 1));  // the module status page
        at_least(3200);
        runner.post(input(action_kind::release, 1));
        at_least(3500);
        runner.set_paused(true);
        const uint64_t now = runner.now();
        const std::string picture = recorder.next_picture_name();
        ASSERT_TRUE(write_screenshot((dir_ / picture).string(), *gfx_front_buffer(), why)) << why;
        expectation e;
        e.ms = now;
        e.kind = expect_kind::screen;
        e.file = picture;
        recorder.expect(e);
        for (const expectation& c : commands.expectations(now))
            recorder.expect(c);
        ASSERT_TRUE(recorder.close(now, why)) << why;
        runner.stop();
        ASSERT_EQ(taken.size(), 5u);
        for (uint64_t ms : taken)
            EXPECT_EQ(ms % 25, 0u) << "a frame is taken by a main step";
        EXPECT_GE(taken.back(), 3250u);
    }
    const std::string text = norvane::testing::read_file(file);
    EXPECT_NE(text.find(" can 0 18FF0080#0D01010000000000\n"), std::string::npos) << text;
    const auto replay = [&](const std::string& scenario, const std::string& folder) {
        app_reset();
        run_options options;
        options.workdir = (dir_ / folder).string();
        options.duration_ms = 60000;
        options.quiet = true;
        std::string error;
        EXPECT_TRUE(load_scenario(scenario, options.actions, options.expectations, error)) << error;
        ProgressLine progress(stderr, false);
        return run_scenario(options, scenario, progress);
    };
    const scenario_report report = replay(file, "replay");
    EXPECT_GE(report.passed, 1u);
    EXPECT_TRUE(report.failures.empty()) << ::testing::PrintToString(report.failures) << text;
    // The same file without the trace's frames: the module status page
    // shows none of those modules heard.
    std::string without;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        const std::string one = text.substr(at, end - at);
        if (one.find(" can 0 18FF") == std::string::npos)
            without += one + "\n";
    }
    const std::string stripped = (dir_ / "without.txt").string();
    norvane::testing::write_file(stripped, without);
    EXPECT_FALSE(replay(stripped, "replay_without").failures.empty()) << without;
}

}  // namespace
