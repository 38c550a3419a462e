// pcap capture files of the bus, in the SocketCAN link type
// (LINKTYPE_CAN_SOCKETCAN, 227), so Wireshark and tshark read our CAN logs:
// microsecond timestamps, one 16-byte record per frame (identifier in
// network byte order with the extended and remote flags, length, three
// reserved bytes, eight data bytes). No Qt.
#pragma once
#include <cstdint>
#include <string>

#include "seam/can.h"

namespace norvane {

constexpr uint32_t PCAP_LINKTYPE_CAN_SOCKETCAN = 227;

// The 24-byte file header that starts every capture.
std::string pcap_file_header();
// Appends one record of `frame` at `us` microseconds to `out`.
void pcap_append_record(std::string& out, uint64_t us, const can_frame& frame);

}  // namespace norvane
