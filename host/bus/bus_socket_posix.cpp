#include "host/bus/bus_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norvane {

namespace {

std::string peer_name(const sockaddr_storage& address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
        return std::string("[") + host + "]:" + std::to_string(port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

int bus_socket_listen(const std::string& host, uint16_t port, uint16_t& bound_port, std::string& why,
                      bool& address_error)
{
    address_error = false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        why = gai_strerror(rc);
        address_error = true;
        return -1;
    }
    int fd = -1;
    why = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 16) == 0)
            break;
        why = std::strerror(errno);
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0)
        return -1;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    bound_port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                             : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

int bus_socket_accept(int listener, std::string& peer)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    peer = peer_name(address);
    return fd;
}

long bus_socket_read(int fd, char* buffer, size_t size, bool& failed)
{
    const ssize_t n = ::recv(fd, buffer, size, 0);
    failed = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    return long(n);
}

long bus_socket_write(int fd, const char* data, size_t size, bool& failed)
{
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    failed = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    return long(n);
}

void bus_socket_close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

void bus_socket_wait(std::vector<bus_wait_entry>& entries, int limit_ms)
{
    std::vector<pollfd> fds;
    fds.reserve(entries.size());
    for (const bus_wait_entry& e : entries)
        fds.push_back({e.fd, short(((e.want & BUS_WAIT_IN) ? POLLIN : 0) | ((e.want & BUS_WAIT_OUT) ? POLLOUT : 0)), 0});
    const int ready = ::poll(fds.data(), fds.size(), limit_ms);
    for (size_t i = 0; i < entries.size(); ++i) {
        const short r = ready > 0 ? fds[i].revents : 0;
        entries[i].got = short(((r & POLLIN) ? BUS_WAIT_IN : 0) | ((r & POLLOUT) ? BUS_WAIT_OUT : 0) |
                               ((r & (POLLHUP | POLLERR)) ? BUS_WAIT_GONE : 0));
    }
}

bool bus_waker_open(bus_waker& waker, std::string& why)
{
    waker.fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    waker.write_fd = waker.fd;
    if (waker.fd < 0) {
        why = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void bus_waker_wake(int write_fd)
{
    if (write_fd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(write_fd, &one, sizeof one);
}

void bus_waker_drain(const bus_waker& waker)
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(waker.fd, &count, sizeof count);
}

void bus_waker_close(bus_waker& waker)
{
    if (waker.fd >= 0)
        ::close(waker.fd);
    waker = bus_waker{};
}

}  // namespace norvane
