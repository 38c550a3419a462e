#include "host/core/serial_link.h"

#include "seam/uart.h"

namespace norvane {

SerialLink::SerialLink() = default;

SerialLink::~SerialLink()
{
    close();
}

void SerialLink::set_read_size(int n)
{
    read_size_.store(n < 1 ? 1 : n > int(CHUNK) ? int(CHUNK) : n, std::memory_order_relaxed);
}

void SerialLink::set_device_path(int n, const std::string& path)
{
    if (path.empty())
        device_paths_.erase(n);
    else
        device_paths_[n] = path;
}

std::string SerialLink::device_path(int n) const
{
    const auto it = device_paths_.find(n);
    if (it != device_paths_.end())
        return it->second;
    return default_device_path(n);
}

std::string SerialLink::open_device() const
{
    return is_open() ? open_device_ : std::string();
}

int SerialLink::begin_open(hal_uart_config& config)
{
    close();
    open_error_.clear();
    const int n = port_number();
    if (n < 1 || n > MAX_PORT_NUMBER) {
        open_error_ = "no COM port chosen";
        return OPEN_NO_PORT;
    }
    if (!hal_uart_get_config(FIRMWARE_PORT, &config)) {
        open_error_ = "the unit has not set up its serial port 3";
        return OPEN_NO_PORT;
    }
    return OPEN_OK;
}

void SerialLink::flush_firmware_tx()
{
    if (!is_open())
        return;
    uint16_t r = hal_uart_tx_read.load(std::memory_order_relaxed);
    const uint16_t w = hal_uart_tx_write.load(std::memory_order_acquire);
    if (r == w)
        return;
    {
        std::lock_guard<std::mutex> lock(pending_lock_);
        for (; r != w; r = uint16_t((r + 1) % HAL_UART_TX_RING)) {
            if (pending_.size() < PENDING_LIMIT)
                pending_.push_back(hal_uart_tx_ring[r].load(std::memory_order_relaxed));
            else
                dropped_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    hal_uart_tx_read.store(r, std::memory_order_release);
    wake();
}

}  // namespace norvane
