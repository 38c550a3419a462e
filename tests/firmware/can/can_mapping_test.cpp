#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "can/can_backend.h"
#include "can/can_port.h"
#include "platform/hal.h"

namespace {

struct MappingCase {
    const char* text;
    uint32_t type;
    const char* device;  // nullptr: none
};

const MappingCase kGood[] = {
    {"kvaser", CAN_TYPE_KVASER, nullptr},
    {"kvaser:2", CAN_TYPE_KVASER, "2"},
    {"cando", CAN_TYPE_CANDO, nullptr},
    {"cando:CD123456", CAN_TYPE_CANDO, "CD123456"},
    {"trace:/tmp/run 1/bus.ctb", CAN_TYPE_TRACE, "/tmp/run 1/bus.ctb"},
    {"trace:C:/logs/a:b.log", CAN_TYPE_TRACE, "C:/logs/a:b.log"},
    {"socketcan:vcan0", CAN_TYPE_SOCKETCAN, "vcan0"},
    {"virtual", CAN_TYPE_VIRTUAL, nullptr},
    {"socketcand:127.0.0.1:29536:can0", CAN_TYPE_SOCKETCAND, "127.0.0.1:29536:can0"},
    {"socketcand:[::1]:29536:vcan1", CAN_TYPE_SOCKETCAND, "[::1]:29536:vcan1"},
};

struct BadCase {
    const char* text;
    const char* reason;
};

const BadCase kBad[] = {
    {"", "empty mapping"},
    {"kvaser:", "decimal number"},
    {"kvaser:two", "decimal number"},
    {"kvaser:-1", "decimal number"},
    {"cando:", "serial number"},
    {"trace", "needs a file name"},
    {"trace:", "needs a file name"},
    {"socketcan", "interface name"},
    {"socketcan:an-interface-name-too-long", "interface name"},
    {"virtual:1", "no argument"},
    {"socketcand", "HOST:PORT:CHANNEL"},
    {"socketcand:localhost:29536", "HOST:PORT:CHANNEL"},
    {":29536:can0", "unknown back end"},
    {"socketcand::29536:can0", "HOST:PORT:CHANNEL"},
    {"socketcand:localhost:0:can0", "1 to 65535"},
    {"socketcand:localhost:65536:can0", "1 to 65535"},
    {"socketcand:localhost:port:can0", "1 to 65535"},
    {"socketcand:localhost:29536:", "1 to 16 characters"},
    {"socketcand:localhost:29536:a bus", "1 to 16 characters"},
    {"socketcand:localhost:29536:a_bus_name_of_17_", "1 to 16 characters"},
    {"Kvaser", "unknown back end"},
    {"pcan:1", "unknown back end"},
};

}  // namespace

TEST(CanMapping, AcceptedFormsSetTypeAndDevice)
{
    for (const MappingCase& c : kGood) {
        char why[256] = "unchanged";
        ASSERT_EQ(1, hal_can_map_port(1, c.text, why, sizeof why)) << c.text << ": " << why;
        uint32_t type = 99;
        const char* device = nullptr;
        hal_can_port_mapping(1, &type, &device);
        EXPECT_EQ(type, c.type) << c.text;
        if (c.device)
            EXPECT_STREQ(device, c.device) << c.text;
        else
            EXPECT_EQ(device, nullptr) << c.text;
    }
}

TEST(CanMapping, MalformedStringIsRejectedWithTheAcceptedFormsAndKeepsThePreviousMapping)
{
    char why[512];
    ASSERT_EQ(1, hal_can_map_port(0, "virtual", why, sizeof why));
    for (const BadCase& c : kBad) {
        ASSERT_EQ(0, hal_can_map_port(0, c.text, why, sizeof why)) << c.text;
        const std::string message = why;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.text << ": " << message;
        EXPECT_NE(message.find("kvaser[:CHANNEL], cando[:SERIAL], trace:FILE, socketcan:IFACE, virtual"),
                  std::string::npos)
            << message;
        uint32_t type = 99;
        hal_can_port_mapping(0, &type, nullptr);
        EXPECT_EQ(type, CAN_TYPE_VIRTUAL) << c.text;
    }
    EXPECT_EQ(0, hal_can_map_port(2, "virtual", why, sizeof why));
    EXPECT_EQ(0, hal_can_map_port(0, nullptr, nullptr, 0));
}

TEST(CanMapping, InitConfiguresEachPortFromTheMapping)
{
    char why[256];
    ASSERT_EQ(1, hal_can_map_port(0, "trace:bus.ctb", why, sizeof why));
    can_init();
    can_frame f{};
    // A trace port plays back from its file; no file means no frame and no send.
    EXPECT_EQ(-1, can_port_open(0));
    EXPECT_EQ(-1, can_port_receive(0, &f));
    EXPECT_EQ(0, can_port_set_bitrate(0, 250000));
}

// The README's table of mappings is the registry's: a back end added to the
// registry and not to the README (or the other way round) fails here.
TEST(CanMapping, ReadmeListsEveryBackEndOfTheRegistry)
{
    const std::string readme = NORVANE_TEST_DIR "/../../../README.md";
    std::ifstream in(readme);
    ASSERT_TRUE(in) << readme;
    std::vector<std::string> table;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("| `", 0) == 0)
            table.push_back(line);
    std::vector<std::string> expected;
    for (uint32_t i = 0; i < can_backend_count(); ++i) {
        const can_backend& backend = *can_backend_at(i)->backend;
        expected.push_back(std::string("| `") + backend.form + "` | " + backend.help + " |");
    }
    EXPECT_EQ(table, expected);
}

TEST(CanMapping, RegistryNamesEachTypeOnce)
{
    for (uint32_t i = 0; i < can_backend_count(); ++i) {
        const can_backend_row& row = *can_backend_at(i);
        EXPECT_EQ(can_backend_of_type(row.type), &row) << row.backend->name;
        EXPECT_EQ(can_backend_named(row.backend->name), &row) << row.backend->name;
        EXPECT_STREQ(can_port_type_name(row.type), row.backend->name);
    }
    EXPECT_EQ(can_backend_named("pcan"), nullptr);
    EXPECT_STREQ(can_port_type_name(99), "unknown");
}
