// Platform layer: the only part of the firmware that reaches the host.
// Clocks, the unit's base folder, the serial port table, the exit request and
// the hardware hooks that do nothing on a PC.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

// Clock source: a function that returns host milliseconds. The host chooses it
// once, before app_init: the monotonic clock (the default) or a virtual clock.
using hal_clock_source = uint64_t (*)();
void hal_set_clock_source(hal_clock_source source);
uint64_t hal_monotonic_ms();  // the default source

void hal_clock_start();
uint32_t hal_ms_clock();  // milliseconds since the clock base; first value 0
uint64_t hal_us_clock();  // hal_ms_clock() * 1000

// Folder that holds "rootfs" and "eeprom.dat"'s tree. Default ".".
void hal_set_base_dir(const char* dir);
const char* hal_base_dir();

void hal_init();

// The platform's debug output (standard error on a PC). The CAN port layer
// writes one line per adapter mapping; a failed settings save writes one.
void hal_debug_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Where the debug output goes: standard error unless the host says otherwise
// (nullptr: back to standard error).
void hal_set_debug_output(std::FILE* out);

// CAN port mapping: the back end of each firmware CAN port. The default is
// the unit's own, a Kvaser channel without a device string. The host maps a
// port with one string: "kvaser[:CHANNEL]", "cando[:SERIAL]", "trace:FILE",
// "socketcan:IFACE" or "virtual". Returns 1, or 0 with a message (listing the
// accepted forms) in `why`. can_init applies the mapping.
int hal_can_map_port(uint8_t port, const char* mapping, char* why, uint32_t why_size);
// The back-end type and device string can_init configures for the port.
void hal_can_port_mapping(uint8_t port, uint32_t* type, const char** device);

// Hooks without action on the PC.
void hal_watchdog_kick();
void hal_hook_50ms();
void hal_hook_500ms();
void hal_buzzer_output(uint16_t frequency);
void hal_init_hook(uint8_t arg);

// Serial ports.
constexpr uint8_t HAL_UART_PORTS = 4;
constexpr uint16_t HAL_UART_TX_RING = 512;
using hal_uart_rx_entry = void (*)(const uint8_t* data, uint32_t length);
struct hal_uart_config {
    uint8_t enabled;
    uint8_t baud_index;
    uint8_t data_bits_flag;  // 0: 7 bits, else 8
    uint8_t stop_bits_flag;  // 1: two, else one
    uint8_t parity;          // 0 none, 1 odd, 2 even
    hal_uart_rx_entry rx_entry;
};
int hal_uart_configure(uint8_t port, uint8_t baud_index, uint8_t data_bits_flag,
                       uint8_t stop_bits_flag, uint8_t parity, hal_uart_rx_entry rx_entry);
int hal_uart_get_config(uint8_t port, hal_uart_config* out);
int hal_uart_enable(uint8_t port, uint8_t a, uint8_t b);
int hal_uart_write(uint8_t port, const uint8_t* data, uint32_t length);
void hal_uart_rx(const uint8_t* data, uint32_t length);  // receive entry of port 3

// Transmit ring: one writer (the firmware), one reader (the host's serial link).
extern std::atomic<uint8_t> hal_uart_tx_ring[HAL_UART_TX_RING];
extern std::atomic<uint16_t> hal_uart_tx_write;
extern std::atomic<uint16_t> hal_uart_tx_read;

// Exit request.
void sys_request_exit(int32_t code);
uint32_t sys_exit_requested();
int32_t sys_exit_code();
