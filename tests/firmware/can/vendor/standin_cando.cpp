// A stand-in for the CANdo library: a list of adapters, the settings the
// port made, frames that the next CANdoReceive appends to the port's buffer
// and a log of the frames transmitted.
#include <cstring>

#include "can/can_cando_api.h"
#include "standin.h"

namespace {
standin_cando_state state{};
}

extern "C" {

standin_cando_state* standin_cando()
{
    return &state;
}

int CANdoGetDevices(TCANdoDevice* devices, unsigned int* count)
{
    if (state.fail_get_devices)
        return 1;
    const unsigned int n = state.device_count < *count ? state.device_count : *count;
    std::memcpy(devices, state.devices, n * sizeof(TCANdoDevice));
    *count = n;
    return CANDO_SUCCESS;
}

int CANdoOpen(TCANdoUSB*)
{
    return CANDO_SUCCESS;
}

int CANdoOpenDevice(TCANdoUSB* usb, TCANdoDevice* device)
{
    ++state.open_calls;
    std::strcpy(state.opened_serial, device->SerialNumber);
    usb->OpenFlag = 1;
    std::strcpy(usb->SerialNo, device->SerialNumber);
    return CANDO_SUCCESS;
}

int CANdoClose(TCANdoUSB* usb)
{
    ++state.close_calls;
    usb->OpenFlag = 0;
    return CANDO_SUCCESS;
}

int CANdoFlushBuffers(TCANdoUSB*)
{
    ++state.flushed;
    return CANDO_SUCCESS;
}

int CANdoSetBaudRate(TCANdoUSB*, unsigned char sjw, unsigned char brp, unsigned char phseg1, unsigned char phseg2,
                     unsigned char propseg, unsigned char sam)
{
    ++state.baud_calls;
    const unsigned char values[6] = {sjw, brp, phseg1, phseg2, propseg, sam};
    std::memcpy(state.baud, values, 6);
    return CANDO_SUCCESS;
}

int CANdoSetMode(TCANdoUSB*, unsigned char mode)
{
    state.mode = mode;
    return CANDO_SUCCESS;
}

int CANdoSetFilters(TCANdoUSB*, unsigned int, unsigned char, unsigned int, unsigned char, unsigned int, unsigned int,
                    unsigned char, unsigned int, unsigned char, unsigned int, unsigned char, unsigned int,
                    unsigned char, unsigned int)
{
    return CANDO_SUCCESS;
}

int CANdoSetState(TCANdoUSB*, unsigned char run)
{
    state.state = run;
    return CANDO_SUCCESS;
}

int CANdoReceive(TCANdoUSB*, TCANdoCANBuffer* buffer, TCANdoStatus* status)
{
    ++state.receive_calls;
    for (int i = 0; i < state.pending_count; ++i) {
        buffer->CANMessage[buffer->WriteIndex] = state.pending[i];
        buffer->WriteIndex = (buffer->WriteIndex + 1) % CANDO_CAN_BUFFER_LENGTH;
        if (buffer->WriteIndex == buffer->ReadIndex)
            buffer->FullFlag = 1;
    }
    state.pending_count = 0;
    status->NewFlag = 1;
    return CANDO_SUCCESS;
}

int CANdoTransmit(TCANdoUSB*, unsigned char extended, unsigned int id, unsigned char rtr, unsigned char len,
                  const unsigned char* data, unsigned char, unsigned char)
{
    if (state.sent_count == 16)
        return 1;
    standin_cando_frame& f = state.sent[state.sent_count++];
    f = standin_cando_frame{extended, rtr, id, len, {}};
    std::memcpy(f.data, data, len > 8 ? 8 : len);
    return CANDO_SUCCESS;
}

int CANdoRequestStatus(TCANdoUSB*)
{
    return CANDO_SUCCESS;
}

}  // extern "C"
