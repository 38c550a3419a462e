// CANdo back end: one CANdo USB adapter per port. The adapter list is read
// once when the library loads; a port takes the adapter with its serial
// number, else the adapter at its own number (or the first one).
#include <cstdio>
#include <cstring>

#include "can/can_backend.h"
#include "can/can_cando_api.h"
#include "os/os_library.h"
#include "os/os_time.h"
#include "platform/hal.h"

namespace {

struct cando_functions {
#define CAN_DECLARE(name) decltype(&::name) name;
    CAN_CANDO_FUNCTIONS(CAN_DECLARE)
#undef CAN_DECLARE
};

#define CAN_NAME(name) #name,
const char* const cando_symbols[] = {CAN_CANDO_FUNCTIONS(CAN_NAME)};
#undef CAN_NAME
constexpr size_t CANDO_SYMBOL_COUNT = sizeof cando_symbols / sizeof cando_symbols[0];

#ifdef _WIN32
#define CANDO_FILE "CANdo.dll"
const char* const cando_names[] = {CANDO_FILE};
#else
#define CANDO_FILE "libCANdo.so"
const char* const cando_names[] = {CANDO_FILE};
#endif

struct cando_port {
    bool open = false;
    uint32_t bit_rate = 250000;
    TCANdoUSB usb{};
    TCANdoCANBuffer buffer{};
    TCANdoStatus status{};
    uint32_t last_transmit = 0;
    uint32_t last_refresh = 0;
};

void* cando = nullptr;
cando_functions api;
cando_port ports[CAN_PORT_COUNT];
TCANdoDevice devices[CANDO_MAX_DEVICES];
unsigned int device_count = 0;

void wait_ms(uint32_t ms)
{
    os_sleep_ms(ms);
}

bool cando_load()
{
    if (cando)
        return true;
    void* found[CANDO_SYMBOL_COUNT];
    void* handle = os_library_load(cando_names, sizeof cando_names / sizeof cando_names[0], cando_symbols, found,
                                    CANDO_SYMBOL_COUNT);
    if (!handle)
        return false;
    size_t i = 0;
#define CAN_TAKE(name) api.name = os_library_function<decltype(api.name)>(found[i++]);
    CAN_CANDO_FUNCTIONS(CAN_TAKE)
#undef CAN_TAKE
    cando = handle;
    device_count = CANDO_MAX_DEVICES;
    if (api.CANdoGetDevices(devices, &device_count) != CANDO_SUCCESS)
        device_count = 0;
    if (device_count > unsigned(CANDO_MAX_DEVICES))
        device_count = CANDO_MAX_DEVICES;
    for (TCANdoDevice& d : devices)
        d.SerialNumber[CANDO_STRING_LENGTH - 1] = 0;
    for (cando_port& p : ports)
        p.bit_rate = 250000;
    return true;
}

// The adapter for the port: the one with the device string as its serial
// number, else the port's own number in the list, else the first adapter.
int choose_adapter(uint8_t port)
{
    const char* serial = can_port_device(port);
    if (serial) {
        for (unsigned i = 0; i < device_count; ++i)
            if (std::strcmp(devices[i].SerialNumber, serial) == 0)
                return int(i);
        return -1;
    }
    if (device_count == 0)
        return -1;
    return port < device_count ? port : 0;
}

struct bit_timing {
    uint32_t rate;
    unsigned char sjw, brp, phseg1, phseg2, propseg, sam;
};
constexpr bit_timing timings[] = {
    {125000, 0, 3, 7, 7, 2, 0},
    {250000, 0, 1, 7, 7, 2, 0},
    {500000, 0, 0, 7, 7, 2, 0},
    {1000000, 0, 0, 2, 2, 2, 0},
};

int cando_fail(uint8_t port)
{
    can_port_fail_reason(port, "no usable CANdo adapter for this port");
    hal_debug_printf("CANDO: Failed to map CAN port %d to CANdo\n", port + 1);
    return -1;
}

int cando_open(uint8_t port)
{
    if (!cando_load()) {
        // On Windows with the loader's own words after the file's name.
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason, "the CANdo library (" CANDO_FILE ") is not installed or lacks a function%s%s",
                      *os_library_error() ? ": " : "", os_library_error());
        can_port_fail_reason(port, reason);
        return -1;
    }
    cando_port& p = ports[port];
    if (p.open)
        return 0;
    const int adapter = choose_adapter(port);
    if (adapter < 0)
        return cando_fail(port);
    std::memset(&p.usb, 0, sizeof p.usb);
    if (api.CANdoOpenDevice(&p.usb, &devices[adapter]) != CANDO_SUCCESS)
        return cando_fail(port);
    bool ok = true;
    for (const bit_timing& t : timings)
        if (t.rate == p.bit_rate)
            ok = api.CANdoSetBaudRate(&p.usb, t.sjw, t.brp, t.phseg1, t.phseg2, t.propseg, t.sam) == CANDO_SUCCESS;
    if (ok) {
        wait_ms(100);
        ok = api.CANdoSetMode(&p.usb, 0) == CANDO_SUCCESS;
    }
    if (ok) {
        wait_ms(10);
        ok = api.CANdoFlushBuffers(&p.usb) == CANDO_SUCCESS && api.CANdoSetState(&p.usb, 1) == CANDO_SUCCESS;
    }
    if (!ok) {
        api.CANdoClose(&p.usb);
        return cando_fail(port);
    }
    std::memset(&p.buffer, 0, sizeof p.buffer);
    p.open = true;
    wait_ms(10);
    const uint32_t now = hal_ms_clock();
    p.last_transmit = p.last_refresh = now - 1000;
    hal_debug_printf("CANDO: Mapped CAN port %d to CANdo (Ser:%s)\n", port + 1, devices[adapter].SerialNumber);
    return 0;
}

// Stores the rate. An open port is closed and opened again at the new rate;
// a port that is not open only keeps the rate for its open and reports -1.
int cando_set_bitrate(uint8_t port, uint32_t bit_rate)
{
    if (!cando_load())
        return -1;
    cando_port& p = ports[port];
    p.bit_rate = bit_rate;
    if (!p.open)
        return -1;
    api.CANdoClose(&p.usb);
    p.open = false;
    return cando_open(port);
}

// The adapter takes at most one frame per millisecond. The wait is bounded:
// a real millisecond passes either way, and a clock that stands still (the
// unit in virtual time) must not stop the main loop.
int cando_send(uint8_t port, const can_frame* frame)
{
    cando_port& p = ports[port];
    if (!cando || !p.open)
        return -1;
    for (int i = 0; i < 2 && hal_ms_clock() == p.last_transmit; ++i)
        wait_ms(1);
    const uint32_t now = hal_ms_clock();
    const unsigned char len = frame->len > 8 ? 8 : frame->len;
    if (api.CANdoTransmit(&p.usb, frame->ext, frame->id, frame->rtr, len, frame->data, 0, 0) != CANDO_SUCCESS)
        return -1;
    p.last_transmit = now;
    return 0;
}

int cando_receive(uint8_t port, can_frame* frame)
{
    cando_port& p = ports[port];
    if (!cando || !p.open)
        return -1;
    const uint32_t now = hal_ms_clock();
    if (now != p.last_refresh && api.CANdoReceive(&p.usb, &p.buffer, &p.status) == CANDO_SUCCESS)
        p.last_refresh = now;
    TCANdoCANBuffer& b = p.buffer;
    if (b.ReadIndex < 0 || b.ReadIndex >= CANDO_CAN_BUFFER_LENGTH)
        b.ReadIndex = 0;
    if (b.ReadIndex == b.WriteIndex && !b.FullFlag)
        return -1;
    const TCANdoCAN& entry = b.CANMessage[b.ReadIndex];
    *frame = can_frame{};
    frame->ext = entry.IDE ? 1 : 0;
    frame->id = entry.ID;
    frame->len = entry.DLC > 8 ? 8 : entry.DLC;
    std::memcpy(frame->data, entry.Data, frame->len);
    frame->time_us = uint64_t(entry.TimeStamp) * 256u / 10u;
    b.ReadIndex = (b.ReadIndex + 1) % CANDO_CAN_BUFFER_LENGTH;
    b.FullFlag = 0;
    return 0;
}

// A serial number as the adapter reports it: 1 to 255 characters.
const char* check_serial(std::string_view arg)
{
    return arg.empty() || arg.size() > 255 ? "the CANdo serial number must be 1 to 255 characters" : nullptr;
}

void cando_reset()
{
    for (cando_port& p : ports) {
        if (p.open)
            api.CANdoClose(&p.usb);
        p = cando_port{};
    }
    if (cando)
        os_library_unload(cando);
    cando = nullptr;
    api = {};
    device_count = 0;
}

}  // namespace

extern const can_backend can_backend_cando = {
    .name = "cando",
    .form = "cando[:SERIAL]",
    .help = "a CANdo adapter by serial number (default: by the port number)",
    .arg = CAN_ARG_OPTIONAL,
    .check_arg = check_serial,
    .open = cando_open,
    .set_bitrate = cando_set_bitrate,
    .send = cando_send,
    .receive = cando_receive,
    .reset = cando_reset,
};
