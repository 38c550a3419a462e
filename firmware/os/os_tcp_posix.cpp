#include "os/os_tcp.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int os_tcp_resolve(const char* host, const char* port, os_tcp_address& out, const char*& why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host, port, &hints, &found);
    if (rc != 0 || !found) {
        why = rc ? ::gai_strerror(rc) : "no address";
        return -1;
    }
    out = os_tcp_address{};
    std::memcpy(out.bytes, found->ai_addr, found->ai_addrlen < sizeof out.bytes ? found->ai_addrlen : sizeof out.bytes);
    out.length = uint32_t(found->ai_addrlen);
    out.family = found->ai_family;
    ::freeaddrinfo(found);
    return 0;
}

int os_tcp_connect(const os_tcp_address& address)
{
    const int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.bytes), address.length) == 0 || errno == EINPROGRESS)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

int os_tcp_connect_result(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0)
        return 0;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0)
        return 1;
    errno = error;
    return -1;
}

long os_tcp_read(int fd, char* buffer, size_t size)
{
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (n > 0)
        return long(n);
    if (n == 0) {
        errno = 0;
        return -1;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long os_tcp_write(int fd, const char* data, size_t size)
{
    const ssize_t n = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0)
        return long(n);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void os_tcp_close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}
