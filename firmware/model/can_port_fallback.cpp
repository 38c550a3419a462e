// Stand-ins for the port operations the model needs at start-up, used only
// while the port layer does not define them yet; its definitions replace
// these at link time. Delete this file once the port layer has landed.
#include "can/can_port.h"

__attribute__((weak)) int can_port_set_bitrate(uint8_t, uint32_t)
{
    return -1;
}

__attribute__((weak)) int can_port_open(uint8_t)
{
    return -1;
}
