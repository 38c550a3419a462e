// The CTB trace file, version 2: an 8-byte header ("CTB", a zero byte, u32
// version 2) and 24-byte records to the end of the file, all little-endian.
// Record: u64 time in microseconds after the start of playback, u32
// identifier, a flags byte (bit 0: extended identifier, bit 1: skip this
// record), two unused bytes, the data length and eight data bytes.
#pragma once
#include <cstdint>
#include <cstring>

#include "can/can_port.h"

constexpr uint32_t CAN_TRACE_VERSION = 2;
constexpr uint32_t CAN_TRACE_HEADER_SIZE = 8;
constexpr uint32_t CAN_TRACE_RECORD_SIZE = 24;
constexpr uint8_t CAN_TRACE_FLAG_EXT = 0x01;
constexpr uint8_t CAN_TRACE_FLAG_SKIP = 0x02;

struct can_trace_record {
    uint64_t time_us;
    uint32_t id;
    uint8_t flags;
    uint8_t len;  // as stored; a frame takes at most 8 of the bytes
    uint8_t data[8];
};

inline void can_trace_header(uint8_t out[CAN_TRACE_HEADER_SIZE])
{
    const uint8_t header[CAN_TRACE_HEADER_SIZE] = {'C', 'T', 'B', 0, CAN_TRACE_VERSION, 0, 0, 0};
    std::memcpy(out, header, CAN_TRACE_HEADER_SIZE);
}

inline bool can_trace_header_valid(const uint8_t in[CAN_TRACE_HEADER_SIZE])
{
    uint8_t expected[CAN_TRACE_HEADER_SIZE];
    can_trace_header(expected);
    return std::memcmp(in, expected, CAN_TRACE_HEADER_SIZE) == 0;
}

inline can_trace_record can_trace_decode(const uint8_t in[CAN_TRACE_RECORD_SIZE])
{
    can_trace_record r{};
    for (int i = 7; i >= 0; --i)
        r.time_us = r.time_us << 8 | in[i];
    r.id = uint32_t(in[8]) | uint32_t(in[9]) << 8 | uint32_t(in[10]) << 16 | uint32_t(in[11]) << 24;
    r.flags = in[12];
    r.len = in[15];
    std::memcpy(r.data, in + 16, 8);
    return r;
}

inline void can_trace_encode(const can_trace_record& r, uint8_t out[CAN_TRACE_RECORD_SIZE])
{
    std::memset(out, 0, CAN_TRACE_RECORD_SIZE);
    for (int i = 0; i < 8; ++i)
        out[i] = uint8_t(r.time_us >> (8 * i));
    for (int i = 0; i < 4; ++i)
        out[8 + i] = uint8_t(r.id >> (8 * i));
    out[12] = r.flags;
    out[15] = r.len;
    std::memcpy(out + 16, r.data, 8);
}

// The frame a record plays back as. Bit 0 of the flags marks an extended
// identifier; at most eight data bytes are taken whatever the length says.
inline can_frame can_trace_frame(const can_trace_record& r)
{
    can_frame f{};
    f.ext = (r.flags & CAN_TRACE_FLAG_EXT) ? 1 : 0;
    f.id = f.ext ? r.id & 0x1FFFFFFF : r.id & 0x7FF;
    f.len = r.len > 8 ? 8 : r.len;
    std::memcpy(f.data, r.data, 8);
    f.time_us = r.time_us;
    return f;
}

// The record for a frame played back at `time_us`.
inline can_trace_record can_trace_from_frame(const can_frame& f, uint64_t time_us)
{
    can_trace_record r{};
    r.time_us = time_us;
    r.id = f.id;
    r.flags = f.ext ? CAN_TRACE_FLAG_EXT : 0;
    r.len = f.len > 8 ? 8 : f.len;
    std::memcpy(r.data, f.data, r.len);
    return r;
}
