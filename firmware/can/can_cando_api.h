// The part of the CANdo API the CANdo back end uses, with the records laid
// out as the vendor's interface lays them out. The back end only names these
// functions; it finds them in the library (libCANdo.so) at run time.
#pragma once
#include <cstddef>

extern "C" {

constexpr int CANDO_SUCCESS = 0;
constexpr int CANDO_STRING_LENGTH = 256;
constexpr int CANDO_MAX_DEVICES = 10;
constexpr int CANDO_CAN_BUFFER_LENGTH = 2048;

// One adapter of the device list.
struct TCANdoDevice {
    int HardwareType;
    char SerialNumber[CANDO_STRING_LENGTH];
};

// The library's record of one opened adapter.
struct TCANdoUSB {
    int TotalNo;
    int No;
    unsigned char OpenFlag;
    char Description[CANDO_STRING_LENGTH];
    char SerialNo[CANDO_STRING_LENGTH];
    void* Handle;
};

// One received frame; TimeStamp counts 25.6 us units.
struct TCANdoCAN {
    unsigned char IDE;
    unsigned char RTR;
    unsigned int ID;
    unsigned char DLC;
    unsigned char Data[8];
    unsigned char BusState;
    unsigned int TimeStamp;
};

// The receive ring the library appends to: it advances WriteIndex and sets
// FullFlag; the reader advances ReadIndex and clears FullFlag.
struct TCANdoCANBuffer {
    TCANdoCAN CANMessage[CANDO_CAN_BUFFER_LENGTH];
    int WriteIndex;
    int ReadIndex;
    int FullFlag;
};

struct TCANdoStatus {
    unsigned char HardwareVersion;
    unsigned char SoftwareVersion;
    unsigned char Status;
    unsigned char BusState;
    unsigned int TimeStamp;
    unsigned char NewFlag;
};

int CANdoGetDevices(TCANdoDevice* devices, unsigned int* count);
int CANdoOpen(TCANdoUSB* usb);
int CANdoOpenDevice(TCANdoUSB* usb, TCANdoDevice* device);
int CANdoClose(TCANdoUSB* usb);
int CANdoFlushBuffers(TCANdoUSB* usb);
int CANdoSetBaudRate(TCANdoUSB* usb, unsigned char sjw, unsigned char brp, unsigned char phseg1,
                     unsigned char phseg2, unsigned char propseg, unsigned char sam);
int CANdoSetMode(TCANdoUSB* usb, unsigned char mode);
int CANdoSetFilters(TCANdoUSB* usb, unsigned int rx1_mask, unsigned char rx1_ide1, unsigned int rx1_filter1,
                    unsigned char rx1_ide2, unsigned int rx1_filter2, unsigned int rx2_mask,
                    unsigned char rx2_ide1, unsigned int rx2_filter1, unsigned char rx2_ide2,
                    unsigned int rx2_filter2, unsigned char rx2_ide3, unsigned int rx2_filter3,
                    unsigned char rx2_ide4, unsigned int rx2_filter4);
int CANdoSetState(TCANdoUSB* usb, unsigned char state);
int CANdoReceive(TCANdoUSB* usb, TCANdoCANBuffer* buffer, TCANdoStatus* status);
int CANdoTransmit(TCANdoUSB* usb, unsigned char extended, unsigned int id, unsigned char rtr,
                  unsigned char len, const unsigned char* data, unsigned char buffer_no,
                  unsigned char repeat_time);
int CANdoRequestStatus(TCANdoUSB* usb);

}  // extern "C"

static_assert(sizeof(TCANdoDevice) == 4 + 256);
static_assert(offsetof(TCANdoCAN, ID) == 4 && offsetof(TCANdoCAN, DLC) == 8 && offsetof(TCANdoCAN, Data) == 9 &&
              offsetof(TCANdoCAN, TimeStamp) == 20 && sizeof(TCANdoCAN) == 24);
static_assert(offsetof(TCANdoCANBuffer, WriteIndex) == 2048 * 24);

// Every function the back end resolves, in one list.
#define CAN_CANDO_FUNCTIONS(X)                                                                     \
    X(CANdoGetDevices)                                                                             \
    X(CANdoOpen)                                                                                   \
    X(CANdoOpenDevice)                                                                             \
    X(CANdoClose)                                                                                  \
    X(CANdoFlushBuffers)                                                                           \
    X(CANdoSetBaudRate)                                                                            \
    X(CANdoSetMode)                                                                                \
    X(CANdoSetFilters)                                                                             \
    X(CANdoSetState)                                                                               \
    X(CANdoReceive)                                                                                \
    X(CANdoTransmit)                                                                               \
    X(CANdoRequestStatus)
