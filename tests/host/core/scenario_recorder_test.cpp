// A recording as a file norvane-run reads back: its command line, its lines
// in order of time, the checks of the outputs and the commands; and the
// start folder it replays from (--start-from).
#include "host/core/scenario_recorder.h"

#include <filesystem>
#include <string>
#include <vector>

#include "host/core/unit_workdir.h"
#include "support/unit_fixture.h"

namespace {

using namespace norvane;
using norvane::testing::read_file;
using norvane::testing::TempDir;
using norvane::testing::write_file;

scenario_action line_action(const std::string& text)
{
    std::vector<scenario_action> actions;
    std::string error;
    EXPECT_TRUE(parse_scenario(text, "s.txt", actions, error)) << error;
    return actions.empty() ? scenario_action{} : actions.front();
}

// The file says how to run it, holds every line in order of time (a
// command check names its frame's earlier send time) and parses back.
TEST(ScenarioRecorder, WritesAFileNorvaneRunReadsWithItsCommandLine)
{
    TempDir dir;
    const std::string path = (dir / "walk.txt").string();
    ScenarioRecorder recorder;
    std::string why;
    ASSERT_TRUE(recorder.open(path, {"walk.unit", true, "/boats/mine.json", {"can1 (trace:bus.log)"}}, why)) << why;
    EXPECT_FALSE(recorder.open(path, {}, why)) << "one recording at a time";
    EXPECT_EQ(recorder.next_picture_name(), "walk_screen1.png");
    EXPECT_EQ(recorder.next_picture_name(), "walk_screen2.png");
    recorder.action(line_action("2406 press 3"));
    recorder.action(line_action("2406 release 3"));
    recorder.action(line_action("2663 switch SENB1 1 on"));
    CommandFrames commands;
    commands.sent(0, 2600, can_frame{0x18EFB000u, 1, 0, 6, {0x80, 0, 0x51, 1, 0, 0}, 0});
    commands.sent(0, 2700, can_frame{0x18EFB000u, 1, 0, 6, {0x80, 0, 0x51, 1, 0, 1}, 0});  // newer
    commands.sent(0, 2650, can_frame{0x18EFB700u, 1, 0, 6, {0x80, 0, 0, 0, 0, 0}, 0});
    commands.sent(0, 2650, can_frame{0x18FFA0B0u, 1, 0, 8, {}, 0});  // a status frame, not a command
    const std::vector<expectation> checks = commands.expectations(2710);
    ASSERT_EQ(checks.size(), 2u);
    for (const expectation& e : checks)
        recorder.expect(e);
    ASSERT_TRUE(recorder.close(2710, why)) << why;
    EXPECT_FALSE(recorder.is_open());

    const std::string text = read_file(path);
    EXPECT_NE(text.find("#   norvane-run --scenario walk.txt --start-from walk.unit --installation "
                        "/boats/mine.json --duration 2710\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("# The frames can1 (trace:bus.log) gave the unit are 'can' lines; the run puts them on its "
                        "virtual bus.\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("2406 press 3\n2406 release 3\n2650 expect can 0 18EFB700#800000000000 within 60\n"
                        "2663 switch SENB1 1 on\n2700 expect can 0 18EFB000#800051010001 within 10\n2710 exit\n"),
              std::string::npos)
        << text;
    std::vector<scenario_action> actions;
    std::vector<expectation> expectations;
    std::string error;
    ASSERT_TRUE(parse_scenario(text, "walk.txt", actions, expectations, error)) << error;
    EXPECT_EQ(actions.size(), 4u);
    EXPECT_EQ(expectations.size(), 2u);
}

// Checks > Outputs: one line per load, each as the installation has it.
TEST(ScenarioRecorder, OutputChecksCoverThe64Loads)
{
    installation::plant plant;
    installation::snapshot state = plant.read();
    state.outputs[0][0].command = 1;
    state.outputs[7][7].command = 1;
    const std::vector<expectation> lines = output_expectations(state, 900);
    ASSERT_EQ(lines.size(), 64u);
    EXPECT_EQ(format_expectation(lines.front()), "900 expect output PWRB1 1 on");
    EXPECT_EQ(format_expectation(lines[1]), "900 expect output PWRB1 2 off");
    EXPECT_EQ(format_expectation(lines.back()), "900 expect output PWRB8 8 on");
}

// --start-from: the working folder's unit state is replaced by the start
// folder's; a folder without one is refused before anything runs.
TEST(ScenarioRecorder, StartFolderReplacesTheUnitsState)
{
    TempDir start;
    TempDir work;
    std::filesystem::create_directories(start / "rootfs/app/data/config");
    std::filesystem::create_directories(work / "rootfs/app/data/config");
    std::filesystem::create_directories(work / "rootfs/app/event");
    write_file(start / "rootfs/app/data/config/eeprom.dat", "kept image");
    write_file(work / "rootfs/app/data/config/eeprom.dat", "later image");
    write_file(work / "rootfs/app/event/stale.txt", "left from before");
    std::string why;
    ASSERT_TRUE(copy_unit_state(start.path().string(), work.path().string(), why)) << why;
    EXPECT_EQ(read_file(work / "rootfs/app/data/config/eeprom.dat"), "kept image");
    EXPECT_FALSE(std::filesystem::exists(work / "rootfs/app/event/stale.txt"));
    EXPECT_FALSE(copy_unit_state(work.path().string(), work.path().string(), why));

    run_options options;
    std::string error;
    EXPECT_EQ(norvane::testing::parse_run_options({"--start-from", (work / "nothing").string()}, options, error),
              RUN_BAD_INPUT);
    EXPECT_NE(error.find("no rootfs folder in it"), std::string::npos) << error;
    EXPECT_EQ(norvane::testing::parse_run_options({"--start-from", start.path().string()}, options, error), RUN_OK)
        << error;
    EXPECT_EQ(options.start_from, start.path().string());
}

}  // namespace
