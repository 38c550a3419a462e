// The seam: the unit's serial ports as the host's serial link sees them. The
// firmware configures a port and writes into the transmit ring; the host
// reads the ring and hands received bytes to the port's receive entry.
#pragma once
#include <atomic>
#include <cstdint>

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
int hal_uart_get_config(uint8_t port, hal_uart_config* out);

// Transmit ring: one writer (the firmware), one reader (the host's serial link).
extern std::atomic<uint8_t> hal_uart_tx_ring[HAL_UART_TX_RING];
extern std::atomic<uint16_t> hal_uart_tx_write;
extern std::atomic<uint16_t> hal_uart_tx_read;
