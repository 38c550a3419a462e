#include "host/core/bus_dbc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "seam/can_candump.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;
using norvane::testing::read_file;
using norvane::testing::TempDir;
using norvane::testing::write_file;

std::filesystem::path source_path(const std::string& relative)
{
    return norvane::testing::test_source_path("../" + relative);
}

// The command's standard output; "" when it fails.
std::string run_command(const std::string& command)
{
    std::string out;
    std::FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    return pclose(p) == 0 ? out : std::string();
}

// Where scripts/setup.sh puts the npm packages the tests use.
std::filesystem::path node_modules()
{
    if (const char* dir = std::getenv("NORVANE_NODE_DIR"))
        return std::filesystem::path(dir) / "node_modules";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = cache && *cache ? std::filesystem::path(cache)
                                                       : std::filesystem::path(home ? home : "/") / ".cache";
    return base / "norvane" / "node" / "node_modules";
}

TEST(BusDbc, ShippedFileIsTheDecodersTable)
{
    std::istringstream shipped(read_file(source_path("assets/can/norvane_bus.dbc")));
    std::istringstream table(bus_dbc_text(bus_message_table(installation::default_description())));
    std::string a, b;
    for (int line = 1; std::getline(table, b); ++line) {
        const bool more = bool(std::getline(shipped, a));
        ASSERT_TRUE(more && a == b) << "assets/can/norvane_bus.dbc:" << line << " is '" << (more ? a : "(end)")
                                    << "', the decoder's table has '" << b
                                    << "': write it again with norvane-dbc --output assets/can/norvane_bus.dbc";
    }
    EXPECT_FALSE(std::getline(shipped, a)) << "assets/can/norvane_bus.dbc goes on after the table: '" << a << "'";
}

TEST(BusDbc, NumbersReadBackExactly)
{
    for (double v : {0.0, 1.0, 250000.0, 0.02, -100.0 / 24.0, 4900.0 / 24.0, 4294967295.0, 1e-7})
        EXPECT_EQ(std::strtod(bus_dbc_number(v).c_str(), nullptr), v) << bus_dbc_number(v);
    EXPECT_EQ(bus_dbc_number(0.02), "0.02");
    EXPECT_EQ(bus_dbc_number(125), "125");
}

// A DBC reader no one here wrote (the npm package candied) decodes a
// session's CAN log with our DBC file to the values our decoder gives.
TEST(BusDbc, IndependentReaderDecodesASessionAsTheDecoderDoes)
{
    if (run_command("command -v node").empty())
        GTEST_SKIP() << "node is not installed (scripts/setup.sh installs Debian's nodejs)";
    const std::filesystem::path candied = node_modules() / "candied";
    if (!std::filesystem::exists(candied / "package.json"))
        GTEST_SKIP() << "the npm package candied is not in " << candied.string() << " (scripts/setup.sh installs it)";

    TempDir dir;
    // Switches, push buttons, tanks across and beyond their ranges, a fault
    // and the unit's test frames: every family of the bus with values that move.
    write_file(dir / "session.txt",
               "500 tank 1 50\n600 tank 2 120\n700 tank 3 80\n800 volts 4 1.2\n900 volts 5 12.5\n"
               "1000 switch SENB1 1 on\n1200 push SENB1 2 200\n1300 switch SENB3 1 on\n"
               "1500 fault PWRB3 2 2 9\n1600 fault PWRB8 7 3 15\n"
               "1700 can 0 422#0B02000078563412\n1800 can 0 422#0C00FF00FFFFFFFF\n"
               "2000 press 3\n2100 release 3\n");
    run_options options;
    std::string error;
    ASSERT_EQ(norvane::testing::parse_run_options({"--workdir", dir.path().string(), "--installation", "--quiet",
                                                   "--scenario", (dir / "session.txt").string(), "--can-log",
                                                   (dir / "session.log").string(), "--duration", "3000"},
                                                  options, error),
              RUN_OK)
        << error;
    ASSERT_EQ(run_headless(options).status, RUN_OK);
    write_file(dir / "bus.dbc", bus_dbc_text(bus_message_table(installation::default_description())));

    // One output line per log line: "NAME sig=value ..." or "-" when the
    // reader does not decode the frame.
    write_file(dir / "decode.js", R"(
const {Dbc, Can} = require(process.argv[2]);
const fs = require('fs');
const can = new Can();
can.database = new Dbc().load(fs.readFileSync(process.argv[3], 'utf8'));
for (const line of fs.readFileSync(process.argv[4], 'utf8').split('\n')) {
  const m = /^\(\S+\) \S+ ([0-9A-F]+)#([0-9A-F]*)$/.exec(line);
  if (!m) continue;
  const ext = m[1].length > 3;
  const id = parseInt(m[1], 16) + (ext ? 0x80000000 : 0);
  const bytes = (m[2].match(/../g) || []).map(b => parseInt(b, 16));
  const d = bytes.length ? can.decode(can.createFrame(id, bytes, ext)) : undefined;
  console.log(d ? [d.name, ...[...d.boundSignals].map(([k, v]) => k + '=' + v.value)].join(' ') : '-');
}
)");
    const std::string theirs = run_command("node " + (dir / "decode.js").string() + " " + candied.string() + " " +
                                           (dir / "bus.dbc").string() + " " + (dir / "session.log").string());
    ASSERT_FALSE(theirs.empty()) << "node could not decode the log";

    const BusDecoder decoder;
    std::istringstream log(read_file(dir / "session.log"));
    std::istringstream decoded(theirs);
    std::string line, their_line;
    size_t frames = 0, compared = 0;
    std::set<std::string> kinds;
    while (std::getline(log, line)) {
        ASSERT_TRUE(std::getline(decoded, their_line)) << "the reader stopped before " << line;
        can_frame f;
        std::string iface, why;
        ASSERT_TRUE(can_parse_candump_line(line, f, iface, why)) << line;
        ++frames;
        const bus_decoded ours = decoder.decode(f);
        if (!ours.message || !ours.note.empty()) {
            // The reader, like the receiver, takes no frame of another length.
            EXPECT_EQ(their_line, "-") << line;
            continue;
        }
        std::istringstream words(their_line);
        std::string name;
        words >> name;
        ASSERT_EQ(name, ours.message->name) << line;
        std::string word;
        size_t i = 0;
        while (words >> word) {
            ASSERT_LT(i, ours.values.size()) << line << ": " << their_line;
            const size_t eq = word.find('=');
            EXPECT_EQ(word.substr(0, eq), ours.values[i].signal->name) << line;
            const double value = std::strtod(word.c_str() + eq + 1, nullptr);
            EXPECT_NEAR(value, ours.values[i].value, 1e-9 * std::max(1.0, std::fabs(value)))
                << line << ": " << word << ", ours " << ours.values[i].text;
            ++i;
        }
        EXPECT_EQ(i, ours.values.size()) << line << ": " << their_line;
        kinds.insert(ours.message->kind);
        ++compared;
    }
    EXPECT_FALSE(std::getline(decoded, their_line)) << "the reader decoded more lines than the log has";
    EXPECT_GT(frames, 300u);
    EXPECT_EQ(compared, frames);
    EXPECT_EQ(kinds.size(), 6u) << "every message family of the bus is in the session";
}

}  // namespace
