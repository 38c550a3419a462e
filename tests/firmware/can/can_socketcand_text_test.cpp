// socketcand's raw-mode text: cutting a stream into messages, reading each
// message, and writing what reads back the same.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "seam/can_socketcand_text.h"

namespace {

struct ParseCase {
    const char* text;
    bool ok;
    can_sockcand_kind kind;
    uint32_t id;
    uint8_t ext;
    std::vector<uint8_t> data;
    uint64_t time_us;
    const char* why_part;  // part of the reason when refused, or the text field
};

using K = can_sockcand_kind;

const ParseCase kParse[] = {
    {"< hi >", true, K::hi, 0, 0, {}, 0, ""},
    {"<ok>", true, K::ok, 0, 0, {}, 0, ""},
    {"< echo >", true, K::echo, 0, 0, {}, 0, ""},
    {"< rawmode >", true, K::rawmode, 0, 0, {}, 0, ""},
    {"< bcmmode >", true, K::bcmmode, 0, 0, {}, 0, ""},
    {"< open can0 >", true, K::open, 0, 0, {}, 0, "can0"},
    {"< error could not open bus >", true, K::error, 0, 0, {}, 0, "could not open bus"},
    {"< error >", true, K::error, 0, 0, {}, 0, ""},
    // send, as socketcand documents it and as python-can 4.1 writes it
    {"< send 123 0 >", true, K::send, 0x123, 0, {}, 0, ""},
    {"< send 1AAAAAAA 2 1 F1 >", true, K::send, 0x1AAAAAAA, 1, {0x01, 0xF1}, 0, ""},
    {"< send 18FF0380 3 d 1 1 >", true, K::send, 0x18FF0380, 1, {0x0D, 1, 1}, 0, ""},
    {"< send 80 1 1 >", true, K::send, 0x80, 0, {1}, 0, ""},
    {"< send CFF0480 1 0 >", true, K::send, 0x0CFF0480, 1, {0}, 0, ""},  // unpadded extended
    {"< send 00000080 1 1 >", true, K::send, 0x80, 1, {1}, 0, ""},       // 8 digits: extended
    {"<  send   422  8 1 2 3 4 5 6 7 8  >", true, K::send, 0x422, 0, {1, 2, 3, 4, 5, 6, 7, 8}, 0, ""},
    // frame, as socketcand writes it and as its description shows it
    {"< frame 18FF0380 1700000000.123456 0D0101 >", true, K::frame, 0x18FF0380, 1, {0x0D, 1, 1},
     1700000000123456ull, ""},
    {"< frame 123 23.424242 11 22 33 44 >", true, K::frame, 0x123, 0, {0x11, 0x22, 0x33, 0x44},
     23424242ull, ""},
    {"< frame 7FF 1.000000  >", true, K::frame, 0x7FF, 0, {}, 1000000ull, ""},
    {"< frame 7FF 1.5 >", true, K::frame, 0x7FF, 0, {}, 1500000ull, ""},
    // refusals, each with its reason
    {"hi", false, K::hi, 0, 0, {}, 0, "'<', fields and '>'"},
    {"<>", false, K::hi, 0, 0, {}, 0, "empty"},
    {"< hello >", false, K::hi, 0, 0, {}, 0, "unknown command"},
    {"< hi there >", false, K::hi, 0, 0, {}, 0, "no fields"},
    {"< open >", false, K::hi, 0, 0, {}, 0, "bus name"},
    {"< open a_bus_name_of_17_ch >", false, K::hi, 0, 0, {}, 0, "bus name"},
    {"< send >", false, K::hi, 0, 0, {}, 0, "identifier and a length"},
    {"< send 12G 0 >", false, K::hi, 0, 0, {}, 0, "1 to 8 hex digits"},
    {"< send 123456789 0 >", false, K::hi, 0, 0, {}, 0, "1 to 8 hex digits"},
    {"< send 20000000 0 >", false, K::hi, 0, 0, {}, 0, "above 1FFFFFFF"},
    {"< send 123 9 1 2 3 4 5 6 7 8 9 >", false, K::hi, 0, 0, {}, 0, "0 to 8"},
    {"< send 123 2 1 >", false, K::hi, 0, 0, {}, 0, "differs from the length"},
    {"< send 123 1 1 2 >", false, K::hi, 0, 0, {}, 0, "differs from the length"},
    {"< send 123 1 100 >", false, K::hi, 0, 0, {}, 0, "1 or 2 hex digits"},
    {"< send 123 1 x >", false, K::hi, 0, 0, {}, 0, "1 or 2 hex digits"},
    {"< send 1 2 3 4 5 6 7 8 9 10 11 12 13 >", false, K::hi, 0, 0, {}, 0, "too many fields"},
    {"< frame 123 >", false, K::hi, 0, 0, {}, 0, "identifier and a time"},
    {"< frame 123 12 00 >", false, K::hi, 0, 0, {}, 0, "SECONDS.MICROSECONDS"},
    {"< frame 123 1.1234567 00 >", false, K::hi, 0, 0, {}, 0, "SECONDS.MICROSECONDS"},
    {"< frame 123 1.0 0 >", false, K::hi, 0, 0, {}, 0, "whole bytes"},
    {"< frame 123 1.0 001122334455667788 >", false, K::hi, 0, 0, {}, 0, "more than 8"},
    {"< frame 123 1.0 0011223344556677 88 >", false, K::hi, 0, 0, {}, 0, "more than 8"},
    {"< frame 123 1.0 zz >", false, K::hi, 0, 0, {}, 0, "not hex"},
};

TEST(SocketcandText, ReadsEachMessageOrSaysWhyNot)
{
    for (const ParseCase& c : kParse) {
        can_sockcand_message m{};
        const char* why = "";
        const bool ok = can_sockcand_parse(c.text, m, why);
        ASSERT_EQ(ok, c.ok) << c.text << ": " << why;
        if (!ok) {
            EXPECT_NE(std::string(why).find(c.why_part), std::string::npos) << c.text << ": " << why;
            continue;
        }
        EXPECT_EQ(m.kind, c.kind) << c.text;
        EXPECT_EQ(std::string(m.text), c.why_part) << c.text;
        if (c.kind == K::send || c.kind == K::frame) {
            EXPECT_EQ(m.frame.id, c.id) << c.text;
            EXPECT_EQ(m.frame.ext, c.ext) << c.text;
            EXPECT_EQ(std::vector<uint8_t>(m.frame.data, m.frame.data + m.frame.len), c.data) << c.text;
            EXPECT_EQ(m.frame.time_us, c.time_us) << c.text;
        }
    }
}

TEST(SocketcandText, ParserStaysInsideItsInput)
{
    // A message cut out of a longer buffer: nothing after it may be read.
    const std::string buffer = "< send 123 2 1 2 >< send 456 8 1 2 3 4 5 6 7 8 >";
    can_sockcand_message m{};
    const char* why = "";
    ASSERT_TRUE(can_sockcand_parse(std::string_view(buffer).substr(0, 18), m, why)) << why;
    EXPECT_EQ(m.frame.len, 2);
    // Every prefix of a valid message is refused or read, never more.
    const std::string text = "< frame 18FF0380 1700000000.123456 0D0101 >";
    for (size_t n = 0; n < text.size(); ++n) {
        std::vector<char> exact(text.begin(), text.begin() + long(n));  // ASan sees a read past it
        can_sockcand_parse(std::string_view(exact.data(), exact.size()), m, why);
    }
}

struct CutCase {
    const char* input;
    can_sockcand_cut_kind kind;
    size_t length;
};

const CutCase kCuts[] = {
    {"", can_sockcand_cut_kind::need_more, 0},
    {"< hi >< ok >", can_sockcand_cut_kind::message, 6},
    {" \r\n< ok >", can_sockcand_cut_kind::blank, 3},
    {"garbage< ok >", can_sockcand_cut_kind::garbage, 7},
    {"garbage", can_sockcand_cut_kind::garbage, 7},
    {"< send 123 0", can_sockcand_cut_kind::need_more, 0},        // half a message: wait
    {"< send 12< send 123 0 >", can_sockcand_cut_kind::garbage, 9},  // half a message, then a whole one
};

TEST(SocketcandText, CutsTheStreamIntoMessages)
{
    for (const CutCase& c : kCuts) {
        const can_sockcand_cut cut = can_sockcand_cut_front(c.input);
        EXPECT_EQ(cut.kind, c.kind) << c.input;
        EXPECT_EQ(cut.length, c.length) << c.input;
        if (cut.kind == can_sockcand_cut_kind::garbage) {
            EXPECT_TRUE(cut.why && *cut.why) << c.input;
        }
    }
    // A message that never ends is garbage once it is too long to be one.
    const std::string endless = "<" + std::string(CAN_SOCKCAND_MESSAGE_MAX + 10, 'x');
    const can_sockcand_cut cut = can_sockcand_cut_front(endless);
    EXPECT_EQ(cut.kind, can_sockcand_cut_kind::garbage);
    EXPECT_EQ(cut.length, CAN_SOCKCAND_MESSAGE_MAX);
    EXPECT_EQ(can_sockcand_cut_front(endless.substr(0, CAN_SOCKCAND_MESSAGE_MAX - 1)).kind,
              can_sockcand_cut_kind::need_more);
}

can_frame make(uint32_t id, uint8_t ext, std::vector<uint8_t> data)
{
    can_frame f{};
    f.id = id;
    f.ext = ext;
    f.len = uint8_t(data.size());
    if (!data.empty())
        std::memcpy(f.data, data.data(), data.size());
    return f;
}

TEST(SocketcandText, WritesWhatItReads)
{
    const can_frame frames[] = {
        make(0x18FF0380, 1, {0x0D, 1, 1, 0, 0, 0, 0, 0}), make(0x080, 0, {1}), make(0x7FF, 0, {}),
        make(0x00000080, 1, {0xAB, 0xCD}), make(0x1FFFFFFF, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
    };
    char text[CAN_SOCKCAND_TEXT_MAX];
    for (const can_frame& f : frames) {
        for (const bool as_send : {true, false}) {
            const size_t n = as_send ? can_sockcand_format_send(f, text, sizeof text)
                                     : can_sockcand_format_frame(f, 999999999999999999ull, text, sizeof text);
            ASSERT_GT(n, 0u);
            ASSERT_EQ(n, std::strlen(text));
            ASSERT_EQ(can_sockcand_cut_front(text).length, n) << text;
            can_sockcand_message m{};
            const char* why = "";
            ASSERT_TRUE(can_sockcand_parse(std::string_view(text, n), m, why)) << text << ": " << why;
            EXPECT_EQ(m.kind, as_send ? K::send : K::frame);
            EXPECT_EQ(m.frame.id, f.id) << text;
            EXPECT_EQ(m.frame.ext, f.ext) << text;
            EXPECT_EQ(m.frame.len, f.len) << text;
            EXPECT_EQ(0, std::memcmp(m.frame.data, f.data, f.len)) << text;
        }
    }
    // The forms socketcand itself writes.
    can_sockcand_format_frame(make(0x123, 0, {0x11, 0x22, 0x33, 0x44}), 23424242, text, sizeof text);
    EXPECT_STREQ(text, "< frame 123 23.424242 11223344 >");
    can_sockcand_format_frame(make(0x123, 0, {}), 1000000, text, sizeof text);
    EXPECT_STREQ(text, "< frame 123 1.000000  >");
    can_sockcand_format_send(make(0x1AAAAAAA, 1, {0x01, 0xF1}), text, sizeof text);
    EXPECT_STREQ(text, "< send 1AAAAAAA 2 01 F1 >");
    // Too small a buffer: nothing written but the zero.
    char small[8] = "x";
    EXPECT_EQ(can_sockcand_format_send(frames[0], small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
}

}  // namespace
