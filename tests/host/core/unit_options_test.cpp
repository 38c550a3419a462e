#include "host/core/unit_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using norvane::parse_unit_option;
using norvane::unit_options;

// Runs the shared parser over argv as a program's loop does; -1 stops at the
// first error, 0 at the first option that is not a shared one.
int parse(std::vector<const char*> args, unit_options& options, std::string& error)
{
    args.insert(args.begin(), "program");
    for (int i = 1; i < int(args.size()); ++i) {
        const int taken = parse_unit_option(int(args.size()), args.data(), i, options, error);
        if (taken <= 0)
            return taken;
    }
    return 1;
}

std::string mapped_type(uint8_t port)
{
    uint32_t type = 99;
    const char* device = nullptr;
    hal_can_port_mapping(port, &type, &device);
    return std::string(can_port_type_name(type)) + (device ? std::string(":") + device : "");
}

}  // namespace

TEST(UnitOptions, ParsingReadsAndChecksButMapsNothingUntilApplied)
{
    unit_options options;
    std::string error;
    ASSERT_EQ(parse({"--can1", "trace:bus.ctb", "--workdir", "unit", "--can0", "virtual"}, options, error), 1)
        << error;
    EXPECT_EQ(options.workdir, "unit");
    EXPECT_EQ(options.can_mapping[0].value_or(""), "virtual");
    EXPECT_EQ(options.can_mapping[1].value_or(""), "trace:bus.ctb");
    EXPECT_EQ(mapped_type(0), "kvaser");
    EXPECT_EQ(mapped_type(1), "kvaser");

    ASSERT_TRUE(norvane::apply_can_mappings(options, error)) << error;
    EXPECT_EQ(mapped_type(0), "virtual");
    EXPECT_EQ(mapped_type(1), "trace:bus.ctb");
}

TEST(UnitOptions, BadValuesAreRefusedWithTheOptionAndOtherOptionsAreLeft)
{
    struct bad_case {
        std::vector<const char*> args;
        const char* error;
    };
    const bad_case cases[] = {
        {{"--can0"}, "--can0: needs a mapping, for example virtual"},
        {{"--can1", ""}, "--can1: needs a mapping, for example virtual"},
        {{"--can0", "pigeon"}, "--can0: CAN port 0 mapping 'pigeon': unknown back end; accepted forms: "},
        {{"--workdir"}, "--workdir needs a folder"},
    };
    for (const bad_case& c : cases) {
        unit_options options;
        std::string error;
        EXPECT_EQ(parse(c.args, options, error), -1) << c.args[0];
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(mapped_type(0), "kvaser");
    }
    unit_options options;
    std::string error;
    EXPECT_EQ(parse({"--duration", "10"}, options, error), 0);
}
