// Kvaser back end: one CANlib channel per port. The library is loaded on the
// first open or bit-rate change and stays loaded once it loads completely.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "can/can_backend.h"
#include "can/can_canlib_api.h"
#include "os/os_library.h"
#include "platform/hal.h"

namespace {

struct canlib_functions {
#define CAN_DECLARE(name) decltype(&::name) name;
    CAN_CANLIB_FUNCTIONS(CAN_DECLARE)
#undef CAN_DECLARE
};

#define CAN_NAME(name) #name,
const char* const canlib_symbols[] = {CAN_CANLIB_FUNCTIONS(CAN_NAME)};
#undef CAN_NAME
constexpr size_t CANLIB_SYMBOL_COUNT = sizeof canlib_symbols / sizeof canlib_symbols[0];

#ifdef _WIN32
#define CANLIB_FILE "canlib32.dll"
const char* const canlib_names[] = {CANLIB_FILE};
#else
#define CANLIB_FILE "libcanlib.so.1"
const char* const canlib_names[] = {CANLIB_FILE, "libcanlib.so"};
#endif

struct kvaser_port {
    bool open = false;
    canHandle handle = -1;
    uint32_t bit_rate = 250000;
};

void* canlib = nullptr;
canlib_functions api;
kvaser_port kvaser[CAN_PORT_COUNT];

bool canlib_load()
{
    if (canlib)
        return true;
    void* found[CANLIB_SYMBOL_COUNT];
    void* handle = os_library_load(canlib_names, sizeof canlib_names / sizeof canlib_names[0],
                                    canlib_symbols, found, CANLIB_SYMBOL_COUNT);
    if (!handle)
        return false;
    size_t i = 0;
#define CAN_TAKE(name) api.name = os_library_function<decltype(api.name)>(found[i++]);
    CAN_CANLIB_FUNCTIONS(CAN_TAKE)
#undef CAN_TAKE
    canlib = handle;
    api.canInitializeLibrary();
    int channels = 0;
    api.canGetNumberOfChannels(&channels);
    for (kvaser_port& k : kvaser)
        k.bit_rate = 250000;
    return true;
}

// The channel is the device string as a decimal number, else the port
// number; -1 when the string is not a number.
int channel_of(uint8_t port)
{
    const char* device = can_port_device(port);
    if (!device)
        return port;
    char* end = nullptr;
    const long channel = std::strtol(device, &end, 10);
    if (end == device || *end != 0 || channel < 0 || channel > 0x7FFFFFFF)
        return -1;
    return int(channel);
}

// The Linux library sets the bit rate through its predefined bus parameters;
// any other rate gets an explicit 8-quantum timing sampled at 75 %.
canStatus set_bus_rate(canHandle handle, uint32_t bit_rate)
{
    switch (bit_rate) {
    case 1000000:
        return api.canSetBusParams(handle, canBITRATE_1M, 0, 0, 0, 0, 0);
    case 500000:
        return api.canSetBusParams(handle, canBITRATE_500K, 0, 0, 0, 0, 0);
    case 250000:
        return api.canSetBusParams(handle, canBITRATE_250K, 0, 0, 0, 0, 0);
    case 125000:
        return api.canSetBusParams(handle, canBITRATE_125K, 0, 0, 0, 0, 0);
    default:
        return api.canSetBusParams(handle, long(bit_rate), 5, 2, 1, 1, 0);
    }
}

int kvaser_fail(uint8_t port)
{
    can_port_fail_reason(port, "no usable Kvaser channel for this port");
    hal_debug_printf("KVASER: Failed to map CAN port %d to Kvaser\n", port + 1);
    return -1;
}

int kvaser_open(uint8_t port)
{
    if (!canlib_load()) {
        // On Windows with the loader's own words after the file's name.
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason,
                      "the Kvaser CANlib library (" CANLIB_FILE ") is not installed or lacks a function%s%s", *os_library_error() ? ": " : "", os_library_error());
        can_port_fail_reason(port, reason);
        return -1;
    }
    kvaser_port& k = kvaser[port];
    if (k.open)
        return 0;
    const int channel = channel_of(port);
    if (channel < 0)
        return kvaser_fail(port);
    char name[256];
    uint64_t serial = 0;
    uint64_t firmware = 0;
    if (api.canGetChannelData(channel, canCHANNELDATA_CHANNEL_NAME, name, sizeof name) != 0 ||
        api.canGetChannelData(channel, canCHANNELDATA_CARD_SERIAL_NO, &serial, sizeof serial) != 0 ||
        api.canGetChannelData(channel, canCHANNELDATA_CARD_FIRMWARE_REV, &firmware, sizeof firmware) != 0)
        return kvaser_fail(port);
    const canHandle handle = api.canOpenChannel(channel, canOPEN_REQUIRE_EXTENDED | canOPEN_ACCEPT_VIRTUAL);
    if (handle < 0)
        return kvaser_fail(port);
    if (set_bus_rate(handle, k.bit_rate) != 0 || api.canSetBusOutputControl(handle, canDRIVER_NORMAL) != 0 ||
        api.canBusOn(handle) != 0) {
        api.canClose(handle);
        return kvaser_fail(port);
    }
    k.handle = handle;
    k.open = true;
    hal_debug_printf("KVASER: Mapped CAN port %d to Kvaser (Ch:%d, Ser:(%d)%d, Fw:%d.%d.%d.%d)\n", port + 1, channel,
                  int32_t(uint32_t(serial >> 32)), int32_t(uint32_t(serial)), int((firmware >> 32) & 0xFFFF),
                  int((firmware >> 48) & 0xFFFF), int(firmware & 0xFFFF), int((firmware >> 16) & 0xFFFF));
    return 0;
}

// Stores the rate. An open port is closed and opened again at the new rate;
// a port that is not open only keeps the rate for its open and reports -1.
int kvaser_set_bitrate(uint8_t port, uint32_t bit_rate)
{
    if (!canlib_load())
        return -1;
    kvaser_port& k = kvaser[port];
    k.bit_rate = bit_rate;
    if (!k.open)
        return -1;
    api.canClose(k.handle);
    k.open = false;
    k.handle = -1;
    return kvaser_open(port);
}

int kvaser_send(uint8_t port, const can_frame* frame)
{
    const kvaser_port& k = kvaser[port];
    if (!canlib || !k.open)
        return -1;
    uint8_t data[8];
    std::memcpy(data, frame->data, sizeof data);
    const unsigned int len = frame->len > 8 ? 8 : frame->len;
    return api.canWrite(k.handle, long(frame->id), data, len, frame->ext ? canMSG_EXT : 0) == 0 ? 0 : -1;
}

int kvaser_receive(uint8_t port, can_frame* frame)
{
    const kvaser_port& k = kvaser[port];
    if (!canlib || !k.open)
        return -1;
    long id = 0;
    uint8_t data[64] = {};  // room for a CAN FD channel's longest frame
    unsigned int dlc = 0;
    unsigned int flags = 0;
    unsigned long time = 0;
    if (api.canRead(k.handle, &id, data, &dlc, &flags, &time) != 0)
        return -1;
    *frame = can_frame{};
    frame->id = uint32_t(id);
    frame->ext = (flags & canMSG_EXT) ? 1 : 0;
    frame->len = uint8_t(dlc > 8 ? 8 : dlc);
    std::memcpy(frame->data, data, 8);
    frame->time_us = uint64_t(time) * 1000u;
    return 0;
}

// A channel number: decimal digits, at most nine of them.
const char* check_channel(std::string_view arg)
{
    if (arg.empty() || arg.size() > 9)
        return "the Kvaser channel must be a decimal number";
    for (char c : arg)
        if (c < '0' || c > '9')
            return "the Kvaser channel must be a decimal number";
    return nullptr;
}

void kvaser_reset()
{
    for (kvaser_port& k : kvaser) {
        if (k.open)
            api.canClose(k.handle);
        k = kvaser_port{};
    }
    if (canlib)
        os_library_unload(canlib);
    canlib = nullptr;
    api = {};
}

}  // namespace

extern const can_backend can_backend_kvaser = {
    .name = "kvaser",
    .form = "kvaser[:CHANNEL]",
    .help = "a CANlib channel (default: the port number); the unit's own",
    .arg = CAN_ARG_OPTIONAL,
    .check_arg = check_channel,
    .open = kvaser_open,
    .set_bitrate = kvaser_set_bitrate,
    .send = kvaser_send,
    .receive = kvaser_receive,
    .reset = kvaser_reset,
};
