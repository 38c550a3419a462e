// The bus server's sockets: listening, accepting, non-blocking reads and
// writes, waiting on many sockets at once, and a waker other threads use to
// end that wait early. bus_socket_posix.cpp and bus_socket_windows.cpp
// (Winsock) implement it; sockets travel as ints.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvane {

// Listens on HOST:PORT (PORT 0: any free port), non-blocking. The socket, or
// -1 with `why` saying why; `address_error` tells a name that did not
// resolve from a listen that failed. `bound_port` is the port taken.
int bus_socket_listen(const std::string& host, uint16_t port, uint16_t& bound_port, std::string& why,
                      bool& address_error);
// A new connection, non-blocking and with Nagle's delay off, and the peer's
// "host:port" ("[v6]:port"); -1 when none is waiting.
int bus_socket_accept(int listener, std::string& peer);
// Bytes read; 0 when the peer closed; -1 when nothing is waiting
// (`failed` false) or the connection failed (`failed` true).
long bus_socket_read(int fd, char* buffer, size_t size, bool& failed);
// Bytes written, never raising a signal; -1 when the socket takes none now
// (`failed` false) or the connection failed (`failed` true).
long bus_socket_write(int fd, const char* data, size_t size, bool& failed);
void bus_socket_close(int fd);

enum : short { BUS_WAIT_IN = 1, BUS_WAIT_OUT = 2, BUS_WAIT_GONE = 4 };
struct bus_wait_entry {
    int fd;
    short want;  // BUS_WAIT_IN | BUS_WAIT_OUT
    short got;   // set by bus_socket_wait; BUS_WAIT_GONE on a hang-up or error
};
// Waits until an entry is ready or `limit_ms` passed.
void bus_socket_wait(std::vector<bus_wait_entry>& entries, int limit_ms);

// A waker: wake() from any thread makes its fd ready for reading in
// bus_socket_wait until drain().
struct bus_waker {
    int fd = -1;
    int write_fd = -1;
};
// False with `why` when the system gave no waker.
bool bus_waker_open(bus_waker& waker, std::string& why);
// Wakes through the waker's write_fd (kept where other threads reach it).
void bus_waker_wake(int write_fd);
void bus_waker_drain(const bus_waker& waker);
void bus_waker_close(bus_waker& waker);

}  // namespace norvane
