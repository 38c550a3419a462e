#include "host/core/bus_decode.h"

BusFrameName bus_decode_frame(const can_frame& frame)
{
    BusFrameName name;
    if (!frame.ext)
        return name;
    const uint32_t id = frame.id & 0x1FFFFFFFu;
    // MSG_INPUT_CHANNEL: 0x18FF0000 + (channel - 1) * 256 + 0x80..0x83.
    const uint32_t channel_index = (id >> 8) & 0xFFu;
    const uint32_t source = id & 0xFFu;
    if ((id & 0x1FFF0000u) == 0x18FF0000u && source >= 0x80u && source <= 0x83u && channel_index <= 9u) {
        name.module = "SENB" + std::to_string(source - 0x80u + 1u);
        name.message = "MSG_INPUT_CHANNEL";
        name.channel = static_cast<int>(channel_index) + 1;
        return name;
    }
    // MSG_OUTPUT_STATUS / MSG_OUTPUT_CODES: 0x18FFA0B0 + p / 0x18FFA1B0 + p.
    if ((id & 0x1FFFFFF8u) == 0x18FFA0B0u || (id & 0x1FFFFFF8u) == 0x18FFA1B0u) {
        name.module = "PWRB" + std::to_string((id & 7u) + 1u);
        name.message = (id & 0x100u) ? "MSG_OUTPUT_CODES" : "MSG_OUTPUT_STATUS";
        return name;
    }
    // MSG_OUTPUT_COMMAND: 0x18EFB000 + p * 256, from the display (address 0).
    if ((id & 0x1FFFF8FFu) == 0x18EFB000u) {
        name.module = "PWRB" + std::to_string(((id >> 8) & 7u) + 1u);
        name.message = "MSG_OUTPUT_COMMAND";
    }
    return name;
}

uint32_t bus_frame_bits(const can_frame& frame)
{
    // Start of frame, arbitration, control, CRC, delimiters, ACK, end of
    // frame and three bits of interframe space.
    const uint32_t overhead = frame.ext ? 67u : 47u;
    const uint32_t data = frame.rtr ? 0u : 8u * (frame.len > 8 ? 8u : frame.len);
    return overhead + data;
}
