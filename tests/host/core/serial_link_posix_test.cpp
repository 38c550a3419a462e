// The serial link against a pseudo-terminal pair: the link opens the slave as
// its COM port, the test plays the peer on the master.
#include "host/core/serial_line_posix.h"
#include "host/core/serial_link.h"

#include "support/unit_fixture.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/hal.h"

namespace norvane {
namespace {

using namespace std::chrono_literals;

std::mutex g_received_lock;
std::vector<uint8_t> g_received;

void capture_rx(const uint8_t* data, uint32_t length)
{
    std::lock_guard<std::mutex> lock(g_received_lock);
    g_received.insert(g_received.end(), data, data + length);
}

size_t received_count()
{
    std::lock_guard<std::mutex> lock(g_received_lock);
    return g_received.size();
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        slave_path_ = ::ptsname(master_);
        // The firmware's start-up configuration of its serial port 3.
        hal_uart_configure(3, 5, 1, 0, 0, capture_rx);
        hal_uart_tx_read.store(0);
        hal_uart_tx_write.store(0);
    }
    void TearDown() override
    {
        link_.close();
        if (master_ >= 0)
            ::close(master_);
    }

    // Reads from the master until `n` bytes came or two seconds passed.
    std::vector<uint8_t> read_master(size_t n)
    {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                uint8_t buf[512];
                const ssize_t got = ::read(master_, buf, sizeof buf);
                if (got > 0)
                    out.insert(out.end(), buf, buf + got);
            }
        }
        return out;
    }

    int open_on_pty()
    {
        link_.set_device_path(1, slave_path_);
        link_.set_port_number(1);
        return link_.open();
    }

    int master_ = -1;
    std::string slave_path_;
    SerialLink link_;
};

TEST_F(SerialLinkTest, OpenFailuresReturnTheirCodes)
{
    link_.set_port_number(0);
    EXPECT_EQ(link_.open(), SerialLink::OPEN_NO_PORT);
    EXPECT_EQ(link_.open_error(), "no COM port chosen");
    link_.set_port_number(2);
    link_.set_device_path(2, "/nonexistent/tty");
    EXPECT_EQ(link_.open(), SerialLink::OPEN_DEVICE_FAILED);
    EXPECT_EQ(link_.open_error(), "/nonexistent/tty: No such file or directory");
    // A file that is no terminal refuses the line settings.
    link_.set_device_path(2, "/dev/null");
    EXPECT_EQ(link_.open(), SerialLink::OPEN_LINE_SETTINGS_REFUSED);
    EXPECT_EQ(link_.open_error().rfind("/dev/null: the line settings were refused (", 0), 0u) << link_.open_error();
    EXPECT_FALSE(link_.is_open());
    EXPECT_EQ(link_.open_device(), "");
}

TEST(SerialDevices, ListsTheSerialDevicesInNaturalOrder)
{
    testing::TempDir dev;
    for (const char* name : {"ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "ttyS0", "tty0", "null", "ttySx", "ttyUSB"})
        std::ofstream(dev / name) << "";
    const std::string d = dev.path().string() + "/";
    const std::vector<std::string> expected = {d + "ttyACM1", d + "ttyS0", d + "ttyS2", d + "ttyS10", d + "ttyUSB0"};
    EXPECT_EQ(list_serial_devices(dev.path().string()), expected);
    EXPECT_TRUE(list_serial_devices("/no/such/folder").empty());
}

TEST_F(SerialLinkTest, ComPortNumbersMapToSerialDevicesUnlessConfigured)
{
    EXPECT_EQ(link_.device_path(1), "/dev/ttyS0");
    EXPECT_EQ(link_.device_path(10), "/dev/ttyS9");
    link_.set_device_path(3, "/dev/ttyUSB0");
    EXPECT_EQ(link_.device_path(3), "/dev/ttyUSB0");
    link_.set_device_path(3, "");
    EXPECT_EQ(link_.device_path(3), "/dev/ttyS2");
}

TEST_F(SerialLinkTest, LineSettingsFollowTheFirmwaresConfiguration)
{
    struct Case {
        uint8_t baud_index, data_bits_flag, stop_bits_flag, parity;
        speed_t speed;
        bool parity_check, two_stop;
    };
    const Case cases[] = {
        {5, 1, 0, 0, B9600, false, false},
        {9, 0, 1, 2, B115200, true, true},
        {0, 1, 0, 1, B110, true, false},
        {12, 1, 0, 3, B921600, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.baud_index));
        hal_uart_configure(3, c.baud_index, c.data_bits_flag, c.stop_bits_flag, c.parity, capture_rx);
        ASSERT_EQ(open_on_pty(), SerialLink::OPEN_OK);
        EXPECT_EQ(link_.open_device(), slave_path_);
        // The master and the slave of a pseudo-terminal share one termios. A
        // pseudo-terminal always keeps 8 data bits without parity, so only
        // the parity check, the speed and the stop bits show here.
        termios t{};
        ASSERT_EQ(::tcgetattr(master_, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.speed);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parity_check);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        link_.close();
        EXPECT_FALSE(link_.is_open());
    }
    hal_uart_configure(3, 13, 1, 0, 0, capture_rx);
    EXPECT_EQ(open_on_pty(), SerialLink::OPEN_LINE_SETTINGS_REFUSED);
}

TEST(SerialLineSettings, DataBitsParityAndStopBits)
{
    struct Case {
        hal_uart_config config;
        tcflag_t size;
        bool parity, odd, two_stop;
    };
    const Case cases[] = {
        {{1, 5, 1, 0, 0, nullptr}, CS8, false, false, false},
        {{1, 5, 0, 1, 2, nullptr}, CS7, true, false, true},
        {{1, 5, 1, 0, 1, nullptr}, CS8, true, true, false},
        {{1, 5, 1, 2, 7, nullptr}, CS8, false, false, false},
    };
    for (const Case& c : cases) {
        termios t{};
        t.c_iflag = IXON | IXOFF;
        t.c_cflag = CRTSCTS;
        ASSERT_TRUE(serial_line_settings(c.config, t));
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parity);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    }
}

TEST_F(SerialLinkTest, BytesFlowBothWays)
{
    ASSERT_EQ(open_on_pty(), SerialLink::OPEN_OK);
    ASSERT_TRUE(link_.is_open());
    const uint8_t peer[] = {0x00, 0x11, 0xFF, 0x0D, 0x0A, 0x13, 0x19};
    ASSERT_EQ(::write(master_, peer, sizeof peer), ssize_t(sizeof peer));
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (received_count() < sizeof peer && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    {
        std::lock_guard<std::mutex> lock(g_received_lock);
        EXPECT_EQ(g_received, std::vector<uint8_t>(peer, peer + sizeof peer));
    }

    const uint8_t unit[] = {0x7E, 0x00, 0x0A, 0xFF};
    hal_uart_write(3, unit, sizeof unit);
    link_.flush_firmware_tx();
    EXPECT_EQ(read_master(sizeof unit), std::vector<uint8_t>(unit, unit + sizeof unit));
}

// More than one write's worth, and bytes queued while a write is still busy,
// all arrive in order: nothing is dropped.
TEST_F(SerialLinkTest, EveryQueuedByteArrivesInOrder)
{
    ASSERT_EQ(open_on_pty(), SerialLink::OPEN_OK);
    std::vector<uint8_t> sent;
    for (int batch : {300, 255, 1, 511, 40}) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < batch; ++i)
            bytes.push_back(uint8_t(sent.size() + size_t(i)));
        hal_uart_write(3, bytes.data(), uint32_t(bytes.size()));
        link_.flush_firmware_tx();
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(read_master(sent.size()), sent);
    EXPECT_EQ(link_.dropped_bytes(), 0u);
}

TEST_F(SerialLinkTest, PeerHangingUpClosesTheLink)
{
    ASSERT_EQ(open_on_pty(), SerialLink::OPEN_OK);
    ::close(master_);
    master_ = -1;
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (link_.is_open() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(link_.is_open());
}

}  // namespace
}  // namespace norvane
