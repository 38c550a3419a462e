// A stand-in for Kvaser CANlib with the Linux library's exported functions:
// channels with fixed serial numbers and firmware revisions, a queue of frames
// to receive and a log of frames written. Built once complete and once
// without canReadWait, to show how the port layer treats a library that
// lacks a function.
#include <cstring>

#include "can/can_canlib_api.h"
#include "standin.h"

namespace {
standin_canlib_state state = {3, {}, {}, 0, 0, -1, 0, 0, 0, 0, 0, {}, 0, 0, {}, 0};
}

extern "C" {

standin_canlib_state* standin_canlib()
{
    return &state;
}

void canInitializeLibrary(void) {}

canHandle canOpenChannel(int channel, int flags)
{
    ++state.open_calls;
    if (channel < 0 || channel >= state.channel_count)
        return -3;
    state.open_channel = channel;
    state.open_flags = flags;
    return 100 + channel;
}

canStatus canGetNumberOfChannels(int* channelCount)
{
    *channelCount = state.channel_count;
    return 0;
}

canStatus canGetChannelData(int channel, int item, void* buffer, size_t bufsize)
{
    if (channel < 0 || channel >= state.channel_count || item == state.fail_item)
        return -3;
    if (item == canCHANNELDATA_CHANNEL_NAME && bufsize >= 16) {
        std::strcpy(static_cast<char*>(buffer), "Stand-in CAN");
        return 0;
    }
    if (item == canCHANNELDATA_CARD_SERIAL_NO && bufsize >= 8) {
        std::memcpy(buffer, &state.serial[channel], 8);
        return 0;
    }
    if (item == canCHANNELDATA_CARD_FIRMWARE_REV && bufsize >= 8) {
        std::memcpy(buffer, &state.firmware[channel], 8);
        return 0;
    }
    return -1;
}

canStatus canClose(const canHandle)
{
    ++state.close_calls;
    state.bus_on = 0;
    return 0;
}

canStatus canBusOn(const canHandle)
{
    state.bus_on = 1;
    return 0;
}

canStatus canBusOff(const canHandle)
{
    state.bus_on = 0;
    return 0;
}

canStatus canSetBusParams(const canHandle, long freq, unsigned int, unsigned int, unsigned int, unsigned int,
                          unsigned int)
{
    state.bus_freq = freq;
    return 0;
}

canStatus canGetBusParams(const canHandle, long* freq, unsigned int*, unsigned int*, unsigned int*,
                          unsigned int*, unsigned int*)
{
    *freq = state.bus_freq;
    return 0;
}

canStatus canSetBusOutputControl(const canHandle, const unsigned int drivertype)
{
    state.driver = drivertype;
    return 0;
}

canStatus canGetBusOutputControl(const canHandle, unsigned int* drivertype)
{
    *drivertype = state.driver;
    return 0;
}

canStatus canAccept(const canHandle, const long, const unsigned int)
{
    return 0;
}

canStatus canReadStatus(const canHandle, unsigned long* const flags)
{
    *flags = 0;
    return 0;
}

canStatus canReadErrorCounters(const canHandle, unsigned int* txErr, unsigned int* rxErr, unsigned int* ovErr)
{
    *txErr = *rxErr = *ovErr = 0;
    return 0;
}

canStatus canWrite(const canHandle, long id, void* msg, unsigned int dlc, unsigned int flag)
{
    if (state.written_count == 16)
        return -13;
    standin_message& m = state.written[state.written_count++];
    m = standin_message{id, dlc, flag, 0, {}};
    std::memcpy(m.data, msg, dlc > 8 ? 8 : dlc);
    return 0;
}

canStatus canWriteSync(const canHandle, unsigned long)
{
    return 0;
}

canStatus canRead(const canHandle, long* id, void* msg, unsigned int* dlc, unsigned int* flag, unsigned long* time)
{
    if (state.received_next == state.received_count)
        return -2;  // canERR_NOMSG
    const standin_message& m = state.received[state.received_next++];
    *id = m.id;
    std::memcpy(msg, m.data, 8);
    *dlc = m.dlc;
    *flag = m.flags;
    *time = m.time;
    return 0;
}

#ifndef STANDIN_INCOMPLETE
canStatus canReadWait(const canHandle hnd, long* id, void* msg, unsigned int* dlc, unsigned int* flag,
                      unsigned long* time, unsigned long)
{
    return canRead(hnd, id, msg, dlc, flag, time);
}
#endif

}  // extern "C"
