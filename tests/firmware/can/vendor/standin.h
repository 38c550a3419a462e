// The test-side view of the stand-in vendor libraries: each exports, besides
// the vendor's functions, one function returning its state record, which the
// tests set up before the firmware loads the library and read afterwards.
#pragma once
#include <cstdint>

#include "can/can_cando_api.h"

struct standin_message {
    long id;
    unsigned int dlc;
    unsigned int flags;
    unsigned long time;
    unsigned char data[8];
};

struct standin_canlib_state {
    int channel_count;
    uint64_t serial[4];
    uint64_t firmware[4];
    int fail_item;  // canGetChannelData fails for this item (0: none)
    int open_calls;
    int open_channel;
    int open_flags;
    long bus_freq;
    unsigned int driver;
    int bus_on;
    int close_calls;
    standin_message received[16];  // handed out by canRead in order
    int received_count;
    int received_next;
    standin_message written[16];
    int written_count;
};

struct standin_cando_frame {
    unsigned char ext, rtr;
    unsigned int id;
    unsigned char len;
    unsigned char data[8];
};

struct standin_cando_state {
    TCANdoDevice devices[CANDO_MAX_DEVICES];
    unsigned int device_count;
    int fail_get_devices;
    char opened_serial[CANDO_STRING_LENGTH];
    int open_calls;
    int baud_calls;
    unsigned char baud[6];
    int mode;
    int flushed;
    int state;
    int close_calls;
    int receive_calls;
    TCANdoCAN pending[8];  // appended to the buffer by the next CANdoReceive
    int pending_count;
    standin_cando_frame sent[16];
    int sent_count;
};

extern "C" standin_canlib_state* standin_canlib();
extern "C" standin_cando_state* standin_cando();
