#include "host/core/virtual_stepper.h"

#include "host/core/host_keys.h"
#include "host/core/virtual_clock.h"
#include "seam/unit.h"

namespace norvane {

VirtualStepper::VirtualStepper()
{
    set_virtual_clock_ms(0);
    use_virtual_clock();
    host_keys_reset();
    app_init();
    app_start();
}

void VirtualStepper::set_key(int button, bool down)
{
    host_key_set(button, down);
}

void VirtualStepper::run_until(uint64_t t_end, const std::function<void(uint64_t)>& before)
{
    while (now_ < t_end && !stopped_) {
        const uint64_t t = ++now_;
        set_virtual_clock_ms(t);
        if (before)
            before(t);
        if (t % 10 == 0) {
            host_keys_before_tick();
            sys_tick();
            host_keys_after_tick();
            ++ticks_;
        }
        if (t % 25 == 0) {
            if (frame_wanted && !frame_wanted(t))
                gfx_skip_next_compose();
            app_main_step();
            ++main_steps_;
            gfx_frame_taken();
            if (after_step)
                after_step(t);
        }
    }
}

void VirtualStepper::tap(int button, uint64_t hold_ms)
{
    set_key(button, true);
    advance(hold_ms);
    set_key(button, false);
}

}  // namespace norvane
