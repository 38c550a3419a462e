// norvane-run as users call it: a process started in a folder, with files.
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "seam/can_candump.h"
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

// The frames of a candump log on can0, in order.
std::vector<can_frame> log_frames(const std::filesystem::path& path)
{
    std::vector<can_frame> frames;
    std::istringstream log(read_file(path));
    std::string line;
    while (std::getline(log, line)) {
        can_frame f;
        std::string iface;
        std::string why;
        EXPECT_TRUE(can_parse_candump_line(line, f, iface, why)) << line << ": " << why;
        EXPECT_EQ(iface, "can0") << line;
        frames.push_back(f);
    }
    return frames;
}

// The frame's data bytes in hex, each printed with `format`.
std::string data_hex(const can_frame& f, const char* format)
{
    std::string out;
    char text[4];
    for (int i = 0; i < f.len; ++i) {
        std::snprintf(text, sizeof text, format, f.data[i]);
        out += text;
    }
    return out;
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
        {"100 expect pixel 400 0 000000\n", "bad.txt:1: X must be 0 to 319, found '400'"},
        {"100 expect can 0 421#0..0\n", "bad.txt:1: malformed frame '421#0..0'"},
        {"20000 expect screen a.png\n", "bad.txt:1: expectation at 20000 ms is after the end of the run"},
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

// The command channel's reply, the unit's own 0x421 frame every 100 ms (the
// first leaves at 125 ms from a fresh unit), the version page from a cold
// start: each kind once held and once not.
const char* const kChecks =
    "0 expect no-can 0 421 for 120\n"
    "101 event 0\n"
    "120 expect can 0 421#00..000000000000 within 5\n"
    "120 expect can 0 421#01..000000000000 within 5\n"
    "200 expect file /app/event/app_reply OK\n"
    "200 expect file /app/event/app_reply KO\n"
    "1000 expect screen VERSION\n"
    "1000 expect screen VERSION max-diff 5\n"
    "1000 expect pixel 0 0 000000\n"
    "1000 expect pixel 0 0 F8FCF8\n"
    "2500 expect screen VERSION\n"
    "2500 exit\n";

std::string with_reference(std::string text)
{
    const std::string version = test_source_path("firmware/screens/golden/version.png").string();
    for (size_t at; (at = text.find("VERSION")) != std::string::npos;)
        text.replace(at, 7, version);
    return text;
}

TEST(NorvaneRun, ExpectationsGiveFailureLinesAVerdictAndTheExitStatus)
{
    TempDir dir;
    write_file(dir / "s.txt", with_reference(kChecks));
    std::filesystem::create_directories(dir / "unit/rootfs/app/event");
    write_file(dir / "unit/rootfs/app/event/app_command", "USBSTICK_INSERTED /media/stick");
    const Outcome o = norvane_run(dir.path(), {"--workdir", "unit", "--scenario", "s.txt", "--output", "out"});
    EXPECT_EQ(o.status, 1) << o.err;
    const std::string version = test_source_path("firmware/screens/golden/version.png").string();
    std::istringstream lines(o.out);
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);)
        out.push_back(line);
    ASSERT_EQ(out.size(), 6u) << o.out;
    EXPECT_EQ(out[0], "s.txt:4: 120 expect can 0 421#01..000000000000 within 5: not sent from 120 to 125 ms; "
                      "nearest 421#0000000000000000 at 125 ms");
    EXPECT_EQ(out[1], "s.txt:6: 200 expect file /app/event/app_reply KO: the file holds \"OK\"");
    EXPECT_EQ(out[2], "s.txt:9: 1000 expect pixel 0 0 000000: seen F8FCF8");
    EXPECT_EQ(out[3].rfind("s.txt:11: 2500 expect screen " + version + ": ", 0), 0u) << out[3];
    EXPECT_NE(out[3].find(" pixels differ from '" + version + "', the first at x "), std::string::npos);
    EXPECT_NE(out[3].find("; seen and difference in out/version_err.png"), std::string::npos);
    EXPECT_EQ(out[4].rfind("ran 2500 ms of unit time in ", 0), 0u) << out[4];
    EXPECT_EQ(out[5], "6 passed, 4 failed");
    EXPECT_TRUE(std::filesystem::exists(dir / "out/version_err.png"));
    EXPECT_EQ(o.err.find('\r'), std::string::npos) << "no progress line when not on a terminal";

    write_file(dir / "pass.txt", "0 expect no-can 0 421 for 120\n120 expect can 0 421#................ within 5\n");
    const Outcome ok = norvane_run(dir.path(), {"--quiet", "--workdir", "unit2", "--scenario", "pass.txt"});
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_EQ(ok.out, "");
}

TEST(NorvaneRun, SeveralScenarioFilesRunEachFromAFreshUnitWithOneReport)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "suite/sub");
    // Only a unit started fresh sends its first 0x421 at 125 ms and shows the
    // version page at 1000 ms; a file that presses buttons runs between them.
    const std::string fresh = with_reference("0 expect no-can 0 421 for 120\n"
                                             "120 expect can 0 421#................ within 5\n"
                                             "1000 expect screen VERSION\n1000 exit\n");
    write_file(dir / "suite/a_fresh.txt", fresh);
    write_file(dir / "suite/b_pages.txt", "2100 press 5\n2200 release 5\n3000 expect pixel 0 0 FFFFFF\n");
    write_file(dir / "suite/c_fresh.txt", fresh);
    write_file(dir / "suite/notes.md", "not a scenario");
    write_file(dir / "suite/sub/ignored.txt", "0 wave\n");
    write_file(dir / "a_fresh.txt", fresh);
    const Outcome o = norvane_run(dir.path(), {"--scenario", "suite", "--scenario", "a_fresh.txt", "--workdir",
                                               "units", "--junit", "report.xml"});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("suite/b_pages.txt:3: 3000 expect pixel 0 0 FFFFFF: seen "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("suite/a_fresh.txt: ran 1000 ms"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("suite/c_fresh.txt: ran 1000 ms"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\na_fresh.txt: ran 1000 ms"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.substr(o.out.size() - 19), "9 passed, 1 failed\n") << o.out;
    for (const char* unit : {"a_fresh", "b_pages", "c_fresh", "a_fresh-2"})
        EXPECT_TRUE(std::filesystem::is_directory(dir / "units" / unit / "rootfs")) << unit;

    const std::string xml = read_file(dir / "report.xml");
    EXPECT_NE(xml.find("<testsuite name=\"norvane-run\" tests=\"4\" failures=\"1\" errors=\"0\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testcase name=\"c_fresh\" classname=\"suite\" file=\"suite/c_fresh.txt\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure message=\"suite/b_pages.txt:3: 3000 expect pixel 0 0 FFFFFF: seen "),
              std::string::npos)
        << xml;

    const Outcome empty = norvane_run(dir.path(), {"--scenario", "suite/sub/..", "--scenario", "units"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("units: the folder holds no scenario files (*.txt)"), std::string::npos) << empty.err;
    const Outcome shots = norvane_run(dir.path(), {"--scenario", "suite", "--screenshot", "5:a.png"});
    EXPECT_EQ(shots.status, 2);
    EXPECT_NE(shots.err.find("--screenshot takes one scenario file"), std::string::npos) << shots.err;
}

TEST(NorvaneRun, FilesOfASuiteKeepTheirPicturesApart)
{
    // Both files fail against one reference (the version page is not the
    // tank page); each one's picture must survive the other.
    TempDir dir;
    std::filesystem::create_directories(dir / "suite/golden");
    std::filesystem::copy_file(test_source_path("firmware/screens/golden/tank.png"), dir / "suite/golden/version.png");
    write_file(dir / "suite/a.txt", "100 expect screen golden/version.png\n100 exit\n");
    write_file(dir / "suite/b.txt", "200 expect screen golden/version.png\n200 exit\n");
    const Outcome o = norvane_run(dir.path(), {"--scenario", "suite", "--workdir", "units", "--output", "out"});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("suite/a.txt:1: 100 expect screen golden/version.png: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("; seen and difference in out/a/version_err.png"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("; seen and difference in out/b/version_err.png"), std::string::npos) << o.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "out/a/version_err.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "out/b/version_err.png"));
}

TEST(NorvaneRun, UpdateReferencesWritesThePicturesAndThenTheyHold)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "tests");
    write_file(dir / "tests/page.txt", "1000 expect screen golden/version.png\n1000 exit\n");
    const Outcome first = norvane_run(dir.path(), {"--workdir", "unit", "--scenario", "tests/page.txt"});
    EXPECT_EQ(first.status, 1);
    EXPECT_NE(first.out.find("cannot read the reference 'tests/golden/version.png'"), std::string::npos)
        << first.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "tests/golden/version_err.png"));
    EXPECT_TRUE(std::filesystem::exists(dir / "unit/version_err.png"));

    const Outcome update = norvane_run(
        dir.path(), {"--workdir", "unit", "--scenario", "tests/page.txt", "--update-references"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_NE(update.out.find("tests/page.txt:1: wrote tests/golden/version.png\n"), std::string::npos)
        << update.out;
    EXPECT_NE(update.out.find("0 passed, 0 failed; 1 reference written\n"), std::string::npos) << update.out;
    EXPECT_EQ(read_file(dir / "tests/golden/version.png"),
              read_file(test_source_path("firmware/screens/golden/version.png")));

    const Outcome again = norvane_run(dir.path(), {"--workdir", "unit", "--scenario", "tests/page.txt"});
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "unit/version_err.png"));
}

TEST(NorvaneRun, HelpListsTheOptions)
{
    TempDir dir;
    const Outcome o = norvane_run(dir.path(), {"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* option : {"--workdir DIR", "--duration MS", "--realtime", "--can0 MAPPING",
                               "--can1 MAPPING", "--scenario FILE", "--can-log FILE",
                               "--screenshot MS:FILE", "--quiet", "--help", "MS can P ID#DATA", "--junit FILE",
                               "--output DIR", "--update-references", "MS expect can P ID#DATA [within W]",
                               "MS expect no-can P ID [for W]", "MS expect screen FILE.png [max-diff N]",
                               "MS expect pixel X Y RRGGBB", "MS expect file PATH TEXT"})
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

// A working folder that cannot be used is bad input: nothing ran, exit 2.
TEST(NorvaneRun, AnUnusableWorkdirIsBadInput)
{
    TempDir dir;
    write_file(dir / "file.txt", "x");
    for (const char* workdir : {"file.txt", "file.txt/unit"}) {
        const Outcome run = norvane_run(dir.path(), {"--quiet", "--duration", "100", "--workdir", workdir});
        EXPECT_EQ(run.status, 2) << workdir << ": " << run.err;
        EXPECT_NE(run.err.find("not a folder"), std::string::npos) << run.err;
    }
}

// Lines that quote outside input (file names, a description's bytes) show
// control bytes as \xNN: an escape sequence in a name cannot retitle or
// clear the terminal, a line end cannot add a line.
TEST(NorvaneRun, ControlBytesInQuotedInputAreEscaped)
{
    TempDir dir;
    write_file(dir / "bad.json", "{\"modules\": \"\xff\"}");
    const struct {
        std::vector<std::string> args;
        const char* shown;
    } cases[] = {
        {{"--scenario", "a\x1b]0;PWNED\x07.txt"}, "a\\x1B]0;PWNED\\x07.txt"},
        {{"--installation", "bad.json"}, "last read: '\"\\xFF'"},
        {{"--can0", "trace:x\ny.ctb"}, "x\\x0Ay.ctb"},
    };
    for (const auto& c : cases) {
        const Outcome run = norvane_run(dir.path(), c.args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.shown), std::string::npos) << run.err;
        for (char ch : run.err)
            EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << run.err;
    }
}

// python-can reads the log and finds the same frames as the unit's own parser.
TEST(NorvaneRun, CanLogReadsWithPythonCan)
{
    TempDir dir;
    const Outcome run = norvane_run(dir.path(), {"--quiet", "--duration", "1000", "--workdir", "unit",
                                                 "--can-log", "can.log"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::string expected;
    const std::vector<can_frame> frames = log_frames(dir / "can.log");
    for (const can_frame& f : frames) {
        char text[128];
        std::snprintf(text, sizeof text, "%llu.%06llu can0 %X %d %d ",
                      static_cast<unsigned long long>(f.time_us / 1000000),
                      static_cast<unsigned long long>(f.time_us % 1000000), unsigned(f.id), f.ext, f.len);
        expected += text + data_hex(f, "%02X") + "\n";
    }
    EXPECT_GE(frames.size(), 80u + 9u);  // eight commands per 100 ms, the 0x421 frames

    const Outcome py = run_in(dir.path(), NORVANE_PYTHON,
                              {test_source_path("host/apps/read_can_log.py").string(), "can.log"});
    ASSERT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, expected);
}

// tshark reads the pcap capture of a run and finds, frame for frame, the
// ports, identifiers, data and unit times of its candump log.
TEST(NorvaneRun, PcapReadsWithTshark)
{
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed (scripts/setup.sh installs it)";
    TempDir dir;
    write_file(dir / "s.txt", "150 switch SENB1 1 on\n250 can 0 422#0B02000078563412\n300 can 1 123#11\n");
    const Outcome run = norvane_run(dir.path(), {"--quiet", "--duration", "700", "--workdir", "unit", "--installation",
                                                 "--scenario", "s.txt", "--can-log", "can.log", "--pcap", "can.pcap"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::string expected;
    std::ifstream log(dir / "can.log");
    size_t frames = 0, on_port_1 = 0;
    for (std::string line, iface, why; std::getline(log, line);) {
        can_frame f{};
        ASSERT_TRUE(can_parse_candump_line(line, f, iface, why)) << line << ": " << why;
        char text[128];
        std::snprintf(text, sizeof text, "%llu.%06llu000\t%s\t%u\t%d\t%d\t",
                      static_cast<unsigned long long>(f.time_us / 1000000),
                      static_cast<unsigned long long>(f.time_us % 1000000), iface.c_str(), unsigned(f.id), f.ext,
                      f.len);
        expected += text + data_hex(f, "%02x") + "\n";
        ++frames;
        on_port_1 += iface == "can1";
    }
    EXPECT_GE(frames, 7u * 8u + 6u);  // the commands, the 0x421 frames, the modules' frames
    EXPECT_EQ(on_port_1, 1u) << "the scenario's frame on port 1";

    const Outcome shark = run_in(dir.path(), "tshark", {"-r", "can.pcap", "-T", "fields", "-e", "frame.time_epoch",
                                                        "-e", "frame.interface_name", "-e", "can.id", "-e",
                                                        "can.flags.xtd", "-e", "can.len", "-e", "data.data"});
    ASSERT_EQ(shark.status, 0) << shark.err;
    EXPECT_EQ(shark.out, expected);
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
    // Never ahead of the wall clock: a lower bound only, which a busy machine
    // cannot break (how closely it keeps pace is bench_runner's measure).
    EXPECT_GE(wall_s, 2.95);

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

namespace {

// The python-can side of the bus server's tests (bus_server_python.py) with
// one unit or two units on one bus.
void run_python_can_against_bus_server(const std::string& mode)
{
    TempDir dir;
    const Outcome py = run_in(dir.path(), NORVANE_PYTHON,
                              {test_source_path("host/apps/bus_server_python.py").string(), NORVANE_RUN_PATH,
                               dir.path().string(), mode});
    EXPECT_EQ(py.status, 0) << py.out << py.err;
    EXPECT_NE(py.out.find("all held"), std::string::npos) << py.out << py.err;
}

}  // namespace

// python-can's socketcand client sees the unit's commands every 100 ms and a
// wall-switch frame it sends changes what the unit commands.
TEST(NorvaneRunBusServer, PythonCanSeesTheCommandsAndItsSwitchFrameActs)
{
    run_python_can_against_bus_server("one");
}

// A second unit joins the first one's bus through its socketcand back end:
// python-can on the same server sees both, and one switch frame reaches both.
TEST(NorvaneRunBusServer, TwoUnitsShareOneBusThroughServerAndClient)
{
    run_python_can_against_bus_server("two");
}

// With the installation the server carries the whole bus: python-can sees
// the modules' frames beside the unit's, and its wall-switch frame reaches
// the unit, which lights the lamp on the installation.
TEST(NorvaneRunBusServer, PythonCanSeesTheModulesAndItsSwitchLightsALamp)
{
    run_python_can_against_bus_server("installation");
}

// A real-time run killed with SIGKILL leaves a CAN log of whole lines that
// python-can reads to its end (can_log_kill.py; a hundred kills by hand).
TEST(NorvaneRunBusServer, AKilledRunLeavesACanLogOfWholeLines)
{
    TempDir dir;
    const Outcome py = run_in(dir.path(), NORVANE_PYTHON,
                              {test_source_path("host/apps/can_log_kill.py").string(), NORVANE_RUN_PATH,
                               dir.path().string(), "3"});
    EXPECT_EQ(py.status, 0) << py.out << py.err;
    EXPECT_NE(py.out.find("all held"), std::string::npos) << py.out << py.err;
}

// Under attack the server keeps a well-behaved client whole: one client
// floods frames, another holds 16 connections that open no bus, a third
// flips modes, and python-can still gets every command frame of the unit,
// with no module frame crowded off the bus.
TEST(NorvaneRunBusServer, EveryCommandArrivesWhileOtherClientsAbuseTheServer)
{
    run_python_can_against_bus_server("abuse");
}

TEST(NorvaneRunBusServer, RefusedWithoutRealTimeOrAVirtualPortOrAGoodAddress)
{
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--bus-server", "0"}, "add --realtime"},
        {{"--realtime", "--bus-server", "host:"}, "expected [HOST:]PORT"},
        {{"--realtime", "--bus-server"}, "expected [HOST:]PORT"},
        {{"--realtime", "--can0", "trace:x.ctb", "--can1", "kvaser", "--bus-server", "0"}, "map a port to virtual"},
    };
    for (const auto& c : cases) {
        const Outcome run = norvane_run(dir.path(), c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}
