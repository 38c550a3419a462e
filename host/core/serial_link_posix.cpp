#include "host/core/serial_link.h"
#include "host/core/serial_line_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "seam/uart.h"

namespace norvane {
namespace {

speed_t speed_constant(uint32_t baud)
{
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

bool apply_line_settings(int fd, const hal_uart_config& config)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0 || !serial_line_settings(config, t))
        return false;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

bool serial_line_settings(const hal_uart_config& config, termios& t)
{
    if (config.baud_index >= std::size(SerialLink::BAUD_RATES))
        return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | (config.data_bits_flag ? CS8 : CS7);
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    if (config.parity == 1 || config.parity == 2) {
        t.c_cflag |= PARENB | (config.parity == 1 ? PARODD : 0);
        t.c_iflag |= INPCK;
    }
    if (config.stop_bits_flag == 1)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = speed_constant(SerialLink::BAUD_RATES[config.baud_index]);
    return ::cfsetispeed(&t, speed) == 0 && ::cfsetospeed(&t, speed) == 0;
}

std::string SerialLink::default_device_path(int n)
{
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::vector<std::string> list_serial_devices(const std::string& dev_dir)
{
    struct found {
        std::string prefix;
        long number;
        std::string path;
    };
    std::vector<found> devices;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dev_dir, ec)) {
        const std::string name = entry.path().filename().string();
        for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
            const std::string p = prefix;
            if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0)
                continue;
            const std::string digits = name.substr(p.size());
            if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
                continue;
            devices.push_back({p, std::stol(digits), entry.path().string()});
        }
    }
    std::sort(devices.begin(), devices.end(), [](const found& a, const found& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.number < b.number;
    });
    std::vector<std::string> paths;
    for (const found& f : devices)
        paths.push_back(f.path);
    return paths;
}

int SerialLink::open()
{
    hal_uart_config config{};
    if (const int refused = begin_open(config); refused != OPEN_OK)
        return refused;
    const std::string path = device_path(port_number());
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        open_error_ = path + ": " + std::strerror(errno);
        return OPEN_DEVICE_FAILED;
    }
    // Not shared: no other program opens the port while we hold it.
    ::ioctl(fd, TIOCEXCL);
    if (!apply_line_settings(fd, config)) {
        open_error_ = path + ": the line settings were refused (" + std::strerror(errno) + ")";
        ::close(fd);
        return OPEN_LINE_SETTINGS_REFUSED;
    }
    // DTR and RTS on. A pseudo-terminal has no modem lines and refuses this
    // with ENOTTY, which does no harm.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    ::tcflush(fd, TCIOFLUSH);

    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        open_error_ = std::string("no event descriptor for the I/O thread: ") + std::strerror(errno);
        ::close(fd);
        return OPEN_NO_EVENTS;
    }
    {
        std::lock_guard<std::mutex> lock(pending_lock_);
        pending_.clear();
    }
    open_device_ = path;
    stop_.store(false, std::memory_order_relaxed);
    open_.store(true, std::memory_order_release);
    io_ = std::thread([this, fd, entry = config.rx_entry] { io_thread(fd, entry); });
    return OPEN_OK;
}

void SerialLink::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(int(wake_), &one, sizeof one);
}

void SerialLink::close()
{
    if (io_.joinable()) {
        stop_.store(true, std::memory_order_release);
        wake();
        io_.join();
    }
    if (wake_ >= 0) {
        ::close(int(wake_));
        wake_ = -1;
    }
}

void SerialLink::io_thread(intptr_t device, void (*rx_entry)(const uint8_t*, uint32_t))
{
    const int fd = int(device);
    const int wake_fd = int(wake_);
    uint8_t read_buffer[CHUNK];
    uint8_t write_buffer[CHUNK];
    size_t write_length = 0;  // bytes of the write in progress
    size_t written = 0;
    bool failed = false;
    while (!failed && !stop_.load(std::memory_order_acquire)) {
        if (written == write_length) {
            // Next write: up to 256 bytes from the front of what is waiting.
            std::lock_guard<std::mutex> lock(pending_lock_);
            write_length = std::min(pending_.size(), CHUNK);
            std::copy_n(pending_.begin(), write_length, write_buffer);
            pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(write_length));
            written = 0;
        }
        pollfd fds[2] = {{fd, short(POLLIN | (written < write_length ? POLLOUT : 0)), 0},
                         {wake_fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            failed = errno != EINTR;
            continue;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_fd, &count, sizeof count);
        }
        if (fds[0].revents & POLLIN) {
            const size_t want = size_t(read_size_.load(std::memory_order_relaxed));
            const ssize_t n = ::read(fd, read_buffer, want);
            if (n > 0 && rx_entry)
                rx_entry(read_buffer, uint32_t(n));
            else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                failed = true;
        } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            failed = true;  // the device went away
        }
        if (!failed && written < write_length && (fds[0].revents & POLLOUT)) {
            const ssize_t n = ::write(fd, write_buffer + written, write_length - written);
            if (n > 0)
                written += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                failed = true;
        }
    }
    ::close(fd);
    open_.store(false, std::memory_order_release);
}

}  // namespace norvane
