// Winsock. The waker is a pair of connected loopback UDP sockets: WSAPoll
// waits on sockets only, and a datagram makes the reading one ready.
#include "host/bus/bus_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace norvane {

namespace {

bool winsock_ready()
{
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

std::string winsock_error(int code)
{
    char text[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "Winsock error " + std::to_string(code) : s;
}

void set_nonblocking(SOCKET s)
{
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

bool would_block(int code)
{
    return code == WSAEWOULDBLOCK || code == WSAEINTR || code == WSAEINPROGRESS;
}

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
    if (!winsock_ready()) {
        why = "Winsock did not start";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        why = gai_strerrorA(rc);
        address_error = true;
        return -1;
    }
    SOCKET s = INVALID_SOCKET;
    why = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            why = winsock_error(WSAGetLastError());
            continue;
        }
        // Windows' SO_REUSEADDR would let another program take the port too;
        // exclusive use is what Linux's listen gives.
        const BOOL on = TRUE;
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        if (::bind(s, a->ai_addr, int(a->ai_addrlen)) == 0 && ::listen(s, 16) == 0)
            break;
        why = winsock_error(WSAGetLastError());
        ::closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    if (s == INVALID_SOCKET)
        return -1;
    set_nonblocking(s);
    sockaddr_storage bound{};
    int length = sizeof bound;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
    bound_port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                             : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return int(s);
}

int bus_socket_accept(int listener, std::string& peer)
{
    sockaddr_storage address{};
    int length = sizeof address;
    const SOCKET s = ::accept(SOCKET(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET)
        return -1;
    set_nonblocking(s);
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    peer = peer_name(address);
    return int(s);
}

long bus_socket_read(int fd, char* buffer, size_t size, bool& failed)
{
    const int n = ::recv(SOCKET(fd), buffer, int(size), 0);
    failed = n < 0 && !would_block(WSAGetLastError());
    return long(n);
}

long bus_socket_write(int fd, const char* data, size_t size, bool& failed)
{
    const int n = ::send(SOCKET(fd), data, int(size), 0);
    failed = n < 0 && !would_block(WSAGetLastError());
    return long(n);
}

void bus_socket_close(int fd)
{
    if (fd >= 0)
        ::closesocket(SOCKET(fd));
}

void bus_socket_wait(std::vector<bus_wait_entry>& entries, int limit_ms)
{
    std::vector<WSAPOLLFD> fds;
    fds.reserve(entries.size());
    for (const bus_wait_entry& e : entries)
        fds.push_back({SOCKET(e.fd),
                       short(((e.want & BUS_WAIT_IN) ? POLLRDNORM : 0) | ((e.want & BUS_WAIT_OUT) ? POLLWRNORM : 0)),
                       0});
    const int ready = ::WSAPoll(fds.data(), ULONG(fds.size()), limit_ms);
    for (size_t i = 0; i < entries.size(); ++i) {
        const short r = ready > 0 ? fds[i].revents : 0;
        entries[i].got = short(((r & POLLRDNORM) ? BUS_WAIT_IN : 0) | ((r & POLLWRNORM) ? BUS_WAIT_OUT : 0) |
                               ((r & (POLLHUP | POLLERR | POLLNVAL)) ? BUS_WAIT_GONE : 0));
    }
}

bool bus_waker_open(bus_waker& waker, std::string& why)
{
    if (!winsock_ready()) {
        why = "Winsock did not start";
        return false;
    }
    SOCKET reader = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    SOCKET writer = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (reader == INVALID_SOCKET || writer == INVALID_SOCKET ||
        ::bind(reader, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(reader, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        why = "no loopback socket pair: " + winsock_error(WSAGetLastError());
        if (reader != INVALID_SOCKET)
            ::closesocket(reader);
        if (writer != INVALID_SOCKET)
            ::closesocket(writer);
        return false;
    }
    set_nonblocking(reader);
    set_nonblocking(writer);
    waker.fd = int(reader);
    waker.write_fd = int(writer);
    return true;
}

void bus_waker_wake(int write_fd)
{
    if (write_fd < 0)
        return;
    const char one = 1;
    ::send(SOCKET(write_fd), &one, 1, 0);
}

void bus_waker_drain(const bus_waker& waker)
{
    char buffer[64];
    while (::recv(SOCKET(waker.fd), buffer, sizeof buffer, 0) > 0) {
    }
}

void bus_waker_close(bus_waker& waker)
{
    if (waker.fd >= 0)
        ::closesocket(SOCKET(waker.fd));
    if (waker.write_fd >= 0)
        ::closesocket(SOCKET(waker.write_fd));
    waker = bus_waker{};
}

}  // namespace norvane
