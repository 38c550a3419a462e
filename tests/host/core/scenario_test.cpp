#include "host/core/scenario.h"

#include <gtest/gtest.h>

namespace {

using norvane::action_kind;
using norvane::parse_scenario;
using norvane::scenario_action;

TEST(Scenario, ReadsEveryActionWithCommentsAndBlankLines)
{
    const char* text =
        "# a scenario\n"
        "\n"
        "0 press 1\r\n"
        "   250  release 5   # F5 up\n"
        "300 event 1\n"
        "300 can 0 18FF0380#0D01010000000000\n"
        "400 can 1 421#\n"
        "500 screenshot shots/page one.png  # blanks in the name\n"
        "500 screenshot a#b.BMP\n"
        "900 exit\n";
    std::vector<scenario_action> actions;
    std::string error;
    ASSERT_TRUE(parse_scenario(text, "s.txt", actions, error)) << error;
    ASSERT_EQ(actions.size(), 8u);

    EXPECT_EQ(actions[0].kind, action_kind::press);
    EXPECT_EQ(actions[0].value, 1);
    EXPECT_EQ(actions[0].where, "s.txt:3");
    EXPECT_EQ(actions[1].kind, action_kind::release);
    EXPECT_EQ(actions[1].ms, 250u);
    EXPECT_EQ(actions[1].value, 5);
    EXPECT_EQ(actions[2].kind, action_kind::event);
    EXPECT_EQ(actions[2].value, 1);

    EXPECT_EQ(actions[3].kind, action_kind::can);
    EXPECT_EQ(actions[3].value, 0);
    EXPECT_EQ(actions[3].frame.id, 0x18FF0380u);
    EXPECT_EQ(actions[3].frame.ext, 1);
    EXPECT_EQ(actions[3].frame.len, 8);
    EXPECT_EQ(actions[3].frame.data[0], 0x0D);
    EXPECT_EQ(actions[4].value, 1);
    EXPECT_EQ(actions[4].frame.id, 0x421u);
    EXPECT_EQ(actions[4].frame.ext, 0);
    EXPECT_EQ(actions[4].frame.len, 0);

    EXPECT_EQ(actions[5].kind, action_kind::screenshot);
    EXPECT_EQ(actions[5].file, "shots/page one.png");
    EXPECT_EQ(actions[6].file, "a#b.BMP");
    EXPECT_EQ(actions[7].kind, action_kind::exit);
    EXPECT_EQ(actions[7].ms, 900u);
    EXPECT_EQ(actions[7].where, "s.txt:10");
}

struct BadLine {
    const char* text;
    const char* error;  // the whole message
};

const BadLine kBadLines[] = {
    {"# header\n\n100 jump 3\n",
     "f.txt:3: unknown action 'jump'; expected press, release, event, can, screenshot, exit or expect"},
    {"100 press 0\n", "f.txt:1: button must be 1 to 5 (F1 to F5), found '0'"},
    {"100 press 6\n", "f.txt:1: button must be 1 to 5 (F1 to F5), found '6'"},
    {"100 release\n", "f.txt:1: button must be 1 to 5 (F1 to F5), found ''"},
    {"100 press 1 2\n", "f.txt:1: unexpected '2' after '1'"},
    {"100 event 2\n", "f.txt:1: event must be 0 or 1 (Event 1 or Event 2), found '2'"},
    {"100 can 2 421#00\n", "f.txt:1: CAN port must be 0 or 1, found '2'"},
    {"100 can 0\n", "f.txt:1: expected a frame ID#DATA after the port"},
    {"100 can 0 4210#00\n",
     "f.txt:1: malformed frame '4210#00': identifier must be 3 hex digits (standard) or 8 (extended)"},
    {"100 can 0 421#0011223344556677889\n",
     "f.txt:1: malformed frame '421#0011223344556677889': data must be whole bytes (an even number of "
     "hex digits)"},
    {"100 can 0 421#001122334455667788\n",
     "f.txt:1: malformed frame '421#001122334455667788': more than 8 data bytes"},
    {"100 can 0 421#0G\n", "f.txt:1: malformed frame '421#0G': data is not hex"},
    {"100 can 0 421\n", "f.txt:1: malformed frame '421': expected ID#DATA, no '#' found"},
    {"200 press 1\n100 release 1\n", "f.txt:2: time 100 goes backwards (the line before is at 200)"},
    {"press 1\n", "f.txt:1: expected a time in milliseconds at the start of the line, found 'press'"},
    {"-5 press 1\n", "f.txt:1: expected a time in milliseconds at the start of the line, found '-5'"},
    {"100\n", "f.txt:1: expected an action after the time: press, release, event, can, screenshot, exit or "
     "expect"},
    {"100 screenshot\n", "f.txt:1: expected a file name after 'screenshot'"},
    {"100 screenshot page.jpg\n", "f.txt:1: screenshot file 'page.jpg' must end in .bmp or .png"},
    {"100 exit now\n", "f.txt:1: unexpected 'now' after 'exit'"},
};

TEST(Scenario, RejectsABadLineWithFileLineAndReason)
{
    for (const BadLine& c : kBadLines) {
        SCOPED_TRACE(c.text);
        std::vector<scenario_action> actions;
        std::string error;
        EXPECT_FALSE(parse_scenario(c.text, "f.txt", actions, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(actions.empty());
    }
}

TEST(Scenario, MissingFileIsAnError)
{
    std::vector<scenario_action> actions;
    std::string error;
    EXPECT_FALSE(norvane::load_scenario("/nonexistent/x.txt", actions, error));
    EXPECT_EQ(error.rfind("/nonexistent/x.txt: cannot read the scenario", 0), 0u) << error;
}

}  // namespace
