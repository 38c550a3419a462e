// SocketCAN back end: a Linux CAN interface ("socketcan:can0") through a raw
// socket. The interface's bit rate belongs to the system (ip link), so a rate
// set here is only kept.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "can/can_backend.h"
#include "os/os_socketcan.h"
#include "platform/hal.h"

namespace {

struct socketcan_port {
    int fd = -1;
    uint32_t bit_rate = 250000;
};

socketcan_port sockets[CAN_PORT_COUNT];

int socketcan_open(uint8_t port)
{
    socketcan_port& s = sockets[port];
    if (s.fd >= 0)
        return 0;
    if (const char* why = os_can_socket_unavailable()) {
        can_port_fail_reason(port, why);
        return -1;
    }
    s.fd = os_can_socket_open(can_port_device(port));
    if (s.fd < 0) {
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason, "SocketCAN interface %s: %s",
                      can_port_device(port) ? can_port_device(port) : "(none)", std::strerror(errno));
        can_port_fail_reason(port, reason);
        return -1;
    }
    return 0;
}

int socketcan_set_bitrate(uint8_t port, uint32_t bit_rate)
{
    sockets[port].bit_rate = bit_rate;
    return 0;
}

int socketcan_send(uint8_t port, const can_frame* frame)
{
    const socketcan_port& s = sockets[port];
    if (s.fd < 0)
        return -1;
    os_can_socket_frame raw{frame->id, frame->ext, frame->rtr, frame->len, {}};
    std::memcpy(raw.data, frame->data, sizeof raw.data);
    return os_can_socket_write(s.fd, raw);
}

int socketcan_receive(uint8_t port, can_frame* frame)
{
    const socketcan_port& s = sockets[port];
    os_can_socket_frame raw;
    if (s.fd < 0 || os_can_socket_read(s.fd, raw) != 0)
        return -1;
    *frame = can_frame{};
    frame->id = raw.id;
    frame->ext = raw.ext;
    frame->rtr = raw.rtr;
    frame->len = raw.len;
    std::memcpy(frame->data, raw.data, sizeof raw.data);
    frame->time_us = hal_us_clock();
    return 0;
}

// Linux interface names are at most 15 characters.
const char* check_iface(std::string_view arg)
{
    if (arg.empty() || arg.size() > 15 || arg.find('/') != std::string_view::npos)
        return "a SocketCAN interface name of 1 to 15 characters is needed";
    return nullptr;
}

void socketcan_reset()
{
    for (socketcan_port& s : sockets) {
        if (s.fd >= 0)
            os_can_socket_close(s.fd);
        s = socketcan_port{};
    }
}

}  // namespace

extern const can_backend can_backend_socketcan = {
    .name = "socketcan",
    .form = "socketcan:IFACE",
    .help = "a Linux SocketCAN interface",
    .arg = CAN_ARG_REQUIRED,
    .check_arg = check_iface,
    .open = socketcan_open,
    .set_bitrate = socketcan_set_bitrate,
    .send = socketcan_send,
    .receive = socketcan_receive,
    .reset = socketcan_reset,
};
