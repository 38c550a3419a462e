#include "host/core/headless_run.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "seam/can_candump.h"
#include "host/core/unit_workdir.h"
#include "runtime/app.h"
#include "runtime/events.h"
#include "platform/hal.h"
#include "gfx/gfx.h"
#include "screens/keys.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;
using norvane::testing::read_file;
using norvane::testing::TempDir;
using norvane::testing::write_file;

int parse(std::vector<std::string> args, run_options& options, std::string& error)
{
    return norvane::testing::parse_run_options(std::move(args), options, error);
}

// The frames of a CAN log the run wrote: all on can0, or with `ifaces`
// each frame's interface in it.
std::vector<can_frame> read_can_log(const std::filesystem::path& path, std::vector<std::string>* ifaces = nullptr)
{
    std::vector<can_frame> frames;
    std::istringstream log(read_file(path));
    std::string line;
    while (std::getline(log, line)) {
        can_frame frame;
        std::string iface;
        std::string why;
        EXPECT_TRUE(can_parse_candump_line(line, frame, iface, why)) << line << ": " << why;
        if (ifaces)
            ifaces->push_back(iface);
        else
            EXPECT_EQ(iface, "can0");
        frames.push_back(frame);
    }
    return frames;
}

// A virtual run over a scenario text, screenshots kept in memory by file name.
class Run : public ::testing::Test {
protected:
    void start(const std::string& scenario, uint64_t duration_ms = 10000)
    {
        options_.workdir = dir_.path().string();
        options_.duration_ms = duration_ms;
        std::string error;
        ASSERT_TRUE(parse_scenario(scenario, "s.txt", options_.actions, error)) << error;
        options_.on_screenshot = [this](const std::string& file, const frame_buffer& frame) {
            shots_[file] = frame;
        };
        run_ = std::make_unique<VirtualRun>(options_);
        std::string why;
        ASSERT_TRUE(run_->start(why)) << why;
    }

    TempDir dir_;
    run_options options_;
    std::unique_ptr<VirtualRun> run_;
    std::map<std::string, frame_buffer> shots_;
};

struct BadArguments {
    std::vector<std::string> args;
    const char* error;
};

TEST(RunArguments, RejectBadOptionsWithAReason)
{
    const BadArguments cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--duration"}, "--duration needs a whole number of milliseconds"},
        {{"--duration", "1.5"}, "--duration needs a whole number of milliseconds"},
        {{"--workdir"}, "--workdir needs a folder"},
        {{"--scenario"}, "--scenario needs a file name"},
        {{"--junit"}, "--junit needs a file name"},
        {{"--output"}, "--output needs a folder"},
        {{"--scenario", "/nonexistent/s.txt"}, "/nonexistent/s.txt: cannot read the scenario: No such file or directory"},
        {{"--screenshot", "page.png"}, "--screenshot needs MS:FILE, for example 2500:page.png"},
        {{"--screenshot", "100:"}, "--screenshot needs MS:FILE, for example 2500:page.png"},
        {{"--screenshot", "100:page.gif"}, "--screenshot 100:page.gif: the file must end in .bmp or .png"},
        {{"--duration", "1000", "--screenshot", "1001:late.png"},
         "--screenshot 1001:late.png: 1001 ms is after the end of the run (1000 ms)"},
    };
    for (const BadArguments& c : cases) {
        SCOPED_TRACE(c.error);
        run_options options;
        std::string error;
        EXPECT_EQ(parse(c.args, options, error), RUN_BAD_INPUT);
        EXPECT_EQ(error, c.error);
    }
}

TEST(RunArguments, TakeTheScenarioAndMergeScreenshotsByTime)
{
    TempDir dir;
    write_file(dir / "s.txt", "100 press 1\n300 release 1\n");
    run_options options;
    std::string error;
    ASSERT_EQ(parse({"--scenario", (dir / "s.txt").string(), "--screenshot", "200:b.png", "--duration",
                     "500", "--can-log", "c.log", "--quiet", "--realtime"},
                    options, error),
              RUN_OK)
        << error;
    ASSERT_EQ(options.actions.size(), 3u);
    EXPECT_EQ(options.actions[1].kind, action_kind::screenshot);
    EXPECT_EQ(options.actions[1].file, "b.png");
    EXPECT_EQ(options.duration_ms, 500u);
    EXPECT_EQ(options.can_log, "c.log");
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.realtime);
    EXPECT_EQ(options.can_mapping[0], "virtual");
    EXPECT_EQ(options.can_mapping[1], "virtual");
}

TEST(RunArguments, TakeExpectationsAndTheTestOptions)
{
    TempDir dir;
    write_file(dir / "s.txt", "100 press 1\n200 expect pixel 1 2 A0B0C0\n300 exit\n");
    run_options options;
    std::string error;
    ASSERT_EQ(parse({"--scenario", (dir / "s.txt").string(), "--junit", "r.xml", "--output", "out",
                     "--update-references"},
                    options, error),
              RUN_OK)
        << error;
    ASSERT_EQ(options.scenarios.size(), 1u);
    EXPECT_EQ(options.actions.size(), 2u);
    ASSERT_EQ(options.expectations.size(), 1u);
    EXPECT_EQ(options.expectations[0].rgb, 0xA0B0C0u);
    EXPECT_EQ(options.junit, "r.xml");
    EXPECT_EQ(options.output_dir, "out");
    EXPECT_TRUE(options.update_references);

    // Expectations the run cannot reach, or cannot check in real time.
    write_file(dir / "late.txt", "100 exit\n100 expect no-can 0 421 for 1\n");
    EXPECT_EQ(parse({"--scenario", (dir / "late.txt").string()}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, (dir / "late.txt").string() +
                         ":2: the window of 'expect no-can' reaches 101 ms, after the end of the run (100 ms)");
    EXPECT_EQ(parse({"--realtime", "--scenario", (dir / "s.txt").string()}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, (dir / "s.txt").string() + ":2: expectations are checked in virtual time; leave out --realtime");
}

TEST(RunArguments, ScenarioErrorsNameTheFileAndLine)
{
    TempDir dir;
    const std::string path = (dir / "s.txt").string();
    write_file(path, "100 press 1\n\n50 release 1\n");
    run_options options;
    std::string error;
    EXPECT_EQ(parse({"--scenario", path}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, path + ":3: time 50 goes backwards (the line before is at 100)");
}

TEST(RunArguments, ScenarioFramesNeedAVirtualPort)
{
    TempDir dir;
    const std::string path = (dir / "s.txt").string();
    write_file(path, "100 can 1 421#00\n");
    run_options options;
    std::string error;
    EXPECT_EQ(parse({"--can1", "socketcan:vcan0", "--scenario", path}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, path + ":1: CAN port 1 is mapped to 'socketcan:vcan0'; scenario frames arrive only "
                            "on a port mapped to 'virtual'");
}

TEST(RunArguments, UnknownCanMappingIsRejected)
{
    run_options options;
    std::string error;
    EXPECT_EQ(parse({"--can0", "carrier-pigeon"}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error.rfind("--can0: ", 0), 0u) << error;
    EXPECT_GT(error.size(), 8u);
}

// The window shows the buffer composed one presentation earlier; a screenshot
// at MS is what gfx_front_buffer gives after the last main step at or before MS.
TEST_F(Run, ScreenshotIsTheFrontBufferOfTheLastStepAtOrBeforeItsTime)
{
    start("74 screenshot before.png\n75 screenshot after.png\n");
    run_->run_until(30);
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_set_fill_color(0x1234);
    gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);
    run_->run_until(100);  // composed at 50, shown from the step at 75
    ASSERT_EQ(shots_.count("before.png"), 1u);
    ASSERT_EQ(shots_.count("after.png"), 1u);
    EXPECT_NE(shots_["before.png"].pixels[0], 0x1234);
    EXPECT_EQ(shots_["after.png"].pixels[0], 0x1234);
    EXPECT_EQ(shots_["after.png"].pixels[GFX_WIDTH * 120 + 160], 0x1234);
}

// Only the frames a screenshot shows are composed. With the run's rule for
// which those are, the frame at each screenshot time, around every step
// boundary and while buttons change the page, must be the composition of the
// layers at the step one presentation earlier, as the window shows it.
TEST(VirtualStepperFrames, FramesAScreenshotShowsAreComposedExactly)
{
    TempDir dir;
    std::string why;
    ASSERT_TRUE(prepare_unit_workdir(dir.path().string(), why)) << why;
    const uint64_t shots[] = {0, 24, 25, 26, 49, 50, 51, 74, 75, 2024, 2025, 2049, 2050, 2074,
                              2100, 2160, 2199, 2200, 2201, 2260, 2300, 2301, 2350, 2375, 2400};
    struct Press { uint64_t ms; int button; bool down; };
    const Press presses[] = {{2150, 5, true}, {2250, 5, false}, {2290, 4, true}, {2330, 4, false}};

    VirtualStepper unit;
    std::map<uint64_t, frame_buffer> composed;  // by step time, the steps that compose
    uint64_t skipped = 0;
    unit.frame_wanted = [&](uint64_t t) {
        for (uint64_t s : shots)
            if (step_frame_shown_at(t, s))
                return true;
        ++skipped;
        return false;
    };
    // The reference: the compositor over the layers as the step left them.
    unit.after_step = [&](uint64_t t) {
        for (uint64_t s : shots)
            if (step_frame_shown_at(t, s)) {
                gfx_compose_into(composed[t], gfx_panel_reveal.load());
                break;
            }
    };
    size_t next_press = 0;
    for (uint64_t s : shots) {
        unit.run_until(s, [&](uint64_t now) {
            for (; next_press < std::size(presses) && presses[next_press].ms <= now; ++next_press)
                VirtualStepper::set_key(presses[next_press].button, presses[next_press].down);
        });
        const frame_buffer& shown = unit.frame();
        if (s < 50) {  // nothing composed yet: the black screen of power-on
            EXPECT_TRUE(std::all_of(std::begin(shown.pixels), std::end(shown.pixels), [](gfx_color p) {
                return p == 0;
            })) << "at " << s;
            continue;
        }
        const uint64_t step = s / 25 * 25 - 25;
        ASSERT_EQ(composed.count(step), 1u) << "at " << s;
        EXPECT_TRUE(std::equal(std::begin(shown.pixels), std::end(shown.pixels),
                               std::begin(composed[step].pixels)))
            << "at " << s;
    }
    EXPECT_GT(skipped, 50u);
}

TEST_F(Run, ExitEndsTheRunAtItsTimeAndLaterScreenshotsAreNotTaken)
{
    start("0 screenshot zero.png\n500 screenshot end.png\n500 exit\n600 screenshot late.png\n");
    const run_result result = run_->finish();
    EXPECT_EQ(result.unit_ms, 500u);
    EXPECT_EQ(result.status, RUN_OK);
    EXPECT_FALSE(result.firmware_exit);
    EXPECT_EQ(shots_.count("zero.png"), 1u);
    EXPECT_EQ(shots_.count("end.png"), 1u);
    EXPECT_EQ(shots_.count("late.png"), 0u);
}

TEST_F(Run, FirmwareExitRequestEndsTheRunAfterItsStep)
{
    start("", 5000);
    run_->run_until(110);
    sys_request_exit(3);
    const run_result result = run_->finish();
    EXPECT_TRUE(result.firmware_exit);
    EXPECT_EQ(result.unit_ms, 125u);
}

TEST_F(Run, ButtonsAndEventsReachTheFirmwareAtTheirMillisecond)
{
    std::filesystem::create_directories(dir_ / "rootfs/app/event");
    write_file(dir_ / "rootfs/app/event/app_command", "USBSTICK_INSERTED /media/stick");
    start("40 press 3\n60 release 3\n60 press 5\n101 event 0\n");
    run_->run_until(39);
    EXPECT_EQ(key_input_mask.load(), 0);
    run_->run_until(40);
    EXPECT_EQ(key_input_mask.load(), 0x04);
    run_->run_until(60);
    EXPECT_EQ(key_input_mask.load(), 0x10);
    run_->run_until(124);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "rootfs/app/event/app_reply"));
    run_->run_until(125);
    EXPECT_EQ(read_file(dir_ / "rootfs/app/event/app_reply"), "OK");
}

// A press and its release between two ticks (a tap by automation) is one
// press all the same, as in the window: the press stays down until a tick
// sampled it, then the release follows. Button 3 turns INSIDE LIGHTS on, so
// PWRB1's last command has outputs 1 and 3 on.
TEST_F(Run, APressReleasedBeforeAnyTickSawItIsStillOnePress)
{
    options_.can_log = (dir_ / "can.log").string();
    start("2101 press 3\n2105 release 3\n", 2600);
    run_->run_until(2105);
    EXPECT_EQ(key_input_mask.load(), 0x04);
    run_->run_until(2110);
    EXPECT_EQ(key_input_mask.load(), 0);
    EXPECT_EQ(run_->finish().status, RUN_OK);
    const std::string text = read_file(dir_ / "can.log");
    const size_t last = text.rfind("can0 18EFB000#");
    ASSERT_NE(last, std::string::npos) << text;
    EXPECT_EQ(text.substr(last, text.find('\n', last) - last), "can0 18EFB000#800050010000");
}

// The unit's own traffic on port 0: the 0x421 frame every 100 ms and the
// eight output commands every 100 ms from the 100th ms on, each with the
// time of the main step that flushed it. The first main step resets the
// rings, so the 0x421 of the first tick never leaves.
TEST_F(Run, CanLogHoldsEveryFrameTheUnitSendsWithItsStepTime)
{
    options_.can_log = (dir_ / "can.log").string();
    start("", 1000);
    EXPECT_EQ(run_->finish().status, RUN_OK);

    std::map<uint64_t, std::vector<can_frame>> by_time;
    for (const can_frame& frame : read_can_log(dir_ / "can.log"))
        by_time[frame.time_us / 1000].push_back(frame);
    for (uint64_t t = 25; t <= 1000; t += 25) {
        SCOPED_TRACE(t);
        std::vector<uint32_t> ids;
        for (const can_frame& f : by_time[t])
            ids.push_back(f.id);
        std::vector<uint32_t> expected;
        if (t % 100 == 0)
            for (uint32_t p = 0; p < 8; ++p)
                expected.push_back(0x18EFB000 + p * 256);
        if (t % 100 == 25 && t > 100)
            expected.push_back(APP_TEST_FRAME_ID);
        EXPECT_EQ(ids, expected);
    }
    const std::string text = read_file(dir_ / "can.log");
    EXPECT_NE(text.find("(0000000000.125000) can0 421#0000000000000000\n"), std::string::npos) << text;
}

// The installation's options: a bad description or a plant line without
// the installation stops before anything runs, with the place of the fault.
TEST(RunArguments, InstallationNeedsItsOptionAndAGoodDescription)
{
    TempDir dir;
    write_file(dir / "bad.json", "{\n  \"modules\": 3\n}\n");
    write_file(dir / "switch.txt", "100 switch SENB1 1 on\n");
    write_file(dir / "lamp.txt", "100 expect output PWRB1 1 on\n");
    const std::string bad = (dir / "bad.json").string();
    const std::string sw = (dir / "switch.txt").string();
    const std::string lamp = (dir / "lamp.txt").string();
    const BadArguments cases[] = {
        {{"--installation", bad}, ""},
        {{"--scenario", sw}, ""},
        {{"--scenario", lamp}, ""},
        {{"--outputs", "o.txt"}, "--outputs lists the installation's loads; add --installation"},
        {{"--installation", "--outputs"}, "--outputs needs a file name"},
        {{"--installation", "--can0", "kvaser"},
         "--installation is on port 0 of the virtual bus, and --can0 maps port 0 to 'kvaser'"},
    };
    const std::string expected[] = {
        bad + ": /modules: expected an array of 12",
        sw + ":1: this action drives the installation; add --installation",
        lamp + ":1: 'expect output' reads the installation's outputs; add --installation",
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string want = i < std::size(expected) ? expected[i] : cases[i].error;
        SCOPED_TRACE(want);
        run_options options;
        std::string error;
        EXPECT_EQ(parse(cases[i].args, options, error), RUN_BAD_INPUT);
        EXPECT_EQ(error, want);
    }
    run_options options;
    std::string error;
    ASSERT_EQ(parse({"--installation", "--scenario", sw}, options, error), RUN_OK) << error;
    EXPECT_TRUE(options.installation);
    EXPECT_TRUE(options.installation_file.empty());
}

// With the installation the CAN log is the whole bus: the modules' frames
// beside the unit's commands; the outputs table lists the 64 loads.
TEST_F(Run, InstallationFramesAreLoggedAndItsLoadsListed)
{
    options_.installation = true;
    options_.can_log = (dir_ / "can.log").string();
    options_.outputs_file = (dir_ / "outputs.txt").string();
    start("2100 press 3\n2200 release 3\n2500 switch SENB1 1 on\n", 3000);
    EXPECT_EQ(run_->finish().status, RUN_OK);

    std::map<uint32_t, int> per_id;
    for (const can_frame& frame : read_can_log(dir_ / "can.log"))
        ++per_id[frame.id];
    EXPECT_EQ(per_id[0x18EFB000u], 30);   // the unit's commands to PWRB1, every 100 ms
    EXPECT_EQ(per_id[0x18FFA0B7u], 30);   // PWRB8's status, every 100 ms
    EXPECT_EQ(per_id[0x18FF0080u], 4);    // SENB1 channel 1: at 0, 1000, 2000 s and the flip at 2500
    EXPECT_EQ(per_id[0x18FF0983u], 3);    // SENB4 channel 10, once a second

    const std::string table = read_file(dir_ / "outputs.txt");
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 65);
    EXPECT_NE(table.find("PWRB1  1      on   PORT FORE CABIN\n"), std::string::npos) << table;
    EXPECT_NE(table.find("PWRB1  3      on   INSIDE LIGHTS\n"), std::string::npos) << table;
    EXPECT_NE(table.find("PWRB8  8      off  -\n"), std::string::npos) << table;
    EXPECT_EQ(table.rfind("module output load label\n", 0), 0u);
}

TEST_F(Run, ScenarioFramesReachTheFirmwareOnTheNextMainStep)
{
    // A 0x422 test frame: type 12 stores data byte 2.
    start("30 can 0 422#0C005A0000000000\n");
    run_->run_until(49);
    EXPECT_EQ(test_values.t12_value.load(), 0u);
    run_->run_until(50);
    EXPECT_EQ(test_values.t12_value.load(), 0x5Au);
}

TEST(RunSummary, GivesUnitTimeWallTimeAndRatio)
{
    run_result r;
    r.unit_ms = 1000;
    r.wall_s = 0.5;
    EXPECT_EQ(run_summary(r), "ran 1000 ms of unit time in 0.500 s (2.00 x real time)");
    r.unit_ms = 60000;
    r.wall_s = 0.1;
    EXPECT_EQ(run_summary(r), "ran 60000 ms of unit time in 0.100 s (600 x real time)");
    r.can_refused = 26;
    EXPECT_EQ(run_summary(r), "ran 60000 ms of unit time in 0.100 s (600 x real time); 26 CAN frames refused by the bus");
}

// Real time: the same actions on the firmware's two threads, paced by the
// wall clock.
TEST(RealtimeRun, AppliesActionsAtTheirTimeAndEndsAtExit)
{
    TempDir dir;
    run_options options;
    options.workdir = dir.path().string();
    options.realtime = true;
    std::string error;
    ASSERT_TRUE(parse_scenario("100 press 2\n150 screenshot mid.png\n300 exit\n300 screenshot end.png\n",
                               "rt.txt", options.actions, error));
    std::map<std::string, frame_buffer> shots;
    options.on_screenshot = [&shots](const std::string& file, const frame_buffer& frame) {
        shots[file] = frame;
    };
    const run_result result = run_headless(options);
    EXPECT_EQ(result.status, RUN_OK);
    EXPECT_EQ(result.unit_ms, 300u);
    EXPECT_FALSE(result.firmware_exit);
    EXPECT_GE(result.wall_s, 0.3);
    EXPECT_EQ(key_input_mask.load(), 0x02);
    EXPECT_EQ(shots.count("mid.png"), 1u);
    EXPECT_EQ(shots.count("end.png"), 1u);
}

// With the installation in real time the modules step on the unit's clock:
// the CAN log holds the unit's, the modules' and the scenario's frames, each
// once and in order of time although three threads write it, a fault reaches
// the bus, and a wall switch lights its lamp through the unit.
TEST(RealtimeRun, InstallationOnTheUnitsClockLogsTheWholeBus)
{
    TempDir dir;
    write_file(dir / "s.txt",
               "2100 press 3\n2200 release 3\n"  // INSIDE LIGHTS on: the cabin switches act
               "2300 switch SENB1 1 on\n2300 fault PWRB4 2 0 3\n2400 can 0 18FEEE99#AABB\n2400 can 1 123#11\n");
    run_options options;
    std::string error;
    ASSERT_EQ(parse({"--realtime", "--installation", "--quiet", "--duration", "2700", "--workdir",
                     (dir / "unit").string(), "--scenario", (dir / "s.txt").string(), "--can-log",
                     (dir / "can.log").string(), "--outputs", (dir / "outputs.txt").string()},
                    options, error),
              RUN_OK)
        << error;
    const run_result result = run_headless(options);
    ASSERT_EQ(result.status, RUN_OK);
    EXPECT_EQ(result.unit_ms, 2700u);

    std::map<uint32_t, int> per_id;
    uint64_t last_us = 0;
    bool in_order = true, switch_on = false, fault_sent = false;
    std::vector<std::string> ifaces;
    const std::vector<can_frame> frames = read_can_log(dir / "can.log", &ifaces);
    for (size_t i = 0; i < frames.size(); ++i) {
        const can_frame& f = frames[i];
        ++per_id[f.id];
        EXPECT_EQ(ifaces[i], f.id == 0x123u ? "can1" : "can0") << std::hex << f.id;
        in_order = in_order && f.time_us >= last_us;
        last_us = f.time_us;
        switch_on = switch_on || (f.id == 0x18FF0080u && f.data[2] == 1);       // SENB1 channel 1
        fault_sent = fault_sent || (f.id == 0x18FFA1B3u && f.data[1] == 0x30);  // PWRB4 output 2, code 3
    }
    EXPECT_TRUE(in_order);
    // Every 100 ms over 2.7 s: 27, give or take the threads' timing; twice
    // that if a frame were written twice.
    for (uint32_t id : {0x18EFB000u, 0x18EFB700u, 0x18FFA0B0u, 0x18FFA0B7u, 0x18FFA1B3u}) {
        EXPECT_GE(per_id[id], 24) << std::hex << id;
        EXPECT_LE(per_id[id], 28) << std::hex << id;
    }
    EXPECT_EQ(per_id[0x18FEEE99u], 1);
    EXPECT_EQ(per_id[0x123u], 1);  // port 1's scenario frame, as a run in virtual time logs it
    EXPECT_TRUE(switch_on);
    EXPECT_TRUE(fault_sent);
    const std::string table = read_file(dir / "outputs.txt");
    EXPECT_NE(table.find("PWRB1  1      on   PORT FORE CABIN\n"), std::string::npos) << table;
    EXPECT_NE(table.find("PWRB7  1      off  STBD FORE CABIN\n"), std::string::npos) << table;
}

TEST(RealtimeRun, FirmwareExitRequestEndsTheRun)
{
    TempDir dir;
    run_options options;
    options.workdir = dir.path().string();
    options.realtime = true;
    // The firmware asks to end while it runs (a start clears any request):
    // the screenshot's callback at 100 ms raises it.
    std::string error;
    ASSERT_TRUE(parse_scenario("100 screenshot ask.png\n", "rt.txt", options.actions, error)) << error;
    options.on_screenshot = [](const std::string&, const frame_buffer&) { sys_request_exit(1); };
    const run_result result = run_headless(options);
    EXPECT_TRUE(result.firmware_exit);
    EXPECT_LT(result.unit_ms, 1000u);
}

}  // namespace
