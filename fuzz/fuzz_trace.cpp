// Trace files: the playback back end (open, then receive over a stretch of
// unit time) and the trace tool's reader and printer, over any file.
#include <sstream>
#include <string>

#include "can/can_port.h"
#include "fuzz/fuzz_support.h"
#include "host/core/virtual_clock.h"
#include "platform/hal.h"
#include "tools/trace/trace_file.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = norvane::fuzz::unit_folder() + "/input.trace";
    norvane::fuzz::write_bytes(path, data, size);

    norvane::use_virtual_clock();
    norvane::set_virtual_clock_ms(0);
    char why[256];
    check(hal_can_map_port(0, ("trace:" + path).c_str(), why, sizeof why) == 1, "trace mapping refused");
    can_init();
    if (can_port_open(0) == 0) {
        // Playback over a few stretches of unit time, each pass as the port
        // layer takes it: at most one ring of frames.
        for (uint64_t ms : {0u, 1u, 2u, 10u, 100u, 1000u, 60000u, 3600000u}) {
            norvane::set_virtual_clock_ms(ms);
            can_frame frame{};
            for (int k = 0; k < 239 && can_port_receive(0, &frame) == 0; ++k)
                check(frame.len <= 8, "a played frame longer than 8 bytes");
        }
    } else {
        can_frame frame{};
        check(can_port_receive(0, &frame) == -1, "a port that did not open delivers frames");
    }

    norvane::trace::trace_contents contents;
    std::string reason;
    if (norvane::trace::read_trace(path, contents, reason)) {
        std::ostringstream out;
        norvane::trace::print_trace(contents, out);
    } else {
        check(!reason.empty(), "trace refused without a reason");
    }
    return 0;
}
