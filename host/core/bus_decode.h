// Names for the frames on the unit's bus: which module a frame comes from or
// goes to and which of the four messages it is, read from the 29-bit
// identifier alone, and how many bits the frame takes on the wire.
#pragma once
#include <cstdint>
#include <string>

#include "seam/can.h"

struct BusFrameName {
    std::string module;   // "SENB2", "PWRB5"; empty when no module owns the identifier
    std::string message;  // "MSG_INPUT_CHANNEL", ...; empty for other frames
    int channel = 0;      // 1..10 for MSG_INPUT_CHANNEL, else 0
};

BusFrameName bus_decode_frame(const can_frame& frame);

// Bits on the wire without stuffing, the interframe space included: an
// extended frame with 8 data bytes takes 131 bits, so a 250 kbit/s bus
// carries at most 1908 of them a second.
uint32_t bus_frame_bits(const can_frame& frame);

constexpr uint32_t BUS_BITRATE = 250000;
