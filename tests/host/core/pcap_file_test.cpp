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

// The bytes Wireshark's pcapng and SocketCAN readers expect, checked by
// hand: without tshark on the machine these still hold the format.
TEST(PcapFile, OneInterfacePerPortAndRecordsInTheSocketCanLayout)
{
    EXPECT_EQ(hex(pcap_file_header()),
              // Section header: type, length 28, byte-order magic, version 1.0,
              // section length -1, length again.
              "0a0d0d0a" "1c000000" "4d3c2b1a" "01000000" "ffffffffffffffff" "1c000000"
              // Interface 0: type 1, length 32, link type 227, snapshot length 16,
              // if_name "can0", end of options, length again; interface 1 "can1".
              "01000000" "20000000" "e3000000" "10000000" "02000400" "63616e30" "00000000" "20000000"
              "01000000" "20000000" "e3000000" "10000000" "02000400" "63616e31" "00000000" "20000000");
    can_frame ext{0x18EFB000u, 1, 0, 6, {0x80, 0, 0x45, 0xC1, 0, 0, 0xAA, 0xBB}, 0};
    can_frame remote{0x421u, 0, 1, 8, {1, 2, 3, 4, 5, 6, 7, 8}, 0};
    std::string out;
    pcap_append_record(out, 3'600'000'123ull, 0, ext);
    pcap_append_record(out, 100'000ull, 1, remote);
    EXPECT_EQ(hex(out),
              // Enhanced packet: type 6, length 48, interface 0, 3600000123 us
              // (high and low words), 16 bytes twice; id with the extended
              // flag, big-endian; length 6; reserved; the six data bytes and
              // zeros past the length; length again.
              "06000000" "30000000" "00000000" "00000000" "7ba493d6" "10000000" "10000000"
              "98efb000" "06000000" "800045c100000000" "30000000"
              // Interface 1 (CAN port 1), 100000 us; a standard remote frame: no data.
              "06000000" "30000000" "01000000" "00000000" "a0860100" "10000000" "10000000"
              "40000421" "08000000" "0000000000000000" "30000000");
}

}  // namespace
