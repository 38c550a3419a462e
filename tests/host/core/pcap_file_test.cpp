#include "host/core/pcap_file.h"

#include <gtest/gtest.h>

namespace {

using namespace norvane;

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The bytes Wireshark's SocketCAN reader expects, checked by hand: without
// tshark on the machine these still hold the format.
TEST(PcapFile, HeaderAndRecordsInTheSocketCanLayout)
{
    // Magic (microseconds), version 2.4, zone, accuracy, snapshot length 16, link type 227.
    EXPECT_EQ(hex(pcap_file_header()), "d4c3b2a1" "02000400" "00000000" "00000000" "10000000" "e3000000");
    can_frame ext{0x18EFB000u, 1, 0, 6, {0x80, 0, 0x45, 0xC1, 0, 0, 0xAA, 0xBB}, 0};
    can_frame remote{0x421u, 0, 1, 8, {1, 2, 3, 4, 5, 6, 7, 8}, 0};
    std::string out;
    pcap_append_record(out, 3'600'000'123ull, ext);
    pcap_append_record(out, 100'000ull, remote);
    EXPECT_EQ(hex(out),
              // 3600 s, 123 us, 16 bytes twice; id with the extended flag, big-endian;
              // length 6; reserved; the six data bytes and zeros past the length.
              "100e00007b0000001000000010000000" "98efb000" "06000000" "800045c100000000"
              // 0 s, 100000 us; a standard remote frame: no data.
              "00000000a0860100100000001000000040000421" "08000000" "0000000000000000");
}

}  // namespace
