// Platform layer: clocks, the unit's base folder, the serial port table, the
// exit request and the hardware hooks that do nothing on a PC. What it asks of
// the operating system goes through firmware/os; what the host may call of
// it is in firmware/seam.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "seam/uart.h"  // the serial ports' host side
#include "seam/unit.h"  // clock source, base folder, exit request

void hal_clock_start();  // hal_ms_clock's first value is 0
uint64_t hal_us_clock();  // hal_ms_clock() * 1000

void hal_init();  // clears the exit request; the spine's start-up calls it first
// Every record of the platform layer back to its start value: the monotonic
// clock without a base, the base folder ".", no serial port, no exit request.
void hal_reset();

// Milliseconds since the unit's start (app_init marks it).
void sys_mark_start();
uint32_t sys_ms_since_start();

// The platform's debug output (standard error on a PC). The CAN port layer
// writes one line per adapter mapping; a failed settings save writes one.
void hal_debug_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Where the debug output goes: standard error unless the host says otherwise
// (nullptr: back to standard error).
void hal_set_debug_output(std::FILE* out);

// Hooks without action on the PC.
void hal_watchdog_kick();
void hal_hook_50ms();
void hal_hook_500ms();
void hal_buzzer_output(uint16_t frequency);
void hal_init_hook(uint8_t arg);

// Serial ports.
int hal_uart_configure(uint8_t port, uint8_t baud_index, uint8_t data_bits_flag,
                       uint8_t stop_bits_flag, uint8_t parity, hal_uart_rx_entry rx_entry);
int hal_uart_enable(uint8_t port, uint8_t a, uint8_t b);
int hal_uart_write(uint8_t port, const uint8_t* data, uint32_t length);
void hal_uart_rx(const uint8_t* data, uint32_t length);  // receive entry of port 3


// Exit request.
void sys_request_exit(int32_t code);
