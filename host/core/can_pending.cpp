// Weak stand-ins for the CAN entry points the headless runner uses, so the
// runner links before the CAN ports land. The real definitions (firmware/can)
// replace them; delete this file once they are in.
#include "can/can_port.h"
#include "can/can_virtual.h"
#include "runtime/hal.h"

__attribute__((weak)) int hal_can_map_port(uint8_t, const char*, char*, uint32_t)
{
    return 1;
}

__attribute__((weak)) int can_virtual_inject(uint8_t, const can_frame&)
{
    return 0;
}

__attribute__((weak)) void can_set_send_observer(can_send_observer, void*) {}
