// CAN ports 0 and 1: the firmware's receive and transmit rings and the
// service step of the main loop.
#pragma once
#include <cstdint>

#include "seam/can.h"  // can_frame, the port mapping, status and send observer

// The 16-byte queue slot: id << 3 (little-endian), flags (bit 2 extended,
// bit 3 queued for sending, bits 4-7 length), eight data bytes, three unused.
struct can_queue_entry {
    uint8_t bytes[16];
};

constexpr uint16_t CAN_RING_SLOTS = 240;
// Longest device string a port keeps (a trace file path), with its zero.
constexpr uint32_t CAN_DEVICE_MAX = 512;

// Port types of the unit's configuration record, and ours.
constexpr uint32_t CAN_TYPE_CANDO = 0;
constexpr uint32_t CAN_TYPE_KVASER = 1;
constexpr uint32_t CAN_TYPE_TRACE = 2;
constexpr uint32_t CAN_TYPE_SOCKETCAN = 3;
constexpr uint32_t CAN_TYPE_VIRTUAL = 4;
constexpr uint32_t CAN_TYPE_SOCKETCAND = 5;

void can_init();
// Every record of the CAN layer back to its start value: each back end
// closed and reset, the mappings the unit's own, the rings empty, no receive
// handler and no send observer.
void can_reset();
void can_mapping_reset();  // every port mapped the unit's way again
void can_service();  // can_poll_receive, then can_flush_transmit
void can_poll_receive();
void can_flush_transmit();

// Sets the port's back end and device string (nullptr: none). An open back
// end stays open; the new type takes effect for the next operation.
void can_port_config(uint8_t port, uint32_t type, const char* device);
int can_port_send(uint8_t port, const can_frame* frame);
int can_port_receive(uint8_t port, can_frame* frame);

// A back end says why an open is failing; can_port_open keeps the text when
// the open returns an error (the first reason given wins).
void can_port_fail_reason(uint8_t port, const char* reason);

void can_queue_frame(uint8_t port, uint32_t id, uint8_t ext, uint8_t len, const uint8_t* data);

// The receive hand-off of a port: the layers that listen register their
// handlers at start (the unit's spine gives port 0 to the mailboxes and the
// test messages). can_poll_receive hands each extended frame to the
// port's extended-frame handler and each standard 0x422 frame, as its ring
// slot, to the test-message handler; a frame without a handler is dropped.
using can_extended_handler = void (*)(uint32_t id, uint8_t len, const uint8_t* data);
using can_test_message_handler = void (*)(const can_queue_entry* slot);
constexpr uint32_t CAN_TEST_MESSAGE_ID = 0x422;
void can_set_receive_handlers(uint8_t port, can_extended_handler extended, can_test_message_handler test_message);

// Takes the next queued transmit slot of a port; 0 when the ring is empty.
int can_tx_take(uint8_t port, can_queue_entry* out);
// Number of frames waiting in a port's transmit ring.
uint16_t can_tx_pending(uint8_t port);
