// norvane-run as users call it: a process started in a folder, with files.
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "can/can_candump.h"
#include "support/unit_fixture.h"

namespace {

using norvane::testing::read_file;
using norvane::testing::TempDir;
using norvane::testing::write_file;
using norvane::testing::test_source_path;

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program with `args` in folder `dir`, capturing both output streams.
Outcome run_in(const std::filesystem::path& dir, const std::string& program,
               const std::vector<std::string>& args)
{
    const std::filesystem::path out = dir / ".stdout";
    const std::filesystem::path err = dir / ".stderr";
    std::string command = "cd ";
    command.append(quoted(dir.string())).append(" && ").append(quoted(program));
    for (const std::string& a : args)
        command.append(" ").append(quoted(a));
    command.append(" >").append(quoted(out.string())).append(" 2>").append(quoted(err.string()));
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = read_file(out);
    o.err = read_file(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return o;
}

Outcome norvane_run(const std::filesystem::path& dir, const std::vector<std::string>& args)
{
    return run_in(dir, NORVANE_RUN_PATH, args);
}

const char* const kScenario =
    "# walk through the pages and feed the model\n"
    "0 screenshot start.png\n"
    "300 can 0 18FF0380#0D01010000000000\n"
    "2600 press 5\n"
    "2700 release 5\n"
    "2750 event 0\n"
    "3000 screenshot page.bmp\n"
    "3000 screenshot page.png\n"
    "3100 press 3\n"
    "3200 release 3\n"
    "3500 exit\n";

TEST(NorvaneRun, SameScenarioTwiceGivesIdenticalScreenshotsAndLog)
{
    TempDir a;
    TempDir b;
    for (const TempDir* dir : {&a, &b}) {
        write_file(*dir / "s.txt", kScenario);
        const Outcome o = norvane_run(dir->path(), {"--workdir", "unit", "--scenario", "s.txt", "--can-log",
                                                    "can.log", "--screenshot", "1200:early.bmp"});
        ASSERT_EQ(o.status, 0) << o.err;
        // The summary is the last line of standard output.
        const size_t last = o.out.rfind('\n', o.out.size() - 2);
        const std::string summary = o.out.substr(last == std::string::npos ? 0 : last + 1);
        EXPECT_EQ(summary.rfind("ran 3500 ms of unit time in ", 0), 0u) << o.out;
        EXPECT_NE(summary.find(" x real time)\n"), std::string::npos) << o.out;
        EXPECT_TRUE(std::filesystem::is_directory(*dir / "unit/rootfs/app/event"));
    }
    for (const char* name : {"start.png", "early.bmp", "page.bmp", "page.png", "can.log"}) {
        SCOPED_TRACE(name);
        const std::string first = read_file(a / name);
        ASSERT_FALSE(first.empty());
        EXPECT_TRUE(first == read_file(b / name));
    }
    const std::string bmp = read_file(a / "page.bmp");
    EXPECT_EQ(bmp.size(), 307254u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
}

TEST(NorvaneRun, BadScenarioRunsNothingAndNamesFileAndLine)
{
    struct Bad {
        const char* text;
        const char* where;
    };
    const Bad cases[] = {
        {"100 press 1\n200 wave 2\n", "bad.txt:2: unknown action 'wave'"},
        {"# c\n100 press 9\n", "bad.txt:2: button must be 1 to 5"},
        {"100 can 0 18FF0380#0D0\n", "bad.txt:1: malformed frame '18FF0380#0D0'"},
        {"100 press 1\n\n\n99 release 1\n", "bad.txt:4: time 99 goes backwards"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.where);
        TempDir dir;
        write_file(dir / "bad.txt", c.text);
        const Outcome o = norvane_run(dir.path(), {"--workdir", "unit", "--scenario", "bad.txt", "--can-log",
                                                   "can.log", "--screenshot", "0:s.png"});
        EXPECT_EQ(o.status, 2);
        EXPECT_NE(o.err.find(c.where), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_FALSE(std::filesystem::exists(dir / "unit"));
        EXPECT_FALSE(std::filesystem::exists(dir / "can.log"));
        EXPECT_FALSE(std::filesystem::exists(dir / "s.png"));
    }
}

TEST(NorvaneRun, HelpListsTheOptions)
{
    TempDir dir;
    const Outcome o = norvane_run(dir.path(), {"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* option : {"--workdir DIR", "--duration MS", "--realtime", "--can0 MAPPING",
                               "--can1 MAPPING", "--scenario FILE", "--can-log FILE",
                               "--screenshot MS:FILE", "--quiet", "--help", "MS can P ID#DATA"})
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
}

TEST(NorvaneRun, QuietPrintsNothingAndAnUnwritableScreenshotFails)
{
    TempDir dir;
    const Outcome o = norvane_run(dir.path(), {"--quiet", "--duration", "100", "--workdir", "unit",
                                               "--screenshot", "50:no/such/folder/s.png"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("cannot write screenshot 'no/such/folder/s.png'"), std::string::npos) << o.err;
}

// One line per CAN port at start; a port that cannot be opened ends the run
// with 2 and says why, before any unit time runs.
TEST(NorvaneRun, EachCanPortSaysWhatItIsMappedToAndWhetherItOpened)
{
    struct MappingCase {
        std::vector<std::string> args;
        int status;
        const char* port0;
        const char* port1;
    };
    TempDir dir;
    write_file(dir / "not_a_trace.txt", "hello\n");
    const MappingCase cases[] = {
        {{}, 0, "CAN port 0: virtual: open", "CAN port 1: virtual: open"},
        {{"--can0", "trace:/no/such/file"}, 2,
         "CAN port 0: trace:/no/such/file: not open: cannot open /no/such/file: No such file or directory",
         "CAN port 1: virtual: open"},
        {{"--can1", "trace:not_a_trace.txt"}, 2, "CAN port 0: virtual: open",
         "CAN port 1: trace:not_a_trace.txt: not open: not_a_trace.txt is neither a CAN trace nor a candump log"},
        {{"--can0", "socketcan:nosuch0"}, 2, "CAN port 0: socketcan:nosuch0: not open: SocketCAN interface nosuch0: ",
         "CAN port 1: virtual: open"},
        {{"--can0", "kvaser"}, 2,
         "CAN port 0: kvaser: not open: the Kvaser CANlib library (libcanlib.so.1) is not installed or lacks a function",
         "CAN port 1: virtual: open"},
        {{"--can1", "cando:1234"}, 2, "CAN port 0: virtual: open",
         "CAN port 1: cando:1234: not open: the CANdo library (libCANdo.so) is not installed or lacks a function"},
        {{"--realtime", "--can0", "trace:/no/such/file"}, 2,
         "CAN port 0: trace:/no/such/file: not open: cannot open /no/such/file: No such file or directory",
         "CAN port 1: virtual: open"},
    };
    for (const MappingCase& c : cases) {
        std::vector<std::string> args = {"--duration", "100", "--workdir", "unit"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.size() > 4 ? args[4] + " " + args.back() : "defaults");
        const Outcome o = norvane_run(dir.path(), args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(std::string("norvane-run: ") + c.port0), std::string::npos) << o.err;
        EXPECT_NE(o.err.find(std::string("norvane-run: ") + c.port1), std::string::npos) << o.err;
        EXPECT_EQ(o.out.find("ran "), c.status == 0 ? 0u : std::string::npos) << o.out;
    }
}

// python-can reads the log and finds the same frames as the unit's own parser.
TEST(NorvaneRun, CanLogReadsWithPythonCan)
{
    TempDir dir;
    const Outcome run = norvane_run(dir.path(), {"--quiet", "--duration", "1000", "--workdir", "unit",
                                                 "--can-log", "can.log"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::istringstream log(read_file(dir / "can.log"));
    std::string expected;
    std::string line;
    size_t frames = 0;
    while (std::getline(log, line)) {
        can_frame f;
        std::string iface;
        std::string why;
        ASSERT_TRUE(can_parse_candump_line(line, f, iface, why)) << line << ": " << why;
        char text[128];
        std::snprintf(text, sizeof text, "%llu.%06llu %s %X %d %d ",
                      static_cast<unsigned long long>(f.time_us / 1000000),
                      static_cast<unsigned long long>(f.time_us % 1000000), iface.c_str(), unsigned(f.id),
                      f.ext, f.len);
        expected += text;
        for (int i = 0; i < f.len; ++i) {
            std::snprintf(text, sizeof text, "%02X", f.data[i]);
            expected += text;
        }
        expected += "\n";
        ++frames;
    }
    EXPECT_GE(frames, 80u + 9u);  // eight commands per 100 ms, the 0x421 frames

    const Outcome py = run_in(dir.path(), NORVANE_PYTHON,
                              {test_source_path("host/apps/read_can_log.py").string(), "can.log"});
    ASSERT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, expected);
}

// --realtime keeps pace with the wall clock and shows the pages virtual time
// shows: its screenshot at MS is one of the virtual frames around MS (the
// threads' timing moves a step by a few milliseconds at most).
TEST(NorvaneRun, RealtimeTakesWallTimeAndShowsTheSamePages)
{
    TempDir dir;
    write_file(dir / "s.txt", "2600 press 3\n2700 release 3\n");
    std::vector<std::string> virtual_args = {"--quiet", "--workdir", "v", "--duration", "3000",
                                             "--scenario", "s.txt"};
    // v<MS>_<D>.png is the virtual screen at MS - 50 + D.
    auto name = [](const char* prefix, int ms, int d) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%d_%d.png", prefix, ms, d);
        return std::string(text);
    };
    for (int d = 0; d <= 100; d += 25)
        for (int ms : {1500, 2000, 3000})
            if (ms - 50 + d <= 3000)
                virtual_args.insert(virtual_args.end(),
                                    {"--screenshot", std::to_string(ms - 50 + d).append(":").append(name("v", ms, d))});
    ASSERT_EQ(norvane_run(dir.path(), virtual_args).status, 0);

    const auto wall_start = std::chrono::steady_clock::now();
    const Outcome rt = norvane_run(dir.path(), {"--quiet", "--realtime", "--workdir", "r", "--duration", "3000",
                                                "--scenario", "s.txt", "--screenshot", "1500:r1500_50.png", "--screenshot",
                                                "2000:r2000_50.png", "--screenshot", "3000:r3000_50.png"});
    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    ASSERT_EQ(rt.status, 0) << rt.err;
    EXPECT_GE(wall_s, 2.95);  // never ahead of the wall clock
    EXPECT_LT(wall_s, 8.0);   // and not far behind it, even on a busy machine

    for (int ms : {1500, 2000, 3000}) {
        SCOPED_TRACE(ms);
        const std::string shot = read_file(dir / name("r", ms, 50));
        ASSERT_FALSE(shot.empty());
        bool found = false;
        for (int d = 0; d <= 100; d += 25) {
            const std::filesystem::path v = dir / name("v", ms, d);
            found = found || (std::filesystem::exists(v) && read_file(v) == shot);
        }
        EXPECT_TRUE(found) << "the real-time screenshot matches no virtual frame within 50 ms";
    }
}

}  // namespace
