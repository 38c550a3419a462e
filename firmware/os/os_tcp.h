// The few host calls of the socketcand back end: a TCP connection made
// without blocking, read and written without blocking. Kept apart so the
// back end itself only speaks the protocol.
#pragma once
#include <cstddef>
#include <cstdint>

struct os_tcp_address {
    uint8_t bytes[128];  // a sockaddr_in or sockaddr_in6
    uint32_t length;
    int family;
};

// Resolves HOST and PORT (a number). 0, or -1 with a reason in `why`.
int os_tcp_resolve(const char* host, const char* port, os_tcp_address& out, const char*& why);
// Starts a connection; the socket, or -1 (errno says why).
int os_tcp_connect(const os_tcp_address& address);
// 1 when the connection stands, 0 while it is being made, -1 when it failed
// (errno says why).
int os_tcp_connect_result(int fd);
// Bytes read; 0 when none are waiting; -1 when the peer closed (errno 0) or
// the connection failed.
long os_tcp_read(int fd, char* buffer, size_t size);
// Bytes written (0 when the socket takes none now); -1 when the connection failed.
long os_tcp_write(int fd, const char* data, size_t size);
void os_tcp_close(int fd);
