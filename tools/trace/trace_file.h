// Reading, writing and printing CAN traces for the trace tool: CTB version 2
// files and candump log text as can-utils and python-can write it.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "can/can_trace_format.h"

namespace norvane::trace {

struct trace_contents {
    bool candump = false;               // the file was candump text
    std::vector<can_trace_record> records;
    uint32_t remote_frames_left_out = 0;  // candump remote frames: CTB has no place for them
    uint32_t fd_lines_left_out = 0;       // candump CAN FD lines: the bus is classic CAN
    uint32_t trailing_bytes = 0;          // CTB: bytes after the last whole record
};

// Reads a trace of either kind, told apart by its first bytes. candump times
// count from the first frame. Fails with "FILE:LINE: reason" (or "FILE:
// reason") for anything it cannot read; a blank line is allowed.
bool read_trace(const std::string& path, trace_contents& out, std::string& why);

bool write_ctb(const std::string& path, const std::vector<can_trace_record>& records, std::string& why);

// Writes each record that is not marked "skip" as a candump log line at
// start_us + its time on interface `iface`. Returns the number of skipped
// records left out in `skipped`.
bool write_candump(const std::string& path, const std::vector<can_trace_record>& records,
                   const std::string& iface, uint64_t start_us, uint32_t& skipped, std::string& why);

// One line per record: time in seconds, identifier, kind, length, data bytes
// and "skip" for records playback passes over.
void print_trace(const trace_contents& trace, std::ostream& out);

}  // namespace norvane::trace
