// CAN ports 0 and 1: the firmware's receive and transmit rings and the
// service step of the main loop.
#pragma once
#include <cstdint>

struct can_frame {
    uint32_t id;
    uint8_t ext;
    uint8_t rtr;
    uint8_t len;
    uint8_t data[8];
    uint64_t time_us;
};

// The 16-byte queue slot: id << 3 (little-endian), flags (bit 2 extended,
// bit 3 queued for sending, bits 4-7 length), eight data bytes, three unused.
struct can_queue_entry {
    uint8_t bytes[16];
};

constexpr uint8_t CAN_PORT_COUNT = 2;
constexpr uint16_t CAN_RING_SLOTS = 240;
// Longest device string a port keeps (a trace file path), with its zero.
constexpr uint32_t CAN_DEVICE_MAX = 512;

// Port types of the unit's configuration record, and ours.
constexpr uint32_t CAN_TYPE_CANDO = 0;
constexpr uint32_t CAN_TYPE_KVASER = 1;
constexpr uint32_t CAN_TYPE_TRACE = 2;
constexpr uint32_t CAN_TYPE_SOCKETCAN = 3;
constexpr uint32_t CAN_TYPE_VIRTUAL = 4;

void can_init();
void can_service();  // can_poll_receive, then can_flush_transmit
void can_poll_receive();
void can_flush_transmit();

// Sets the port's back end and device string (nullptr: none). An open back
// end stays open; the new type takes effect for the next operation.
void can_port_config(uint8_t port, uint32_t type, const char* device);
int can_port_set_bitrate(uint8_t port, uint32_t bit_rate);
int can_port_open(uint8_t port);
int can_port_send(uint8_t port, const can_frame* frame);
int can_port_receive(uint8_t port, can_frame* frame);

// What became of a port's last open and what passed through it since, for
// the host's start-up lines and status bar. Readable from any thread.
constexpr uint8_t CAN_PORT_NOT_OPENED = 0;
constexpr uint8_t CAN_PORT_OPEN = 1;
constexpr uint8_t CAN_PORT_FAILED = 2;
constexpr uint32_t CAN_REASON_MAX = 160;
struct can_port_status {
    uint8_t state;
    char reason[CAN_REASON_MAX];  // why the open failed; empty otherwise
    uint32_t sent;                // frames the back end took for the bus
    uint32_t refused;             // frames the back end would not take
    uint32_t received;            // frames taken from the back end
};
void can_port_get_status(uint8_t port, can_port_status* out);
// The back end's name for a port type ("kvaser", "trace", ...).
const char* can_port_type_name(uint32_t type);
// A back end says why an open is failing; can_port_open keeps the text when
// the open returns an error (the first reason given wins).
void can_port_fail_reason(uint8_t port, const char* reason);

// The host may watch every frame the unit hands to a port for sending (the
// headless runner's CAN log). Called on the main loop, in the order sent,
// for the frames the back end took; a refused frame is only counted.
using can_send_observer = void (*)(uint8_t port, const can_frame& frame, void* context);
void can_set_send_observer(can_send_observer observer, void* context);
void can_queue_frame(uint8_t port, uint32_t id, uint8_t ext, uint8_t len, const uint8_t* data);

// Takes the next queued transmit slot of a port; 0 when the ring is empty.
int can_tx_take(uint8_t port, can_queue_entry* out);
// Number of frames waiting in a port's transmit ring.
uint16_t can_tx_pending(uint8_t port);
