// The part of Kvaser CANlib's public C interface the Kvaser back end uses, as
// the Linux library exports it (libcanlib.so.1). The back end only names
// these functions; it finds them in the library at run time.
#pragma once
#include <cstddef>

extern "C" {

typedef int canHandle;
typedef int canStatus;  // canOK = 0, errors are negative

constexpr int canCHANNELDATA_CARD_SERIAL_NO = 7;
constexpr int canCHANNELDATA_CARD_FIRMWARE_REV = 9;
constexpr int canCHANNELDATA_CHANNEL_NAME = 13;
constexpr int canOPEN_REQUIRE_EXTENDED = 0x10;
constexpr int canOPEN_ACCEPT_VIRTUAL = 0x20;
constexpr unsigned int canDRIVER_NORMAL = 4;
constexpr unsigned int canMSG_EXT = 0x04;
constexpr long canBITRATE_1M = -1;
constexpr long canBITRATE_500K = -2;
constexpr long canBITRATE_250K = -3;
constexpr long canBITRATE_125K = -4;

void canInitializeLibrary(void);
canHandle canOpenChannel(int channel, int flags);
canStatus canGetNumberOfChannels(int* channelCount);
canStatus canGetChannelData(int channel, int item, void* buffer, size_t bufsize);
canStatus canClose(const canHandle hnd);
canStatus canBusOn(const canHandle hnd);
canStatus canBusOff(const canHandle hnd);
canStatus canSetBusParams(const canHandle hnd, long freq, unsigned int tseg1, unsigned int tseg2,
                          unsigned int sjw, unsigned int noSamp, unsigned int syncmode);
canStatus canGetBusParams(const canHandle hnd, long* freq, unsigned int* tseg1, unsigned int* tseg2,
                          unsigned int* sjw, unsigned int* noSamp, unsigned int* syncmode);
canStatus canSetBusOutputControl(const canHandle hnd, const unsigned int drivertype);
canStatus canGetBusOutputControl(const canHandle hnd, unsigned int* drivertype);
canStatus canAccept(const canHandle hnd, const long envelope, const unsigned int flag);
canStatus canReadStatus(const canHandle hnd, unsigned long* const flags);
canStatus canReadErrorCounters(const canHandle hnd, unsigned int* txErr, unsigned int* rxErr,
                               unsigned int* ovErr);
canStatus canWrite(const canHandle hnd, long id, void* msg, unsigned int dlc, unsigned int flag);
canStatus canWriteSync(const canHandle hnd, unsigned long timeout);
canStatus canRead(const canHandle hnd, long* id, void* msg, unsigned int* dlc, unsigned int* flag,
                  unsigned long* time);
canStatus canReadWait(const canHandle hnd, long* id, void* msg, unsigned int* dlc, unsigned int* flag,
                      unsigned long* time, unsigned long timeout);

}  // extern "C"

// Every function the back end resolves, in one list.
#define CAN_CANLIB_FUNCTIONS(X)                                                                    \
    X(canInitializeLibrary)                                                                        \
    X(canOpenChannel)                                                                              \
    X(canGetNumberOfChannels)                                                                      \
    X(canGetChannelData)                                                                           \
    X(canClose)                                                                                    \
    X(canBusOn)                                                                                    \
    X(canBusOff)                                                                                   \
    X(canSetBusParams)                                                                             \
    X(canGetBusParams)                                                                             \
    X(canSetBusOutputControl)                                                                      \
    X(canGetBusOutputControl)                                                                      \
    X(canAccept)                                                                                   \
    X(canReadStatus)                                                                               \
    X(canReadErrorCounters)                                                                        \
    X(canWrite)                                                                                    \
    X(canWriteSync)                                                                                \
    X(canRead)                                                                                     \
    X(canReadWait)
