// The candump parser: any text is a frame or a refusal with a reason, and a
// frame the formatter writes reads back the same.
#include <string>
#include <string_view>

#include "seam/can_candump.h"
#include "fuzz/fuzz_support.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    can_frame frame{};
    std::string iface;
    std::string why;
    if (can_parse_candump_line(text, frame, iface, why)) {
        check(frame.len <= 8, "length above 8");
        check(frame.id <= (frame.ext ? 0x1FFFFFFFu : 0x7FFu), "identifier out of range");
        const std::string line = can_format_candump_line(frame.time_us, iface, frame);
        can_frame again{};
        std::string iface_again;
        check(can_parse_candump_line(line, again, iface_again, why), "a formatted line does not read back");
        check(again.id == frame.id && again.ext == frame.ext && again.rtr == frame.rtr &&
                  again.time_us == frame.time_us && iface_again == iface,
              "a formatted line reads back different");
        if (!frame.rtr)
            check(again.len == frame.len && std::string_view((const char*)again.data, again.len) ==
                                                std::string_view((const char*)frame.data, frame.len),
                  "data changed on the way back");
    } else {
        check(!why.empty(), "refused without a reason");
    }
    why.clear();
    if (!can_parse_candump(text, frame, why))
        check(!why.empty(), "frame refused without a reason");
    can_candump_is_fd(text);
    return 0;
}
