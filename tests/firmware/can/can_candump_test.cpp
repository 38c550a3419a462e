// Writing candump log lines: what can-utils writes, for every kind of frame
// and for times from zero to the largest a log line can hold, and what is
// written reads back the same.
#include <gtest/gtest.h>

#include <string>

#include "seam/can_candump.h"

namespace {

can_frame frame_of(uint32_t id, bool ext, bool rtr, std::initializer_list<uint8_t> data, uint8_t len_over = 0)
{
    can_frame f{};
    f.id = id;
    f.ext = ext ? 1 : 0;
    f.rtr = rtr ? 1 : 0;
    f.len = len_over ? len_over : uint8_t(data.size());
    uint8_t i = 0;
    for (uint8_t b : data)
        f.data[i++] = b;
    return f;
}

struct FormatCase {
    uint64_t time_us;
    const char* iface;
    can_frame frame;
    const char* line;
};

TEST(CanCandump, LinesAreWrittenAsCandumpWritesThemAndReadBack)
{
    const FormatCase cases[] = {
        {0, "can0", frame_of(0x123, false, false, {}), "(0000000000.000000) can0 123#"},
        {1700000000123456ull, "can1", frame_of(0x18FF0080, true, false, {0x0D, 0x01, 0x01, 0, 0, 0, 0, 0xAB}),
         "(1700000000.123456) can1 18FF0080#0D010100000000AB"},
        // Only the identifier's own bits: 11 for a standard one, 29 for an extended one.
        {999999, "vcan0", frame_of(0xFFFF, false, false, {0xFF}), "(0000000000.999999) vcan0 7FF#FF"},
        {1000000, "can0", frame_of(0xFFFFFFFF, true, false, {}), "(0000000001.000000) can0 1FFFFFFF#"},
        {42, "can0", frame_of(0x7E, false, true, {}), "(0000000000.000042) can0 07E#R"},
        // A length past 8 writes the 8 bytes a classic frame holds.
        {5, "can0", frame_of(0x1, false, false, {1, 2, 3, 4, 5, 6, 7, 8}, 15),
         "(0000000000.000005) can0 001#0102030405060708"},
        // Past ten digits of seconds the field grows, as printf's %010 does.
        {UINT64_MAX, "can0", frame_of(0x10, false, false, {0}), "(18446744073709.551615) can0 010#00"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line = can_format_candump_line(c.time_us, c.iface, c.frame);
        EXPECT_EQ(line, c.line);
        std::string appended = "x";
        can_append_candump_line(appended, c.time_us, c.iface, c.frame);
        EXPECT_EQ(appended, std::string("x") + c.line);

        can_frame back{};
        std::string iface, why;
        ASSERT_TRUE(can_parse_candump_line(line, back, iface, why)) << why;
        EXPECT_EQ(iface, c.iface);
        EXPECT_EQ(back.time_us, c.time_us);
        EXPECT_EQ(can_format_candump(back), can_format_candump(c.frame));
    }
}

}  // namespace
