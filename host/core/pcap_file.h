// Capture files of the bus for Wireshark and tshark: pcapng with one
// interface per CAN port of the unit, named as candump names them ("can0",
// "can1"), each in the SocketCAN link type (LINKTYPE_CAN_SOCKETCAN, 227), so
// a frame keeps the port it was on. Microsecond timestamps; one 16-byte
// SocketCAN record per frame (identifier in network byte order with the
// extended and remote flags, length, three reserved bytes, eight data
// bytes). No Qt.
#pragma once
#include <cstdint>
#include <string>

#include "seam/can.h"

namespace norvane {

constexpr uint32_t PCAP_LINKTYPE_CAN_SOCKETCAN = 227;

// What starts every capture: the section header and the ports' interfaces.
std::string pcap_file_header();
// Appends the record of `frame` on CAN port `port` at `us` microseconds to
// `out`.
void pcap_append_record(std::string& out, uint64_t us, uint8_t port, const can_frame& frame);

}  // namespace norvane
