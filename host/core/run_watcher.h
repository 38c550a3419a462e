#pragma once
#include <cstdint>
#include <functional>

#include "seam/can.h"
#include "seam/frame.h"

namespace norvane {

// Something that follows a run in virtual time (a scenario's expectations).
// The run calls it on its one thread, in order of unit time.
class run_watcher {
public:
    virtual ~run_watcher() = default;
    // Before the inputs and steps of unit millisecond t: `screen` is what the
    // window shows at t - 1 (the frame after the last main step at or before it).
    virtual void before(uint64_t t, const frame_buffer& screen) = 0;
    // The unit handed `frame` to port `port` in the main step at unit time `ms`.
    virtual void sent(uint8_t port, uint64_t ms, const can_frame& frame) = 0;
    // Someone else (the installation, the scenario, a bus-server client) put
    // `frame` on the bus of port `port` at unit time `ms`.
    virtual void heard(uint8_t port, uint64_t ms, const can_frame& frame)
    {
        (void)port, (void)ms, (void)frame;
    }
    // A run with the installation attached hands over how to read its
    // outputs: 1 lit, 0 dark (PWRB 0..7, output 0..7).
    virtual void attach_outputs(std::function<int(int pwrb, int output)> lit) { (void)lit; }
    // The run ended at `end_ms`, at its end or at the firmware's request.
    virtual void finished(uint64_t end_ms, bool firmware_exit) = 0;
};

}  // namespace norvane
