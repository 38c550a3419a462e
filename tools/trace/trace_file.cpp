#include "tools/trace/trace_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "seam/can_candump.h"

namespace norvane::trace {
namespace {

bool read_candump(const std::string& path, std::istream& in, trace_contents& out, std::string& why)
{
    std::string line;
    bool have_first = false;
    uint64_t first_us = 0;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        can_frame frame{};
        std::string iface;
        std::string reason;
        if (!can_parse_candump_line(line, frame, iface, reason)) {
            // Playback leaves CAN FD lines out as well; both count them.
            if (can_candump_is_fd(line)) {
                ++out.fd_lines_left_out;
                continue;
            }
            why = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
        if (!have_first) {
            have_first = true;
            first_us = frame.time_us;
        }
        if (frame.rtr) {
            ++out.remote_frames_left_out;
            continue;
        }
        const uint64_t time = frame.time_us > first_us ? frame.time_us - first_us : 0;
        out.records.push_back(can_trace_from_frame(frame, time));
    }
    return true;
}

bool read_ctb(const std::string& path, std::istream& in, trace_contents& out, std::string& why)
{
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || !can_trace_header_valid(header)) {
        why = path + ": not a CTB version 2 trace (expected \"CTB\", a zero byte and version 2)";
        return false;
    }
    uint8_t raw[CAN_TRACE_RECORD_SIZE];
    while (in.read(reinterpret_cast<char*>(raw), sizeof raw))
        out.records.push_back(can_trace_decode(raw));
    out.trailing_bytes = uint32_t(in.gcount());
    return true;
}

}  // namespace

bool read_trace(const std::string& path, trace_contents& out, std::string& why)
{
    out = trace_contents{};
    // A FIFO or a device would block the read or never end.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && status.type() != std::filesystem::file_type::regular) {
        why = path + ": not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = path + ": cannot open";
        return false;
    }
    const int first = in.peek();
    if (first == '(' || first == std::char_traits<char>::eof() || first == '\n' || first == ' ') {
        out.candump = true;
        return read_candump(path, in, out, why);
    }
    if (first == 'C')
        return read_ctb(path, in, out, why);
    why = path + ": neither a CTB trace (\"CTB\") nor a candump log (\"(seconds.micros) iface ID#DATA\")";
    return false;
}

bool write_ctb(const std::string& path, const std::vector<can_trace_record>& records, std::string& why)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    can_trace_header(header);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const can_trace_record& r : records) {
        uint8_t raw[CAN_TRACE_RECORD_SIZE];
        can_trace_encode(r, raw);
        out.write(reinterpret_cast<const char*>(raw), sizeof raw);
    }
    out.close();
    if (!out) {
        why = path + ": cannot write";
        return false;
    }
    return true;
}

bool write_candump(const std::string& path, const std::vector<can_trace_record>& records,
                   const std::string& iface, uint64_t start_us, uint32_t& skipped, std::string& why)
{
    // Binary: a candump log has LF line ends on every system.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    skipped = 0;
    for (const can_trace_record& r : records) {
        if (r.flags & CAN_TRACE_FLAG_SKIP) {
            ++skipped;
            continue;
        }
        out << can_format_candump_line(start_us + r.time_us, iface, can_trace_frame(r)) << '\n';
    }
    out.close();
    if (!out) {
        why = path + ": cannot write";
        return false;
    }
    return true;
}

void print_trace(const trace_contents& trace, std::ostream& out)
{
    char text[128];
    for (const can_trace_record& r : trace.records) {
        const can_frame f = can_trace_frame(r);
        char id[16];
        std::snprintf(id, sizeof id, f.ext ? "%08X" : "%03X", unsigned(f.id));
        std::snprintf(text, sizeof text, "%6llu.%06llu  %8s  %s  [%u]",
                      static_cast<unsigned long long>(r.time_us / 1000000u),
                      static_cast<unsigned long long>(r.time_us % 1000000u), id, f.ext ? "ext" : "std",
                      unsigned(r.len));
        std::string line = text;
        for (uint8_t i = 0; i < f.len; ++i) {
            std::snprintf(text, sizeof text, " %02X", f.data[i]);
            line += text;
        }
        if (r.flags & CAN_TRACE_FLAG_SKIP)
            line += "  skip";
        out << line << '\n';
    }
}

}  // namespace norvane::trace
