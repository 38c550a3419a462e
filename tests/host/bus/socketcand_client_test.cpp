// The socketcand back end of a CAN port against servers on loopback: the bus
// server, and a hand-written server that sends what a bad peer sends. The
// port's whole life is one test because the back end's connection belongs to
// the process: connect, frames both ways, the server goes away, the port
// comes back to a new server and refuses its bad messages with a count.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "can/can_port.h"
#include "host/bus/bus_server.h"
#include "fake_bus.h"
#include "platform/hal.h"

namespace norvane {
namespace {

using clock_type = std::chrono::steady_clock;
constexpr uint8_t PORT = 1;

using testing::FakeBus;
using testing::frame;

// Calls `step` every millisecond until it returns true or `limit_ms` passed.
template <typename Step>
bool within(int limit_ms, Step step)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(limit_ms);
    while (clock_type::now() < end) {
        if (step())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A server that greets, accepts the bus and raw mode, then sends `script`
// and closes.
void scripted_server(int listen_fd, const std::string& script)
{
    pollfd p{listen_fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0)
        return;
    const int fd = ::accept(listen_fd, nullptr, nullptr);
    if (fd < 0)
        return;
    auto reply_after = [fd](const char* expected, const char* reply) {
        std::string got;
        char buffer[256];
        while (got.find(expected) == std::string::npos) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 3000) <= 0)
                return false;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            got.append(buffer, size_t(n));
        }
        return ::send(fd, reply, std::strlen(reply), MSG_NOSIGNAL) > 0;
    };
    if (::send(fd, "< hi >", 6, MSG_NOSIGNAL) == 6 && reply_after("< open can0 >", "< ok >") &&
        reply_after("< rawmode >", "< ok >"))
        ::send(fd, script.data(), script.size(), MSG_NOSIGNAL);
    // Wait for the client to read it all and notice the end.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(fd);
}

TEST(SocketcandPort, ConnectsCarriesFramesComesBackAndRefusesBadMessages)
{
    FakeBus bus;
    bus_server_options options;
    options.port = 0;
    options.raw_hold_ms = 0;
    auto server = std::make_unique<BusServer>(options, bus.link(), nullptr);
    std::string why;
    ASSERT_TRUE(server->start(why)) << why;
    const uint16_t tcp_port = server->port();

    ::testing::internal::CaptureStderr();
    char reason[256];
    const std::string mapping = "socketcand:127.0.0.1:" + std::to_string(tcp_port) + ":can0";
    ASSERT_TRUE(hal_can_map_port(PORT, mapping.c_str(), reason, sizeof reason)) << reason;
    can_init();
    ASSERT_EQ(can_port_open(PORT), 0);

    // Sending is refused until raw mode; then the frame reaches the bus.
    const can_frame out = frame(0x0CFF0480, 1, {1, 2});
    EXPECT_NE(can_port_send(PORT, &out), 0);
    ASSERT_TRUE(within(3000, [&] {
        can_frame f;
        can_port_receive(PORT, &f);
        return can_port_send(PORT, &out) == 0;
    }));
    ASSERT_TRUE(within(3000, [&] { return bus.taken() == 1; }));
    {
        std::lock_guard<std::mutex> g(bus.lock);
        EXPECT_EQ(bus.on_bus[0].id, 0x0CFF0480u);
        EXPECT_EQ(bus.on_bus[0].ext, 1);
        EXPECT_EQ(bus.on_bus[0].len, 2);
    }

    // The bus's frames arrive, standard and extended as written.
    {
        std::lock_guard<std::mutex> g(bus.lock);
        bus.from_unit.push_back(frame(0x18FF0380, 1, {0x0D, 1, 1}));
        bus.from_unit.push_back(frame(0x422, 0, {}));
    }
    server->wake();
    std::vector<can_frame> got;
    ASSERT_TRUE(within(3000, [&] {
        can_frame f;
        while (can_port_receive(PORT, &f) == 0)
            got.push_back(f);
        return got.size() >= 2;
    }));
    EXPECT_EQ(got[0].id, 0x18FF0380u);
    EXPECT_EQ(got[0].ext, 1);
    EXPECT_EQ(got[0].len, 3);
    EXPECT_EQ(got[1].id, 0x422u);
    EXPECT_EQ(got[1].ext, 0);
    EXPECT_EQ(got[1].len, 0);

    // The server goes away; a new one takes its place and sends garbage, a
    // frame and half a message before it closes.
    server.reset();
    can_frame f;
    ASSERT_TRUE(within(3000, [&] { return can_port_receive(PORT, &f) != 0 && can_port_send(PORT, &out) != 0; }));
    const int listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(tcp_port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listen_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << std::strerror(errno);
    ASSERT_EQ(::listen(listen_fd, 1), 0);
    std::thread peer(scripted_server, listen_fd,
                     "garbage< frame 123 1.0 00 >\n< frame xyz 1.0 >< bogus >< frame 12345678 1.000000 AABB >"
                     "< frame 123 1.0 0");
    got.clear();
    const bool second = within(4000, [&] {
        while (can_port_receive(PORT, &f) == 0)
            got.push_back(f);
        return got.size() >= 2;
    });
    peer.join();
    ::close(listen_fd);
    ASSERT_TRUE(second);
    EXPECT_EQ(got[0].id, 0x123u);
    EXPECT_EQ(got[1].id, 0x12345678u);
    EXPECT_EQ(got[1].len, 2);
    within(1000, [&] { return can_port_receive(PORT, &f) != 0 && can_port_send(PORT, &out) != 0; });

    const std::string lines = ::testing::internal::GetCapturedStderr();
    auto count = [&lines](const std::string& part) {
        size_t n = 0;
        for (size_t at = lines.find(part); at != std::string::npos; at = lines.find(part, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("SOCKETCAND: CAN port 1: connecting"), 1u) << lines;
    EXPECT_EQ(count("connected, raw mode"), 2u) << lines;
    EXPECT_GE(count("connection lost"), 1u) << lines;
    // Between the servers the refused connections are said once, not every second.
    EXPECT_LE(count("cannot connect"), 1u) << lines;
    EXPECT_NE(lines.find("3 bad messages were refused"), std::string::npos) << lines;
}

}  // namespace
}  // namespace norvane
