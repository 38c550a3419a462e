// Trace playback: a recorded file played back as if it were the bus. Each
// record is delivered once the time since the playback start reaches the
// record's time; at the end of the file playback starts again from the first
// record with a new start time. Two file kinds, told apart by their first
// bytes: CTB version 2 ("CTB\0") and candump log text ("(seconds.micros)
// iface ID#DATA"), whose times count from its first frame.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "can/can_backend.h"
#include "seam/can_candump.h"
#include "can/can_trace_format.h"
#include "platform/hal.h"

namespace {

struct trace_port {
    std::FILE* file = nullptr;
    bool candump = false;
    char path[CAN_DEVICE_MAX] = {};
    uint64_t start_us = 0;
    // The look-ahead: one record read but not yet due.
    bool holding = false;
    can_frame record{};
    // Records delivered since the file was (re)opened; a pass without any
    // means there is nothing to play.
    uint32_t pass_records = 0;
    // candump text: the time of the first frame, which playback counts from.
    bool first_known = false;
    uint64_t first_us = 0;
};

trace_port traces[CAN_PORT_COUNT];

void trace_close(trace_port& t)
{
    if (t.file)
        std::fclose(t.file);
    t.file = nullptr;
    t.holding = false;
}

int trace_open(uint8_t port, const char* name)
{
    trace_port& t = traces[port];
    if (!name)
        return -1;
    if (name != t.path)
        std::snprintf(t.path, sizeof t.path, "%s", name);
    trace_close(t);
    t.file = std::fopen(t.path, "rb");
    if (!t.file) {
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason, "cannot open %s: %s", t.path, std::strerror(errno));
        can_port_fail_reason(port, reason);
        return -1;
    }
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    const size_t got = std::fread(header, 1, sizeof header, t.file);
    if (got == sizeof header && can_trace_header_valid(header)) {
        t.candump = false;
    } else if (got > 0 && header[0] == '(') {
        t.candump = true;
        std::rewind(t.file);
    } else {
        trace_close(t);
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason, "%s is neither a CAN trace nor a candump log", t.path);
        can_port_fail_reason(port, reason);
        return -1;
    }
    t.start_us = hal_us_clock();
    t.pass_records = 0;
    t.first_known = false;
    return 0;
}

// Reads the next line of a candump log into `frame`. Returns 1 with a frame,
// 0 for a line that holds none (blank, malformed or too long), -1 at the end.
int read_candump(trace_port& t, can_frame& frame)
{
    char line[256];
    if (!std::fgets(line, sizeof line, t.file))
        return -1;
    const size_t n = std::strlen(line);
    if (n == sizeof line - 1 && line[n - 1] != '\n') {
        int c;
        while ((c = std::fgetc(t.file)) != EOF && c != '\n') {
        }
        return 0;
    }
    std::string iface;
    std::string why;
    if (!can_parse_candump_line(std::string_view(line, n), frame, iface, why))
        return 0;
    if (frame.rtr)
        frame.len = 0;
    if (!t.first_known) {
        t.first_known = true;
        t.first_us = frame.time_us;
    }
    frame.time_us = frame.time_us > t.first_us ? frame.time_us - t.first_us : 0;
    return 1;
}

// Reads the next CTB record. Returns 1 with a frame, 0 for a skipped record,
// -1 at the end (a partial last record counts as the end).
int read_ctb(trace_port& t, can_frame& frame)
{
    uint8_t raw[CAN_TRACE_RECORD_SIZE];
    if (std::fread(raw, 1, sizeof raw, t.file) != sizeof raw)
        return -1;
    const can_trace_record record = can_trace_decode(raw);
    if (record.flags & CAN_TRACE_FLAG_SKIP)
        return 0;
    frame = can_trace_frame(record);
    return 1;
}

int trace_receive(uint8_t port, can_frame* frame)
{
    trace_port& t = traces[port];
    if (!t.file)
        return -1;
    while (!t.holding) {
        const int got = t.candump ? read_candump(t, t.record) : read_ctb(t, t.record);
        if (got > 0) {
            t.holding = true;
            ++t.pass_records;
        } else if (got < 0) {
            // A whole pass without a frame: there is nothing to play, so
            // report none rather than start over forever. Records appended
            // later are still found by the next call.
            if (t.pass_records == 0) {
                std::clearerr(t.file);
                return -1;
            }
            if (trace_open(port, t.path) != 0) {
                trace_close(t);
                return -1;
            }
        }
    }
    if (hal_us_clock() - t.start_us < t.record.time_us)
        return -1;
    *frame = t.record;
    t.holding = false;
    return 0;
}

int trace_port_open(uint8_t port)
{
    return trace_open(port, can_port_device(port));
}

int trace_set_bitrate(uint8_t, uint32_t)
{
    return 0;
}

int trace_send(uint8_t, const can_frame*)
{
    return 0;
}

const char* check_file(std::string_view arg)
{
    if (arg.empty())
        return "a trace needs a file name";
    return arg.size() >= CAN_DEVICE_MAX ? "the trace file name is too long" : nullptr;
}

void trace_reset()
{
    for (trace_port& t : traces) {
        trace_close(t);
        t = trace_port{};
    }
}

}  // namespace

extern const can_backend can_backend_trace = {
    .name = "trace",
    .form = "trace:FILE",
    .help = "a CTB trace or a candump log, played back as the bus in a loop",
    .arg = CAN_ARG_REQUIRED,
    .check_arg = check_file,
    .open = trace_port_open,
    .set_bitrate = trace_set_bitrate,
    .send = trace_send,
    .receive = trace_receive,
    .reset = trace_reset,
};
