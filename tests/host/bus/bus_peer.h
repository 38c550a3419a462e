// A plain TCP client of a bus server in the tests: connects over loopback,
// opens the bus in raw mode and reads with a time limit.
#pragma once
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace norvane::testing {

// A plain TCP client of the server, reading with a time limit.
class BusPeer {
public:
    explicit BusPeer(uint16_t port, int receive_buffer = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receive_buffer)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~BusPeer() { close(); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    // "127.0.0.1:PORT": this end, as the server names the client.
    std::string local_address() const
    {
        sockaddr_in a{};
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    void send(const std::string& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
    // Reads until `text` has arrived (true) or 3 s passed.
    bool wait_for(const std::string& text, int limit_ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        while (seen_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return seen_.find(text) != std::string::npos;
            seen_.append(buffer, size_t(n));
        }
        return true;
    }
    // Whether the server closed the connection within the limit.
    bool closed_by_server(int limit_ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return true;
            seen_.append(buffer, size_t(n));
        }
        return false;
    }
    const std::string& seen() const { return seen_; }
    void forget() { seen_.clear(); }
    bool open_raw()
    {
        if (!wait_for("< hi >"))
            return false;
        send("< open can0 >");
        if (!wait_for("< ok >"))
            return false;
        forget();
        send("< rawmode >");
        const bool ok = wait_for("< ok >");
        forget();
        return ok;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string seen_;
};

}  // namespace norvane::testing
