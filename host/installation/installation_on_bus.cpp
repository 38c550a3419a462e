#include "host/installation/installation_on_bus.h"

#include <cstring>

namespace installation {

bool installation_hears(const norvane::bus_event& e)
{
    return e.port == 0 && !(e.direction == norvane::bus_direction::to_unit && std::strcmp(e.source, INSTALLATION_SOURCE) == 0);
}

uint64_t step_installation_on_hub(plant& p, norvane::bus_hub& hub, uint32_t now_ms)
{
    hub.pump(0);
    if (p.step(now_ms) == 0)
        return 0;  // nothing queued: every frame of the last pass was taken then
    uint64_t refused = 0;
    can_frame frame;
    while (p.take_frame(&frame))
        if (hub.inject(0, frame, INSTALLATION_SOURCE) != 0)
            ++refused;
    return refused;
}

}  // namespace installation
