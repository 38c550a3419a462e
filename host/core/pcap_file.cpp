#include "host/core/pcap_file.h"

namespace norvane {

namespace {

constexpr uint32_t SECTION_HEADER_BLOCK = 0x0A0D0D0Au;
constexpr uint32_t INTERFACE_BLOCK = 0x00000001u;
constexpr uint32_t ENHANCED_PACKET_BLOCK = 0x00000006u;
constexpr uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4Du;
constexpr uint16_t OPTION_END = 0;
constexpr uint16_t OPTION_IF_NAME = 2;
constexpr uint32_t SOCKETCAN_EFF_FLAG = 0x80000000u;
constexpr uint32_t SOCKETCAN_RTR_FLAG = 0x40000000u;
constexpr uint32_t SOCKETCAN_RECORD_BYTES = 16;

// The blocks are in the writer's byte order, which the section header's
// magic tells readers; we write little-endian everywhere.
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

// A block: type, total length, body (a multiple of four bytes), total length.
void put_block(std::string& out, uint32_t type, const std::string& body)
{
    const uint32_t total = uint32_t(12 + body.size());
    put_le32(out, type);
    put_le32(out, total);
    out += body;
    put_le32(out, total);
}

}  // namespace

std::string pcap_file_header()
{
    std::string out, body;
    put_le32(body, BYTE_ORDER_MAGIC);
    put_le16(body, 1);  // version 1.0
    put_le16(body, 0);
    put_le32(body, 0xFFFFFFFFu);  // section length: not given
    put_le32(body, 0xFFFFFFFFu);
    put_block(out, SECTION_HEADER_BLOCK, body);
    // Interface n is CAN port n; microseconds are the default resolution.
    for (int port = 0; port < CAN_PORT_COUNT; ++port) {
        body.clear();
        put_le16(body, uint16_t(PCAP_LINKTYPE_CAN_SOCKETCAN));
        put_le16(body, 0);
        put_le32(body, SOCKETCAN_RECORD_BYTES);  // snapshot length: a whole record
        const std::string name = "can" + std::to_string(port);
        put_le16(body, OPTION_IF_NAME);
        put_le16(body, uint16_t(name.size()));
        body += name;
        body.append((4 - name.size() % 4) % 4, '\0');
        put_le16(body, OPTION_END);
        put_le16(body, 0);
        put_block(out, INTERFACE_BLOCK, body);
    }
    return out;
}

void pcap_append_record(std::string& out, uint64_t us, uint8_t port, const can_frame& frame)
{
    const uint32_t total = 12 + 20 + SOCKETCAN_RECORD_BYTES;
    put_le32(out, ENHANCED_PACKET_BLOCK);
    put_le32(out, total);
    put_le32(out, port < CAN_PORT_COUNT ? port : 0u);  // the interface
    put_le32(out, uint32_t(us >> 32));
    put_le32(out, uint32_t(us & 0xFFFFFFFFu));
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
    put_le32(out, total);
}

}  // namespace norvane
