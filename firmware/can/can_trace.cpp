// Trace playback: a recorded file played back as if it were the bus. Each
// frame is delivered once the time since the playback start reaches its
// time; after the last frame playback starts again from the first with a new
// start time. Two file kinds, told apart by their first bytes: CTB version 2
// ("CTB\0") and candump log text ("(seconds.micros) iface ID#DATA"), whose
// times count from its first frame.
//
// The file is read once, when the port opens, into the list of the frames it
// plays; records marked "skip", CAN FD lines and lines that hold no frame are
// counted and left out there. Playback then walks that list, so it costs in
// proportion to the frames it delivers, however much the file skips. A file
// that is not a regular file, or holds nothing to play, does not open; the
// port's failure reason says why.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "can/can_backend.h"
#include "seam/can_candump.h"
#include "can/can_trace_format.h"
#include "os/os_file.h"
#include "platform/hal.h"

namespace {

// More frames than this (about 200 MB in memory) are refused.
constexpr size_t TRACE_MAX_FRAMES = size_t(8) << 20;
// A candump log line longer than this holds no frame the unit can take.
constexpr size_t TRACE_LINE_MAX = 255;

struct trace_port {
    char path[CAN_DEVICE_MAX] = {};
    bool open = false;
    std::vector<can_frame> frames;  // what one pass plays, in file order
    size_t next = 0;                // the next frame to deliver
    uint64_t start_us = 0;
};

trace_port traces[CAN_PORT_COUNT];

// What a file holds, as counted while it is read.
struct trace_load {
    std::vector<can_frame> frames;
    uint32_t skipped_records = 0;  // CTB records marked "skip", a cut last record
    uint32_t fd_lines = 0;         // candump CAN FD lines
    uint32_t other_lines = 0;      // candump lines that hold no frame (not blank)
};

// Opens a regular file for reading without waiting on a FIFO or a device.
// `why` says what is wrong after the file's name; an error of the open itself
// comes as the system's text with `cannot_open` set.
os_file* open_regular(const char* path, const char*& why, bool& cannot_open)
{
    bool not_regular = false;
    const char* error = nullptr;
    os_file* file = os_file_open_read(path, not_regular, error);
    if (!file && not_regular) {
        why = "is not a regular file";
    } else if (!file) {
        why = error;
        cannot_open = true;
    }
    return file;
}

bool keep(trace_load& load, const can_frame& frame, const char*& why)
{
    if (load.frames.size() >= TRACE_MAX_FRAMES) {
        why = "holds more than 8388608 frames to play";
        return false;
    }
    load.frames.push_back(frame);
    return true;
}

bool read_ctb(os_file* file, trace_load& load, const char*& why)
{
    uint8_t raw[CAN_TRACE_RECORD_SIZE];
    size_t got;
    while ((got = os_file_read(file, raw, sizeof raw)) == sizeof raw) {
        const can_trace_record record = can_trace_decode(raw);
        if (record.flags & CAN_TRACE_FLAG_SKIP) {
            ++load.skipped_records;
            continue;
        }
        if (!keep(load, can_trace_frame(record), why))
            return false;
    }
    if (got)
        ++load.skipped_records;
    return true;
}

// Reads one line of at most TRACE_LINE_MAX characters into `line`. Returns
// its length, or TRACE_LINE_MAX + 1 for a longer line (the rest is passed
// over), or -1 at the end of the file.
long read_line(os_file* file, char (&line)[TRACE_LINE_MAX + 1])
{
    size_t n = 0;
    bool too_long = false;
    int c;
    while ((c = os_file_getc(file)) >= 0 && c != '\n') {
        if (n < TRACE_LINE_MAX)
            line[n++] = char(c);
        else
            too_long = true;
    }
    if (c < 0 && n == 0 && !too_long)
        return -1;
    return too_long ? long(TRACE_LINE_MAX + 1) : long(n);
}

bool read_candump(os_file* file, trace_load& load, const char*& why)
{
    char line[TRACE_LINE_MAX + 1];
    bool first_known = false;
    uint64_t first_us = 0;
    long n;
    std::string iface;
    std::string reason;
    while ((n = read_line(file, line)) >= 0) {
        const std::string_view text(line, size_t(n) > TRACE_LINE_MAX ? TRACE_LINE_MAX : size_t(n));
        if (text.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        can_frame frame{};
        if (size_t(n) > TRACE_LINE_MAX || !can_parse_candump_line(text, frame, iface, reason)) {
            if (can_candump_is_fd(text))
                ++load.fd_lines;
            else
                ++load.other_lines;
            continue;
        }
        if (frame.rtr)
            frame.len = 0;
        if (!first_known) {
            first_known = true;
            first_us = frame.time_us;
        }
        frame.time_us = frame.time_us > first_us ? frame.time_us - first_us : 0;
        if (!keep(load, frame, why))
            return false;
    }
    return true;
}

// Reads the whole trace. False with the reason when it cannot be played.
bool load_trace(const char* path, trace_load& load, const char*& why, bool& cannot_open)
{
    os_file* file = open_regular(path, why, cannot_open);
    if (!file)
        return false;
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    const size_t got = os_file_read(file, header, sizeof header);
    bool ok;
    if (got == sizeof header && can_trace_header_valid(header)) {
        ok = read_ctb(file, load, why);
    } else if (got > 0 && header[0] == '(') {
        os_file_rewind(file);
        ok = read_candump(file, load, why);
    } else {
        why = "is neither a CAN trace nor a candump log";
        ok = false;
    }
    if (ok && os_file_failed(file)) {
        why = "could not be read to its end";
        ok = false;
    }
    os_file_close(file);
    if (ok && load.frames.empty()) {
        why = "holds no frame to play";
        ok = false;
    }
    return ok;
}

int trace_open(uint8_t port, const char* name)
{
    trace_port& t = traces[port];
    if (!name)
        return -1;
    if (name != t.path)
        std::snprintf(t.path, sizeof t.path, "%s", name);
    t.open = false;
    trace_load load;
    const char* why = "";
    bool cannot_open = false;
    if (!load_trace(t.path, load, why, cannot_open)) {
        t.frames = std::vector<can_frame>();
        // A long name is shown by its end, so the reason stays in the text.
        const size_t n = std::strlen(t.path);
        const char* shown = n > 80 ? t.path + n - 77 : t.path;
        const char* cut = n > 80 ? "..." : "";
        char reason[CAN_REASON_MAX];
        if (cannot_open)
            std::snprintf(reason, sizeof reason, "cannot open %s%.80s: %.60s", cut, shown, why);
        else
            std::snprintf(reason, sizeof reason, "%s%.80s %.60s", cut, shown, why);
        can_port_fail_reason(port, reason);
        return -1;
    }
    t.frames = std::move(load.frames);
    t.frames.shrink_to_fit();
    t.next = 0;
    t.open = true;
    t.start_us = hal_us_clock();
    hal_debug_printf("TRACE: Mapped CAN port %d to trace %s (%zu frames; left out: %u skipped records, "
                     "%u CAN FD lines, %u other lines)\n",
                     port + 1, t.path, t.frames.size(), load.skipped_records, load.fd_lines, load.other_lines);
    return 0;
}

int trace_receive(uint8_t port, can_frame* frame)
{
    trace_port& t = traces[port];
    if (!t.open)
        return -1;
    if (t.next == t.frames.size()) {
        // The end of the pass: start over from the first frame, now.
        t.next = 0;
        t.start_us = hal_us_clock();
    }
    const can_frame& record = t.frames[t.next];
    if (hal_us_clock() - t.start_us < record.time_us)
        return -1;
    *frame = record;
    ++t.next;
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
    for (trace_port& t : traces)
        t = trace_port{};  // the frames were read into memory; no file stays open
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
