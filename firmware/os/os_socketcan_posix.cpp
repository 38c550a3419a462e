#include "os/os_socketcan.h"

#include <cstring>
#include <fcntl.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

const char* os_can_socket_unavailable()
{
    return nullptr;
}

int os_can_socket_open(const char* iface)
{
    if (!iface || std::strlen(iface) >= IFNAMSIZ)
        return -1;
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0)
        return -1;
    ifreq request{};
    std::strncpy(request.ifr_name, iface, IFNAMSIZ - 1);
    sockaddr_can address{};
    address.can_family = AF_CAN;
    if (::ioctl(fd, SIOCGIFINDEX, &request) < 0 ||
        (address.can_ifindex = request.ifr_ifindex,
         ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void os_can_socket_close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int os_can_socket_write(int fd, const os_can_socket_frame& frame)
{
    ::can_frame raw{};
    raw.can_id = frame.ext ? (frame.id & CAN_EFF_MASK) | CAN_EFF_FLAG : frame.id & CAN_SFF_MASK;
    if (frame.rtr)
        raw.can_id |= CAN_RTR_FLAG;
    raw.can_dlc = frame.len > 8 ? 8 : frame.len;
    std::memcpy(raw.data, frame.data, raw.can_dlc);
    return ::write(fd, &raw, sizeof raw) == ssize_t(sizeof raw) ? 0 : -1;
}

int os_can_socket_read(int fd, os_can_socket_frame& frame)
{
    ::can_frame raw{};
    const ssize_t n = ::read(fd, &raw, sizeof raw);
    if (n != ssize_t(sizeof raw))
        return -1;
    frame = os_can_socket_frame{};
    frame.ext = uint8_t((raw.can_id & CAN_EFF_FLAG) ? 1 : 0);
    frame.id = frame.ext ? raw.can_id & CAN_EFF_MASK : raw.can_id & CAN_SFF_MASK;
    frame.rtr = uint8_t((raw.can_id & CAN_RTR_FLAG) ? 1 : 0);
    frame.len = uint8_t(raw.can_dlc > 8 ? 8 : raw.can_dlc);
    std::memcpy(frame.data, raw.data, frame.len);
    return 0;
}
