// SocketCAN is a part of the Linux kernel: on Windows every call fails and
// the back end says why.
#include "os/os_socketcan.h"

#include <cerrno>

const char* os_can_socket_unavailable()
{
    return "SocketCAN is available on Linux only";
}

int os_can_socket_open(const char*)
{
    errno = ENOSYS;
    return -1;
}

void os_can_socket_close(int) {}

int os_can_socket_write(int, const os_can_socket_frame&)
{
    return -1;
}

int os_can_socket_read(int, os_can_socket_frame&)
{
    return -1;
}
