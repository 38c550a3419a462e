// The socketcand back end's TCP connection through Winsock. Sockets travel
// as ints: Windows' socket handles are small numbers that fit. Failures set
// errno from the Winsock error, so the back end's messages read as on Linux.
#include "os/os_tcp.h"

#include <cerrno>
#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

bool winsock_ready()
{
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

void set_errno_from_winsock(int code)
{
    switch (code) {
    case 0: errno = 0; break;
    case WSAECONNREFUSED: errno = ECONNREFUSED; break;
    case WSAECONNRESET: errno = ECONNRESET; break;
    case WSAECONNABORTED: errno = ECONNABORTED; break;
    case WSAETIMEDOUT: errno = ETIMEDOUT; break;
    case WSAEHOSTUNREACH: errno = EHOSTUNREACH; break;
    case WSAENETUNREACH: errno = ENETUNREACH; break;
    case WSAEADDRNOTAVAIL: errno = EADDRNOTAVAIL; break;
    case WSAENOTCONN: errno = ENOTCONN; break;
    default: errno = EIO; break;
    }
}

bool would_block(int code)
{
    return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS || code == WSAEINTR;
}

}  // namespace

int os_tcp_resolve(const char* host, const char* port, os_tcp_address& out, const char*& why)
{
    if (!winsock_ready()) {
        why = "Winsock did not start";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host, port, &hints, &found);
    if (rc != 0 || !found) {
        why = rc ? ::gai_strerrorA(rc) : "no address";
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
    if (!winsock_ready()) {
        errno = EIO;
        return -1;
    }
    const SOCKET s = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        set_errno_from_winsock(WSAGetLastError());
        return -1;
    }
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.bytes), int(address.length)) == 0 ||
        would_block(WSAGetLastError()))
        return int(s);
    const int error = WSAGetLastError();
    ::closesocket(s);
    set_errno_from_winsock(error);
    return -1;
}

int os_tcp_connect_result(int fd)
{
    WSAPOLLFD p{SOCKET(fd), POLLOUT, 0};
    if (::WSAPoll(&p, 1, 0) <= 0)
        return 0;
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(SOCKET(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        error = WSAGetLastError();
    if (error == 0 && !(p.revents & (POLLERR | POLLHUP)))
        return 1;
    set_errno_from_winsock(error ? error : WSAECONNREFUSED);
    return -1;
}

long os_tcp_read(int fd, char* buffer, size_t size)
{
    const int n = ::recv(SOCKET(fd), buffer, int(size), 0);
    if (n > 0)
        return long(n);
    if (n == 0) {
        errno = 0;
        return -1;
    }
    const int error = WSAGetLastError();
    if (would_block(error))
        return 0;
    set_errno_from_winsock(error);
    return -1;
}

long os_tcp_write(int fd, const char* data, size_t size)
{
    const int n = ::send(SOCKET(fd), data, int(size), 0);
    if (n >= 0)
        return long(n);
    const int error = WSAGetLastError();
    if (would_block(error))
        return 0;
    set_errno_from_winsock(error);
    return -1;
}

void os_tcp_close(int fd)
{
    if (fd >= 0)
        ::closesocket(SOCKET(fd));
}
