// norvane-trace: makes and inspects the CAN traces the unit plays back.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/trace/trace_file.h"

namespace {

const char* const HELP = R"(usage: norvane-trace COMMAND ...

Makes and inspects the CAN traces a port mapped to "trace:FILE" plays back.

commands:
  print FILE                     list the frames of a CTB trace or candump log
  to-ctb LOG OUT.ctb             convert a candump log to a CTB trace
  to-candump TRACE OUT.log [--iface NAME] [--start SECONDS]
                                 convert a CTB trace (or a candump log) to a
                                 candump log; NAME defaults to can0, SECONDS
                                 (the time of the first frame) to 0
  --help                         show this text

candump log: lines "(SECONDS.MICROSECONDS) IFACE ID#DATA" as candump -L and
python-can write them; ID has 3 hex digits (standard) or 8 (extended). Times
count from the first frame. Remote frames have no place in a CTB trace and
are left out (the tool says how many).

CTB trace, version 2 (little-endian): header "CTB", a zero byte, u32 version
2; then 24-byte records: u64 time in microseconds after the start of
playback, u32 identifier, flags byte, 2 unused bytes, length, 8 data bytes.
Flags: bit 0 (0x01) = extended (29-bit) identifier; bit 1 (0x02) = skip, the
record is not played back. At most 8 data bytes are played whatever the
length says. Playback starts over at the end of the file.
)";

int usage(const char* problem)
{
    std::fprintf(stderr, "norvane-trace: %s\nTry 'norvane-trace --help'.\n", problem);
    return 2;
}

bool read_or_report(const std::string& path, norvane::trace::trace_contents& trace)
{
    std::string why;
    if (!norvane::trace::read_trace(path, trace, why)) {
        std::fprintf(stderr, "norvane-trace: %s\n", why.c_str());
        return false;
    }
    if (trace.remote_frames_left_out)
        std::fprintf(stderr, "norvane-trace: %s: %u remote frame(s) left out\n", path.c_str(),
                     trace.remote_frames_left_out);
    if (trace.fd_lines_left_out)
        std::fprintf(stderr, "norvane-trace: %s: %u CAN FD line(s) left out (the bus is classic CAN)\n",
                     path.c_str(), trace.fd_lines_left_out);
    if (trace.trailing_bytes)
        std::fprintf(stderr, "norvane-trace: %s: %u byte(s) after the last whole record ignored\n", path.c_str(),
                     trace.trailing_bytes);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(HELP, stdout);
        return 0;
    }
    norvane::trace::trace_contents trace;
    std::string why;
    if (command == "print") {
        if (argc != 3)
            return usage("print takes one file");
        if (!read_or_report(argv[2], trace))
            return 1;
        norvane::trace::print_trace(trace, std::cout);
        return 0;
    }
    if (command == "to-ctb") {
        if (argc != 4)
            return usage("to-ctb takes a candump log and an output file");
        if (!read_or_report(argv[2], trace))
            return 1;
        if (!trace.candump)
            return usage("to-ctb reads a candump log; this is already a CTB trace");
        if (!norvane::trace::write_ctb(argv[3], trace.records, why)) {
            std::fprintf(stderr, "norvane-trace: %s\n", why.c_str());
            return 1;
        }
        return 0;
    }
    if (command == "to-candump") {
        if (argc < 4)
            return usage("to-candump takes a trace and an output file");
        std::string iface = "can0";
        uint64_t start_us = 0;
        for (int i = 4; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--iface" && i + 1 < argc && argv[i + 1][0]) {
                iface = argv[++i];
            } else if (option == "--start" && i + 1 < argc) {
                char* end = nullptr;
                const double seconds = std::strtod(argv[++i], &end);
                // "!(x >= 0)" also refuses nan.
                if (end == argv[i] || *end || !(seconds >= 0) || !(seconds <= 1e11))
                    return usage("--start takes a number of seconds, 0 or more");
                start_us = uint64_t(seconds * 1e6 + 0.5);
            } else {
                return usage(("unknown option '" + option + "'").c_str());
            }
        }
        if (!read_or_report(argv[2], trace))
            return 1;
        uint32_t skipped = 0;
        if (!norvane::trace::write_candump(argv[3], trace.records, iface, start_us, skipped, why)) {
            std::fprintf(stderr, "norvane-trace: %s\n", why.c_str());
            return 1;
        }
        if (skipped)
            std::fprintf(stderr, "norvane-trace: %u record(s) marked skip left out\n", skipped);
        return 0;
    }
    return usage(("unknown command '" + command + "'").c_str());
}
