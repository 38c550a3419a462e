#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "seam/can_candump.h"
#include "can/can_port.h"
#include "host/core/virtual_clock.h"
#include "platform/hal.h"
#include "support/test_os.h"
#include "support/unit_fixture.h"
#include "tools/trace/trace_file.h"

using norvane::testing::TempDir;

namespace {

struct Frame {
    uint64_t at_us;  // after the first frame
    uint32_t id;
    bool ext;
    std::vector<uint8_t> data;
};

const Frame kFrames[] = {
    {0, 0x18FF0380, true, {13, 1, 1, 0, 0, 0, 0, 0}},
    {10000, 0x422, false, {1, 2, 3, 4, 5, 6, 7, 8}},
    {10000, 0x0CFF0481, true, {}},
    {250000, 0x7FF, false, {0xFF}},
    {1500000, 0x1FFFFFFF, true, {0xDE, 0xAD, 0xBE, 0xEF}},
    {1500001, 0x000, false, {0, 0}},
};

// Plays the trace on port 0 in virtual time, one millisecond at a time, and
// returns each frame with the unit millisecond it arrived at.
std::vector<std::pair<uint64_t, can_frame>> play(const std::string& path, size_t count)
{
    norvane::set_virtual_clock_ms(0);
    norvane::use_virtual_clock();
    char why[600];
    EXPECT_TRUE(hal_can_map_port(0, ("trace:" + path).c_str(), why, sizeof why)) << why;
    can_init();
    EXPECT_EQ(0, can_port_open(0));
    std::vector<std::pair<uint64_t, can_frame>> out;
    for (uint64_t ms = 0; ms < 10000 && out.size() < count; ++ms) {
        norvane::set_virtual_clock_ms(ms);
        can_frame f;
        while (out.size() < count && can_port_receive(0, &f) == 0)
            out.emplace_back(ms, f);
    }
    return out;
}

void expect_plays_kframes(const std::string& path)
{
    const auto played = play(path, std::size(kFrames));
    ASSERT_EQ(played.size(), std::size(kFrames)) << path;
    for (size_t i = 0; i < played.size(); ++i) {
        const Frame& want = kFrames[i];
        const can_frame& got = played[i].second;
        EXPECT_EQ(played[i].first, (want.at_us + 999) / 1000) << "frame " << i << " arrived at the wrong time";
        EXPECT_EQ(got.time_us, want.at_us) << i;
        EXPECT_EQ(got.id, want.id) << i;
        EXPECT_EQ(got.ext, want.ext ? 1 : 0) << i;
        ASSERT_EQ(got.len, want.data.size()) << i;
        for (size_t b = 0; b < want.data.size(); ++b)
            EXPECT_EQ(got.data[b], want.data[b]) << i << " byte " << b;
    }
}

std::string candump_text()
{
    std::string text;
    for (const Frame& f : kFrames) {
        can_frame frame{};
        frame.id = f.id;
        frame.ext = f.ext;
        frame.len = uint8_t(f.data.size());
        std::copy(f.data.begin(), f.data.end(), frame.data);
        text += can_format_candump_line(1700000000000000ull + f.at_us, "can0", frame) + "\n";
    }
    return text;
}

}  // namespace

TEST(TraceTool, CandumpToCtbAndBackKeepsEveryFrame)
{
    TempDir dir;
    std::ofstream(dir / "in.log") << candump_text();
    norvane::trace::trace_contents log;
    std::string why;
    ASSERT_TRUE(norvane::trace::read_trace((dir / "in.log").string(), log, why)) << why;
    ASSERT_TRUE(log.candump);
    ASSERT_TRUE(norvane::trace::write_ctb((dir / "a.ctb").string(), log.records, why)) << why;

    norvane::trace::trace_contents ctb;
    ASSERT_TRUE(norvane::trace::read_trace((dir / "a.ctb").string(), ctb, why)) << why;
    ASSERT_FALSE(ctb.candump);
    ASSERT_EQ(ctb.records.size(), std::size(kFrames));
    EXPECT_EQ(ctb.records[0].flags, CAN_TRACE_FLAG_EXT);
    EXPECT_EQ(ctb.records[1].flags, 0);

    uint32_t skipped = 0;
    ASSERT_TRUE(norvane::trace::write_candump((dir / "out.log").string(), ctb.records, "can0", 1700000000000000ull,
                                              skipped, why))
        << why;
    std::ifstream back(dir / "out.log");
    const std::string text((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, candump_text());
    expect_plays_kframes((dir / "a.ctb").string());
}

TEST(TraceTool, ReadingReportsFileAndLineOfWhatItCannotRead)
{
    TempDir dir;
    std::ofstream(dir / "bad.log") << "(1.000000) can0 123#01\n\n(2.000000) can0 18FF03#01\n";
    std::ofstream(dir / "bad.ctb") << "CTB\1\0\0\0";
    norvane::trace::trace_contents trace;
    std::string why;
    EXPECT_FALSE(norvane::trace::read_trace((dir / "bad.log").string(), trace, why));
    EXPECT_EQ(why, (dir / "bad.log").string() + ":3: identifier must be 3 hex digits (standard) or 8 (extended)");
    EXPECT_FALSE(norvane::trace::read_trace((dir / "bad.ctb").string(), trace, why));
    EXPECT_NE(why.find("not a CTB version 2 trace"), std::string::npos) << why;
    EXPECT_FALSE(norvane::trace::read_trace((dir / "missing").string(), trace, why));
}

TEST(TraceTool, CommandLineConvertsAndExplainsTheFlagBits)
{
    TempDir dir;
    std::ofstream(dir / "in.log") << candump_text() << "(1700000002.000000) can0 123#R\n";
    const std::string tool = NORVANE_TRACE_TOOL;
    const std::string in = (dir / "in.log").string();
    const std::string ctb = (dir / "in.ctb").string();
    ASSERT_EQ(0, std::system((tool + " to-ctb '" + in + "' '" + ctb + "' 2>/dev/null").c_str()));
    expect_plays_kframes(ctb);
    EXPECT_NE(0, std::system((tool + " to-ctb '" + ctb + "' x.ctb 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((tool + " frobnicate 2>/dev/null").c_str()));

    FILE* help = popen((tool + " --help").c_str(), "r");
    ASSERT_NE(help, nullptr);
    std::string text;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, help))
        text.append(buffer, n);
    EXPECT_EQ(0, pclose(help));
    EXPECT_NE(text.find("bit 0 (0x01) = extended"), std::string::npos);
    EXPECT_NE(text.find("bit 1 (0x02) = skip"), std::string::npos);
}

// python-can is an independent writer of candump logs: what it writes must
// play back frame for frame, and so must the CTB the tool makes from it.
TEST(TraceTool, PythonCanLogAndItsCtbPlayBackFrameForFrame)
{
    const char* python = "/usr/bin/python3";
    if (std::system((std::string(python) + " -c 'import can' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "python3-can is not installed for " << python << " (scripts/setup.sh installs it)";
    TempDir dir;
    std::string script = "import can, sys\nw = can.CanutilsLogWriter(sys.argv[1], channel='vcan0')\n";
    for (const Frame& f : kFrames) {
        script += "w.on_message_received(can.Message(timestamp=1700000000.0+" + std::to_string(f.at_us) +
                  "/1e6, arbitration_id=" + std::to_string(f.id) +
                  ", is_extended_id=" + (f.ext ? "True" : "False") + ", data=bytes([";
        for (uint8_t b : f.data)
            script += std::to_string(b) + ",";
        script += "])))\n";
    }
    script += "w.stop()\n";
    std::ofstream(dir / "write_log.py") << script;
    const std::string log = (dir / "python.log").string();
    ASSERT_EQ(0, std::system((std::string(python) + " '" + (dir / "write_log.py").string() + "' '" + log + "'").c_str()));

    expect_plays_kframes(log);

    norvane::trace::trace_contents trace;
    std::string why;
    ASSERT_TRUE(norvane::trace::read_trace(log, trace, why)) << why;
    const std::string ctb = (dir / "python.ctb").string();
    ASSERT_TRUE(norvane::trace::write_ctb(ctb, trace.records, why)) << why;
    expect_plays_kframes(ctb);
}

namespace {

// Runs the tool; returns its exit status and what it wrote to stderr.
int run_tool(const std::string& args, std::string& err)
{
    const TempDir dir;
    const std::string err_file = (dir / "err.txt").string();
    const int status = std::system((std::string(NORVANE_TRACE_TOOL) + " " + args + " >/dev/null 2>'" + err_file + "'").c_str());
    err = norvane::testing::read_file(err_file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// CAN FD lines: playback and the tool both leave them out and both say how
// many; the tool used to refuse the whole file while playback said nothing.
TEST(TraceTool, CanFdLinesAreLeftOutAndCountedByPlaybackAndTool)
{
    TempDir dir;
    const std::string log = (dir / "fd.log").string();
    std::ofstream(log) << "(1.000000) can0 123#01\n(1.000100) can0 123##1AABB\n(1.000200) can0 18FF0380##0\n"
                          "(1.000300) can0 124#02\n";
    norvane::trace::trace_contents trace;
    std::string why;
    ASSERT_TRUE(norvane::trace::read_trace(log, trace, why)) << why;
    EXPECT_EQ(trace.records.size(), 2u);
    EXPECT_EQ(trace.fd_lines_left_out, 2u);
    std::string err;
    EXPECT_EQ(0, run_tool("print '" + log + "'", err));
    EXPECT_NE(err.find("2 CAN FD line(s) left out"), std::string::npos) << err;

    ::testing::internal::CaptureStderr();
    const auto played = play(log, 2);
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1].second.id, 0x124u);
    EXPECT_NE(said.find("(2 frames; left out: 0 skipped records, 2 CAN FD lines, 0 other lines)"),
              std::string::npos)
        << said;
}

// Numbers the tool cannot hold are refused, not cast or wrapped.
TEST(TraceTool, NanStartAndTimesBeyondSixtyFourBitMicrosecondsAreRefused)
{
    TempDir dir;
    const std::string log = (dir / "a.log").string();
    std::ofstream(log) << "(1.000000) can0 123#01\n";
    std::string err;
    for (const char* start : {"nan", "-nan", "inf", "1e300", "-1"}) {
        EXPECT_EQ(2, run_tool("to-candump '" + log + "' '" + (dir / "o.log").string() + "' --start " + start, err))
            << start;
        EXPECT_NE(err.find("--start takes a number of seconds"), std::string::npos) << err;
    }

    struct {
        const char* time;
        bool ok;
    } const kTimes[] = {
        {"18446744073709.551615", true},   {"18446744073709.551616", false},
        {"18446744073710.000000", false},  {"9999999999999999999.000000", false},
    };
    for (const auto& c : kTimes) {
        can_frame frame{};
        std::string iface, reason;
        EXPECT_EQ(c.ok, can_parse_candump_line(std::string("(") + c.time + ") can0 123#01", frame, iface, reason))
            << c.time << ": " << reason;
        if (c.ok) {
            EXPECT_EQ(frame.time_us, UINT64_MAX);
        } else {
            EXPECT_NE(reason.find("64-bit microseconds"), std::string::npos) << reason;
        }
    }
}

TEST(TraceTool, FifoIsRefusedWithoutWaiting)
{
    TempDir dir;
    const std::string fifo = (dir / "pipe").string();
    NORVANE_MAKE_FIFO(fifo);
    norvane::trace::trace_contents trace;
    std::string why;
    EXPECT_FALSE(norvane::trace::read_trace(fifo, trace, why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
}
