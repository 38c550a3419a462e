// norvane-run at the edges of its input: durations the clock cannot hold,
// floods of frames nobody reads, and inputs whose errors must stay short and
// whole.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "host/core/headless_run.h"
#include "host/core/scenario.h"
#include "can/can_virtual.h"
#include "platform/hal.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;
using norvane::testing::TempDir;

int parse(std::vector<std::string> args, run_options& options, std::string& error)
{
    return norvane::testing::parse_run_options(std::move(args), options, error);
}

// A duration past the 32-bit millisecond clock overflowed the real-time wait
// (and spun instead of sleeping); it is refused with the limit.
TEST(RunLimits, DurationIsBoundedByTheUnitsClock)
{
    const struct {
        const char* ms;
        bool ok;
    } kCases[] = {
        {"4294967295", true},
        {"4294967296", false},
        {"999999999999999999", false},
        {"9999999999999999999", false},
    };
    for (const auto& c : kCases) {
        run_options options;
        std::string error;
        EXPECT_EQ(parse({"--duration", c.ms}, options, error), c.ok ? RUN_OK : RUN_BAD_INPUT) << c.ms;
        if (!c.ok) {
            EXPECT_NE(error.find("--duration"), std::string::npos) << error;
        }
    }
    run_options options;
    std::string error;
    ASSERT_EQ(parse({"--duration", "999999999999999999"}, options, error), RUN_BAD_INPUT);
    EXPECT_NE(error.find("at most 4294967295 ms"), std::string::npos) << error;
}

// Frames the bus cannot take: one line when it first refuses, one count at
// the end (it used to be a line for every frame). Two ways to fill it: more
// at once than 250 kbit/s carry, and frames the bus carries to a port
// nothing reads until its 4096 places are taken.
TEST(RunLimits, FullVirtualBusIsSaidOncePerPortWithACountAtTheEnd)
{
    const struct {
        const char* name;
        int frames_per_ms, ms;
        const char* first_line;
        const char* count;
    } cases[] = {
        {"all at once", 5000, 1, "flood.txt:365: the virtual bus of port 1 is full", "4636 scenario frame(s)"},
        {"four a millisecond", 4, 1250, "flood.txt:4097: the virtual bus of port 1 is full", "904 scenario frame(s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        run_options options;
        options.workdir = dir.path().string();
        options.duration_ms = uint32_t(c.ms) + 100;
        options.quiet = true;  // no port lines: only what the flood makes said
        std::string scenario;
        for (int ms = 0; ms < c.ms; ++ms)
            for (int i = 0; i < c.frames_per_ms; ++i)
                scenario += std::to_string(ms) + " can 1 123#01\n";
        std::string error;
        ASSERT_TRUE(parse_scenario(scenario, "flood.txt", options.actions, error)) << error;
        can_virtual_reset();
        ::testing::internal::CaptureStderr();
        const run_result result = run_headless(options);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result.status, RUN_OK);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
        EXPECT_NE(said.find(c.first_line), std::string::npos) << said;
        EXPECT_NE(said.find(std::string(c.count) + " for port 1 dropped"), std::string::npos) << said;
    }
}

// Errors quote what they found; a long mapping used to push the reason out
// of the message, so "too long" was never shown.
TEST(RunLimits, LongMappingStillShowsTheReason)
{
    const struct {
        std::string mapping;
        const char* reason;
    } kCases[] = {
        {"trace:" + std::string(600, 'f'), "the trace file name is too long"},
        {std::string(1000, 'x'), "unknown back end"},
        {"socketcan:" + std::string(300, 'i'), "SocketCAN interface name of 1 to 15"},
    };
    for (const auto& c : kCases) {
        char why[256];
        ASSERT_EQ(0, hal_can_map_port(0, c.mapping.c_str(), why, sizeof why));
        EXPECT_NE(std::string(why).find(c.reason), std::string::npos) << why;
        EXPECT_NE(std::string(why).find("accepted forms"), std::string::npos) << why;
    }
    run_options options;
    std::string error;
    EXPECT_EQ(parse({"--can0", "trace:" + std::string(600, 'f')}, options, error), RUN_BAD_INPUT);
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
}

TEST(RunLimits, ScenarioErrorsAreWholeShortAndFailTheRun)
{
    TempDir dir;
    run_options options;
    std::string error;
    // A folder without scenario files ran as an empty scenario with exit
    // status 0; a FIFO waited for a writer.
    EXPECT_EQ(parse({"--scenario", dir.path().string()}, options, error), RUN_BAD_INPUT);
    EXPECT_NE(error.find("holds no scenario files"), std::string::npos) << error;
    const std::string fifo = (dir / "pipe.txt").string();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(parse({"--scenario", fifo}, options, error), RUN_BAD_INPUT);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    // A scenario of gigabytes was read whole into memory before its first
    // error: a file over 4 MiB is refused unread.
    const std::string big = (dir / "big.txt").string();
    std::ofstream(big) << "100 press 1\n";
    std::filesystem::resize_file(big, (4u << 20) + 1);
    EXPECT_EQ(parse({"--scenario", big}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, big + ": cannot read the scenario: 4194305 bytes, more than the 4194304 allowed") << error;
    // An action after the end was dropped unseen while an expectation there
    // is an error: both are errors now.
    const std::string late = (dir / "late.txt").string();
    std::ofstream(late) << "100 press 1\n20000 release 1\n";
    EXPECT_EQ(parse({"--scenario", late, "--duration", "10000"}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, late + ":2: the action at 20000 ms is after the end of the run (10000 ms)");
    std::ofstream(late) << "100 press 1\n500 exit\n600 release 1\n";
    EXPECT_EQ(parse({"--scenario", late}, options, error), RUN_BAD_INPUT);
    EXPECT_EQ(error, late + ":3: the action at 600 ms is after the end of the run (500 ms)");

    const struct {
        std::string text;
        const char* expected;
    } kCases[] = {
        // A NUL cut the message where it stood.
        {std::string("100 press \0 1\n", 14), "s.txt:1: control byte 0x00 in column 11"},
        {"100 event 1\n200 can 0 123#\x01\n", "s.txt:2: control byte 0x01 in column 15"},
        // A 10 MB token was repeated whole.
        {"100 " + std::string(10u << 20, 'z') + "\n", "s.txt:1: the line is 10485764 characters long; at most 1000"},
    };
    for (const auto& c : kCases) {
        std::vector<scenario_action> actions;
        EXPECT_FALSE(parse_scenario(c.text, "s.txt", actions, error));
        EXPECT_EQ(error.find('\0'), std::string::npos);
        EXPECT_LT(error.size(), 200u);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
    // A long comment or a long name in a line under the limit still reads.
    std::vector<scenario_action> actions;
    EXPECT_TRUE(parse_scenario("100 exit # " + std::string(5000, 'c') + "\n", "s.txt", actions, error)) << error;
}

}  // namespace
