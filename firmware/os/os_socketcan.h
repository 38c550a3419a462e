// The few host calls of the SocketCAN back end: a raw CAN socket on a Linux
// network interface, non-blocking. Kept apart from the port layer because the
// kernel's header has a can_frame of its own.
#pragma once
#include <cstdint>

struct os_can_socket_frame {
    uint32_t id;
    uint8_t ext;
    uint8_t rtr;
    uint8_t len;
    uint8_t data[8];
};

// nullptr where the system has SocketCAN; else why it has none.
const char* os_can_socket_unavailable();
// A bound, non-blocking CAN_RAW socket on the interface; -1 on failure.
int os_can_socket_open(const char* iface);
void os_can_socket_close(int fd);
// 0 when the frame was handed to the interface, -1 otherwise.
int os_can_socket_write(int fd, const os_can_socket_frame& frame);
// 0 with a frame, -1 when none is waiting.
int os_can_socket_read(int fd, os_can_socket_frame& frame);
