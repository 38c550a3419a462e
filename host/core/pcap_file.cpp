#include "host/core/pcap_file.h"

namespace norvane {

namespace {

constexpr uint32_t PCAP_MAGIC_MICROSECONDS = 0xA1B2C3D4u;
constexpr uint32_t SOCKETCAN_EFF_FLAG = 0x80000000u;
constexpr uint32_t SOCKETCAN_RTR_FLAG = 0x40000000u;
constexpr uint32_t SOCKETCAN_RECORD_BYTES = 16;

// The file's header and record headers are in the writer's byte order,
// which the magic number tells readers; we write little-endian everywhere.
void put_le32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFFu);
}

void put_le16(std::string& out, uint16_t v)
{
    out += char(v & 0xFFu);
    out += char(v >> 8);
}

}  // namespace

std::string pcap_file_header()
{
    std::string out;
    put_le32(out, PCAP_MAGIC_MICROSECONDS);
    put_le16(out, 2);  // version 2.4
    put_le16(out, 4);
    put_le32(out, 0);  // time zone offset
    put_le32(out, 0);  // timestamp accuracy
    put_le32(out, SOCKETCAN_RECORD_BYTES);  // snapshot length: a whole record
    put_le32(out, PCAP_LINKTYPE_CAN_SOCKETCAN);
    return out;
}

void pcap_append_record(std::string& out, uint64_t us, const can_frame& frame)
{
    put_le32(out, uint32_t(us / 1000000u));
    put_le32(out, uint32_t(us % 1000000u));
    put_le32(out, SOCKETCAN_RECORD_BYTES);
    put_le32(out, SOCKETCAN_RECORD_BYTES);
    // The SocketCAN header: identifier and flags big-endian, as on the wire.
    uint32_t id = frame.ext ? ((frame.id & 0x1FFFFFFFu) | SOCKETCAN_EFF_FLAG) : (frame.id & 0x7FFu);
    if (frame.rtr)
        id |= SOCKETCAN_RTR_FLAG;
    for (int i = 3; i >= 0; --i)
        out += char((id >> (8 * i)) & 0xFFu);
    const uint8_t len = frame.len > 8 ? 8 : frame.len;
    out += char(len);
    out.append(3, '\0');
    for (int i = 0; i < 8; ++i)
        out += char(i < len && !frame.rtr ? frame.data[i] : 0);
}

}  // namespace norvane
