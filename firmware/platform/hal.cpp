// Platform layer of the simulator build: host clocks, the base folder, the
// serial port table and the hooks that have no action on a PC.
#include "platform/hal.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "os/os_debug.h"
#include "os/os_time.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

std::atomic<hal_clock_source> clock_source{hal_monotonic_ms};
uint32_t start_time = 0;  // unit time of app_init
// The unit takes its clock base at the first use and never again. A virtual
// clock may well read 0 then, so "taken" is a flag of its own.
std::atomic<uint32_t> clock_base{0};
std::atomic<bool> clock_base_taken{false};

std::string base_dir = ".";

std::atomic<std::FILE*> debug_output{nullptr};

hal_uart_config uart_config[HAL_UART_PORTS];

std::atomic<int32_t> exit_code{0};
std::atomic<uint32_t> exit_flag{0};

uint32_t host_ms()
{
    return uint32_t(clock_source.load(relaxed)());
}

}  // namespace

std::atomic<uint8_t> hal_uart_tx_ring[HAL_UART_TX_RING];
std::atomic<uint16_t> hal_uart_tx_write{0};
std::atomic<uint16_t> hal_uart_tx_read{0};

uint64_t hal_monotonic_ms()
{
    return os_monotonic_ms();
}

void hal_set_clock_source(hal_clock_source source)
{
    clock_source.store(source ? source : hal_monotonic_ms, relaxed);
}

void hal_clock_start()
{
    bool expected = false;
    if (clock_base_taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
        clock_base.store(host_ms(), std::memory_order_release);
}

uint32_t hal_ms_clock()
{
    hal_clock_start();
    return host_ms() - clock_base.load(std::memory_order_acquire);
}

uint64_t hal_us_clock()
{
    return uint64_t(hal_ms_clock()) * 1000u;
}

void hal_set_base_dir(const char* dir)
{
    base_dir = (dir && *dir) ? dir : ".";
}

const char* hal_base_dir()
{
    return base_dir.c_str();
}

void hal_set_debug_output(std::FILE* out)
{
    debug_output.store(out, relaxed);
}

void hal_debug_printf(const char* format, ...)
{
    std::FILE* out = debug_output.load(relaxed);
    va_list args;
    va_start(args, format);
    os_debug_vprintf(out, format, args);
    va_end(args);
}

void hal_watchdog_kick() {}
void hal_hook_50ms() {}
void hal_hook_500ms() {}
void hal_buzzer_output(uint16_t) {}
void hal_init_hook(uint8_t) {}

void hal_init()
{
    // A unit that starts has not been asked to end.
    exit_flag.store(0, relaxed);
    exit_code.store(0, relaxed);
}

void sys_mark_start()
{
    start_time = hal_ms_clock();
}

uint32_t sys_ms_since_start()
{
    return hal_ms_clock() - start_time;
}

int hal_uart_configure(uint8_t port, uint8_t baud_index, uint8_t data_bits_flag,
                       uint8_t stop_bits_flag, uint8_t parity, hal_uart_rx_entry rx_entry)
{
    if (port >= HAL_UART_PORTS)
        return 0;
    uart_config[port] = {1, baud_index, data_bits_flag, stop_bits_flag, parity, rx_entry};
    return 1;
}

int hal_uart_get_config(uint8_t port, hal_uart_config* out)
{
    if (port >= HAL_UART_PORTS || !uart_config[port].enabled)
        return 0;
    if (out)
        *out = uart_config[port];
    return 1;
}

int hal_uart_enable(uint8_t, uint8_t, uint8_t)
{
    return 1;
}

int hal_uart_write(uint8_t, const uint8_t* data, uint32_t length)
{
    // The ring has no fill check: a writer that laps the reader overwrites
    // bytes not yet sent.
    uint16_t w = hal_uart_tx_write.load(relaxed);
    for (uint32_t i = 0; i < length; ++i) {
        hal_uart_tx_ring[w].store(data[i], relaxed);
        w = uint16_t((w + 1) % HAL_UART_TX_RING);
    }
    hal_uart_tx_write.store(w, std::memory_order_release);
    return 1;
}

void hal_uart_rx(const uint8_t*, uint32_t) {}

void sys_request_exit(int32_t code)
{
    exit_code.store(code, relaxed);
    exit_flag.store(1, std::memory_order_release);
}

uint32_t sys_exit_requested()
{
    return exit_flag.load(std::memory_order_acquire);
}

int32_t sys_exit_code()
{
    return exit_code.load(relaxed);
}

void hal_reset()
{
    clock_source.store(hal_monotonic_ms, relaxed);
    start_time = 0;
    clock_base.store(0, relaxed);
    clock_base_taken.store(false, relaxed);
    base_dir.assign(1, '.');
    for (hal_uart_config& config : uart_config)
        config = {};
    for (auto& byte : hal_uart_tx_ring)
        byte.store(0, relaxed);
    hal_uart_tx_write.store(0, relaxed);
    hal_uart_tx_read.store(0, relaxed);
    exit_code.store(0, relaxed);
    exit_flag.store(0, relaxed);
    debug_output.store(nullptr, relaxed);
}
