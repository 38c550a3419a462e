#include "host/core/scenario.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/core/scenario_verbs.h"

namespace {

using norvane::action_kind;
using norvane::format_action;
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
    const std::vector<std::string> lines = {
        "0 press 1",
        "250 release 5",
        "300 event 1",
        "300 can 0 18FF0380#0D01010000000000",
        "400 can 1 421#",
        "500 screenshot shots/page one.png",
        "500 screenshot a#b.BMP",
        "900 exit",
    };
    std::vector<std::string> read;
    for (const scenario_action& a : actions)
        read.push_back(format_action(a));
    EXPECT_EQ(read, lines);
    ASSERT_EQ(actions.size(), lines.size());
    EXPECT_EQ(actions[0].where, "s.txt:3");
    EXPECT_EQ(actions[3].frame.len, 8);
    EXPECT_EQ(actions[7].where, "s.txt:10");
}

// Every verb's line reads back as the formatter writes it: the canonical
// form, and the same again when that is read.
TEST(Scenario, EveryLineReadsBackAsItsFormatterWritesIt)
{
    const struct {
        const char* line;
        const char* formatted;  // nullptr: the line itself
    } cases[] = {
        {"0 press 1", nullptr},
        {"  250\trelease   5  ", "250 release 5"},
        {"300 event 0", nullptr},
        {"300 can 0 18ff0380#0d01010000000000", "300 can 0 18FF0380#0D01010000000000"},
        {"400 can 1 421#", nullptr},
        {"400 can 1 7FF#R", nullptr},
        {"500 screenshot shots/page one.png", nullptr},
        {"500 screenshot a#b.BMP", nullptr},
        {"900 exit", nullptr},
        {"100 switch SENB3 10 on", nullptr},
        {"100 switch SENB1 1 off", nullptr},
        {"100 push SENB2 3 3600000", nullptr},
        {"200 tank 4 62.5", nullptr},
        {"200 tank 1 007.50", "200 tank 1 7.5"},
        {"200 tank 2 125", nullptr},
        {"200 tank 3 0.001", nullptr},
        {"200 volts 10 12.75", nullptr},
        {"200 volts 1 65.535", nullptr},
        {"300 fault PWRB8 7 3 15", nullptr},
        {"300 fault PWRB1 1 0 0", nullptr},
        {"400 module PWRB1 off", nullptr},
        {"400 module SENB4 on", nullptr},
        {"500 module PWRB2 ignore", nullptr},
        {"500 module PWRB8 obey", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string formatted = c.formatted ? c.formatted : c.line;
        std::vector<scenario_action> actions;
        std::string error;
        ASSERT_TRUE(parse_scenario(c.line, "r.txt", actions, error)) << error;
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(format_action(actions[0]), formatted);
        ASSERT_TRUE(parse_scenario(formatted, "r.txt", actions, error)) << error;
        ASSERT_EQ(actions.size(), 1u);
        EXPECT_EQ(format_action(actions[0]), formatted);
    }
}

// The usage text and the error lists are the verbs' rows: every verb is in
// both, with its own usage line.
TEST(Scenario, UsageAndErrorListsNameEveryVerb)
{
    const std::string usage = norvane::scenario_usage();
    std::vector<scenario_action> actions;
    std::string unknown;
    EXPECT_FALSE(parse_scenario("1 jump\n", "f.txt", actions, unknown));
    size_t rows = 0;
    for (; const norvane::scenario_verb* row = norvane::scenario_verb_at(rows); ++rows) {
        SCOPED_TRACE(row->verb);
        EXPECT_NE(usage.find(std::string("  MS ") + row->verb + " "), std::string::npos);
        EXPECT_NE(usage.find(row->usage), std::string::npos);
        const std::string word = std::string(" ") + row->verb;
        const size_t at = unknown.find(word);
        ASSERT_NE(at, std::string::npos) << unknown;
        const size_t end = at + word.size();
        EXPECT_TRUE(end == unknown.size() || unknown[end] == ',') << unknown;
        EXPECT_EQ(norvane::scenario_verb_named(row->verb), row);
    }
    EXPECT_GT(rows, 0u);
    EXPECT_NE(usage.find(norvane::expectation_usage()), std::string::npos);
}

// The installation's actions: 1-based numbers in the text, 0-based in the
// action, decimals for tanks and volts.
TEST(Scenario, ReadsTheInstallationActions)
{
    const char* text =
        "100 switch SENB3 10 on\n"
        "100 push SENB1 2 250\n"
        "200 tank 4 62.5\n"
        "200 volts 10 12.75\n"
        "300 fault PWRB8 7 3 15\n"
        "400 module PWRB1 off\n"
        "400 module SENB4 on\n"
        "500 module PWRB2 ignore\n";
    std::vector<scenario_action> actions;
    std::string error;
    ASSERT_TRUE(parse_scenario(text, "s.txt", actions, error)) << error;
    ASSERT_EQ(actions.size(), 8u);
    for (const scenario_action& a : actions)
        EXPECT_EQ(a.kind, action_kind::plant);
    auto verb = [](const char* word) { return installation::plant_verb_named(word); };
    EXPECT_EQ(actions[0].plant.verb, verb("switch"));
    EXPECT_EQ(actions[0].plant.module, 2);
    EXPECT_EQ(actions[0].plant.channel, 9);
    EXPECT_TRUE(actions[0].plant.on);
    EXPECT_EQ(actions[1].plant.verb, verb("push"));
    EXPECT_EQ(actions[1].plant.held_ms, 250u);
    EXPECT_EQ(actions[2].plant.verb, verb("tank"));
    EXPECT_EQ(actions[2].plant.module, 3);  // SENB4
    EXPECT_EQ(actions[2].plant.channel, 3);
    EXPECT_DOUBLE_EQ(actions[2].plant.amount, 62.5);
    EXPECT_EQ(actions[3].plant.verb, verb("volts"));
    EXPECT_EQ(actions[3].plant.channel, 9);
    EXPECT_DOUBLE_EQ(actions[3].plant.amount, 12.75);
    EXPECT_EQ(actions[4].plant.verb, verb("fault"));
    EXPECT_EQ(actions[4].plant.module, 11);  // PWRB8
    EXPECT_EQ(actions[4].plant.channel, 6);
    EXPECT_EQ(actions[4].plant.state, 3);
    EXPECT_EQ(actions[4].plant.code, 15);
    EXPECT_EQ(actions[5].plant.verb, installation::module_verb());
    EXPECT_EQ(actions[5].plant.module, 4);
    EXPECT_EQ(actions[5].plant.state, 0);  // talking
    EXPECT_FALSE(actions[5].plant.on);
    EXPECT_EQ(actions[6].plant.module, 3);
    EXPECT_TRUE(actions[6].plant.on);
    EXPECT_EQ(actions[7].plant.verb, installation::module_verb());
    EXPECT_EQ(actions[7].plant.module, 5);
    EXPECT_EQ(actions[7].plant.state, 1);  // obeying
    EXPECT_FALSE(actions[7].plant.on);
}

struct BadLine {
    const char* text;
    const char* error;  // the whole message
};

const BadLine kBadLines[] = {
    {"# header\n\n100 jump 3\n",
     "f.txt:3: unknown action 'jump'; expected press, release, event, can, screenshot, exit, expect, or switch, push, tank, volts, fault, module"},
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
    {"100\n", "f.txt:1: expected an action after the time: press, release, event, can, screenshot, exit, "
     "expect, or switch, push, tank, volts, fault, module"},
    {"100 switch SENB4 1 on\n", "f.txt:1: expected a switch module SENB1 to SENB3, found 'SENB4'"},
    {"100 switch SENB1 11 on\n", "f.txt:1: channel must be 1 to 10, found '11'"},
    {"100 switch SENB1 1 up\n", "f.txt:1: expected on or off after the channel, found 'up'"},
    {"100 push SENB2 3 0\n", "f.txt:1: expected the time held, 1 to 3600000 ms, found '0'"},
    {"100 tank 5 50\n", "f.txt:1: tank must be 1 to 4 (fuel 1, fuel 2, water 1, water 2), found '5'"},
    {"100 tank 1 125.5\n", "f.txt:1: expected a level of 0 to 125 percent, found '125.5'"},
    {"100 tank 1 1.2.3\n", "f.txt:1: expected a level of 0 to 125 percent, found '1.2.3'"},
    {"100 volts 3 -1\n", "f.txt:1: expected volts of 0 to 65.535, found '-1'"},
    {"100 fault PWRB9 1 0 0\n", "f.txt:1: expected a power module PWRB1 to PWRB8, found 'PWRB9'"},
    {"100 fault PWRB1 8 0 0\n",
     "f.txt:1: output must be 1 to 7 (the outputs that report state and code), found '8'"},
    {"100 fault PWRB1 1 4 0\n", "f.txt:1: state must be 0 to 3, found '4'"},
    {"100 fault PWRB1 1 0 16\n", "f.txt:1: code must be 0 to 15, found '16'"},
    {"100 module SENB1 ignore\n", "f.txt:1: expected on or off after 'SENB1', found 'ignore'"},
    {"100 module HELM off\n", "f.txt:1: expected a module SENB1 to SENB4 or PWRB1 to PWRB8, found 'HELM'"},
    {"100 module PWRB2 off now\n", "f.txt:1: unexpected 'now' at the end of the line"},
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
