// Receive and transmit mailboxes of the installation's CAN messages.
//
// All messages use 29-bit identifiers in the J1939 layout, priority 6, data
// page 0: priority in bits 26-28, PDU format 16-23, PDU specific 8-15 and the
// source address in bits 0-7.
#pragma once
#include <cstdint>

// Input module -> display: + (channel - 1) * 256 + source (0x80..0x83 for
// SENB1..SENB4). Switch form: 13, 1, state. Analog form: 10, 1, mV low, mV high.
constexpr uint32_t MSG_INPUT_CHANNEL = 0x18FF0000;
constexpr uint8_t MSG_INPUT_SWITCH_KIND = 13;
constexpr uint8_t MSG_INPUT_ANALOG_KIND = 10;
// Power module -> display, + p for PWRB(p+1), exactly 8 bytes: 2-bit output
// states in bytes 1-2, 4-bit output codes in bytes 1-4.
constexpr uint32_t MSG_OUTPUT_STATUS = 0x18FFA0B0;
constexpr uint32_t MSG_OUTPUT_CODES = 0x18FFA1B0;
// Display -> power module, + p * 256 (PDU specific = 0xB0 + p): 0x80, 0,
// 2-bit commands of outputs 1-4 and 5-8, 0, 0.
constexpr uint32_t MSG_OUTPUT_COMMAND = 0x18EFB000;
constexpr uint8_t MSG_OUTPUT_COMMAND_LEN = 6;

constexpr uint8_t INPUT_MODULE_COUNT = 4;  // SENB1..SENB4
constexpr uint8_t POWER_MODULE_COUNT = 8;  // PWRB1..PWRB8

// The twenty receive mailboxes in dispatch order: the four input modules,
// then status and codes of each power module, interleaved.
constexpr uint8_t RX_MAILBOX_COUNT = 20;
constexpr uint8_t RX_INPUT_DEPTH = 10;
constexpr uint8_t rx_mailbox_input(uint8_t m) { return m; }
constexpr uint8_t rx_mailbox_status(uint8_t p) { return uint8_t(INPUT_MODULE_COUNT + 2 * p); }
constexpr uint8_t rx_mailbox_codes(uint8_t p) { return uint8_t(INPUT_MODULE_COUNT + 2 * p + 1); }

constexpr uint16_t RX_AGE_NEVER = 0xFFFF;

// Ages every mailbox to "never received". Firmware start-up, before
// model_can_open and model_init.
void rx_mailbox_init();
// Stores one frame in a mailbox's ring (main loop). Status and codes
// mailboxes take only 8-byte frames; at most 8 data bytes are kept.
void rx_mailbox_put(uint8_t mailbox, uint32_t id, uint8_t len, const uint8_t* data);
// Takes the current entry (tick). Every stored frame comes out once with age
// 0, oldest first; a drained ring repeats its newest entry with age 1, 2, ...
// up to 0xFFFF. Out-arguments may be null. Returns the number of bytes copied.
uint8_t rx_mailbox_get(uint8_t mailbox, uint16_t* age, uint32_t* id, uint8_t* ext,
                       uint8_t* data, uint8_t max);
// Acceptance filter of a status or codes mailbox; a zero mask takes every
// frame of its family.
void rx_mailbox_set_filter(uint8_t mailbox, uint32_t reference, uint32_t mask);

// Hands one received extended frame to every mailbox whose rule it meets.
void can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data);

// Port 0 at 250000 bit/s, opened once at start-up.
void model_can_open();

// Transmit mailboxes, one per power module, touched only by the tick.
constexpr uint32_t TX_PERIOD_MS = 100;
uint8_t tx_mailbox_set(uint8_t mailbox, uint32_t id, uint8_t len, const uint8_t* data);
void tx_mailbox_send(uint8_t mailbox);
// Every tick: each mailbox's phase advances 10 ms; at 100 ms its frame is
// queued on port 0, all eight in the same tick, PWRB1 first.
void can_tx_schedule();

// Both kinds of mailbox back to their start values (before rx_mailbox_init).
void mailbox_reset();
