// The unit's serial port 3 on a real serial device of the PC: a transparent
// byte pipe at the line settings the firmware configured. One I/O thread reads
// into the firmware's receive entry and writes what the firmware queued.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "seam/uart.h"

namespace norvane {

// The serial devices present. Linux: in `dev_dir`, ttyS*, ttyUSB* and
// ttyACM*, as full paths, in natural order (ttyS2 before ttyS10). Windows:
// the COM ports the system lists, as "\\.\COMn" in the order of n.
std::vector<std::string> list_serial_devices(const std::string& dev_dir = "/dev");

class SerialLink {
public:
    // Results of open(). 1 and 2 (event mask, time-outs) have no counterpart
    // on a POSIX terminal and are returned on Windows alone.
    static constexpr int OPEN_EVENT_MASK_REFUSED = 1;
    static constexpr int OPEN_TIMEOUTS_REFUSED = 2;
    static constexpr int OPEN_OK = 0;
    static constexpr int OPEN_LINE_SETTINGS_REFUSED = 4;
    static constexpr int OPEN_DEVICE_FAILED = 8;
    static constexpr int OPEN_NO_PORT = 16;  // no port number, or the firmware has no serial port 3
    static constexpr int OPEN_NO_EVENTS = 32;

    static constexpr int FIRMWARE_PORT = 3;
    static constexpr int MAX_PORT_NUMBER = 10;
    static constexpr size_t CHUNK = 256;  // bytes per read and per write at most
    // Bytes waiting for the device beyond this are dropped (and counted): a
    // peer that never reads must not make the simulator grow without bound.
    static constexpr size_t PENDING_LIMIT = 1 << 20;
    static constexpr uint32_t BAUD_RATES[13] = {110,   300,   1200,   2400,   4800,   9600,  19200,
                                                38400, 57600, 115200, 230400, 460800, 921600};

    SerialLink();
    ~SerialLink();  // close()
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    int port_number() const { return port_number_.load(std::memory_order_relaxed); }
    void set_port_number(int n) { port_number_.store(n, std::memory_order_relaxed); }
    bool is_open() const { return open_.load(std::memory_order_acquire); }
    void set_read_size(int n);

    // "COMn" is /dev/ttyS<n-1> on Linux and \\.\COMn on Windows unless
    // another device was given for it (a USB adapter, a pseudo-terminal).
    void set_device_path(int n, const std::string& path);
    std::string device_path(int n) const;
    // The device COMn means when none was given for it: "/dev/ttyS<n-1>"
    // on Linux, "\\.\COMn" on Windows.
    static std::string default_device_path(int n);
    // The device of the open port; empty while closed.
    std::string open_device() const;

    // Opens the port with the firmware's settings for its serial port 3 and
    // starts the I/O thread. Returns OPEN_OK or one of the codes above.
    int open();
    // Why the last open() failed, in words; empty after a success.
    const std::string& open_error() const { return open_error_; }
    // Stops the I/O thread, which closes the device.
    void close();

    // Firmware thread, after each main step while open: takes everything the
    // firmware queued in its transmit ring and hands it to the I/O thread,
    // which sends it in order in writes of at most 256 bytes.
    void flush_firmware_tx();

    uint64_t dropped_bytes() const { return dropped_.load(std::memory_order_relaxed); }

private:
    // What every system's open() does first: closes the port, then checks
    // that a COM number is chosen and the firmware has set up its serial
    // port 3 (its settings into `config`). OPEN_OK, or OPEN_NO_PORT with
    // open_error_ said.
    int begin_open(hal_uart_config& config);
    // The device's handle travels as an intptr_t: a file descriptor on
    // Linux, a HANDLE on Windows.
    void io_thread(intptr_t device, void (*rx_entry)(const uint8_t*, uint32_t));
    void wake();

    std::atomic<int> port_number_{0};
    std::atomic<int> read_size_{1};
    std::atomic<bool> open_{false};
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> dropped_{0};
    std::map<int, std::string> device_paths_;  // UI thread only
    std::string open_device_;                   // UI thread only
    std::string open_error_;                    // UI thread only
    intptr_t wake_ = -1;  // an eventfd on Linux, an event HANDLE on Windows
    std::thread io_;

    std::mutex pending_lock_;  // taken for each hand-over between the firmware and the I/O thread
    std::vector<uint8_t> pending_;
};

}  // namespace norvane
