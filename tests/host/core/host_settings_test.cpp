#include "host/core/host_settings.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

TEST(HostSettings, ValuesAreRawLittleEndianWithTheirNamesAndSizes)
{
    HostSettings s;
    s.left = 100;
    s.top = -20;
    s.zoom = 2;
    s.grid_enabled = 1;
    s.grid_width = 5;
    s.com_port = 3;
    s.com_connected = 1;
    const std::vector<SettingValue> values = encode_host_settings(s);
    ASSERT_EQ(values.size(), 6u);
    using B = std::vector<uint8_t>;
    EXPECT_EQ(values[0].name, "MainWindowTopLeft");
    EXPECT_EQ(values[0].bytes, (B{100, 0, 0, 0, 0xEC, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(values[1].name, "ZoomFactor");
    EXPECT_EQ(values[1].bytes, (B{2, 0, 0, 0}));
    EXPECT_EQ(values[2].name, "GridEnabled");
    EXPECT_EQ(values[3].name, "GridWidth");
    EXPECT_EQ(values[3].bytes, (B{5, 0, 0, 0}));
    EXPECT_EQ(values[4].name, "COMPort");
    EXPECT_EQ(values[4].bytes, (B{3}));
    EXPECT_EQ(values[5].name, "COMPortConnected");

    HostSettings back;
    for (const SettingValue& v : values)
        EXPECT_TRUE(decode_host_setting(back, v.name, v.bytes)) << v.name;
    EXPECT_EQ(back, s);

    // The defaults: position 0x80000000 twice.
    const std::vector<SettingValue> d = encode_host_settings(HostSettings{});
    EXPECT_EQ(d[0].bytes, (B{0, 0, 0, 0x80, 0, 0, 0, 0x80}));
    EXPECT_EQ(d[1].bytes, (B{1, 0, 0, 0}));
    EXPECT_EQ(d[3].bytes, (B{10, 0, 0, 0}));
}

TEST(HostSettings, ValuesOfTheWrongSizeKeepTheirDefault)
{
    HostSettings s;
    EXPECT_FALSE(decode_host_setting(s, "ZoomFactor", {2, 0}));
    EXPECT_FALSE(decode_host_setting(s, "COMPort", {1, 0, 0, 0}));
    EXPECT_FALSE(decode_host_setting(s, "MainWindowTopLeft", {1, 2, 3, 4}));
    EXPECT_FALSE(decode_host_setting(s, "Unknown", {1, 0, 0, 0}));
    EXPECT_EQ(s, HostSettings{});
}

TEST(HostSettings, OutOfRangeValuesFallBackToTheirDefaults)
{
    const std::vector<PanelRect> screens = {{0, 0, 1920, 1080}};
    struct Case {
        HostSettings in;
        HostSettings want;
    };
    auto with = [](auto change) {
        HostSettings s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {with([](HostSettings& s) { s.zoom = 0; }), HostSettings{}},
        {with([](HostSettings& s) { s.zoom = 3; }), HostSettings{}},
        {with([](HostSettings& s) { s.zoom = -4; }), HostSettings{}},
        {with([](HostSettings& s) { s.grid_width = 0; }), HostSettings{}},
        {with([](HostSettings& s) { s.grid_width = 7; }), HostSettings{}},
        {with([](HostSettings& s) { s.com_port = 200; }), HostSettings{}},
        {with([](HostSettings& s) { s.grid_enabled = 5; }), with([](HostSettings& s) { s.grid_enabled = 1; })},
        {with([](HostSettings& s) { s.left = 5000, s.top = 100; }), HostSettings{}},
        {with([](HostSettings& s) { s.left = -2000, s.top = -2000; }), HostSettings{}},
        {with([](HostSettings& s) { s.left = INT32_MAX, s.top = INT32_MAX; }), HostSettings{}},
        // Kept: valid choices and a position partly on the screen.
        {with([](HostSettings& s) { s.zoom = 4, s.grid_width = 40; }),
         with([](HostSettings& s) { s.zoom = 4, s.grid_width = 40; })},
        {with([](HostSettings& s) { s.left = -50, s.top = 1060; }),
         with([](HostSettings& s) { s.left = -50, s.top = 1060; })},
    };
    for (const Case& c : cases) {
        HostSettings s = c.in;
        sanitize_host_settings(s, screens);
        EXPECT_EQ(s, c.want) << "zoom " << c.in.zoom << " width " << c.in.grid_width << " at "
                             << c.in.left << "," << c.in.top;
    }
}

}  // namespace
}  // namespace norvane
