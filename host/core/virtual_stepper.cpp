#include "host/core/virtual_stepper.h"

#include "host/core/virtual_clock.h"
#include "runtime/app.h"
#include "runtime/keys.h"

namespace norvane {

VirtualStepper::VirtualStepper()
{
    set_virtual_clock_ms(0);
    use_virtual_clock();
    app_init();
    app_start();
}

void VirtualStepper::set_key(int button, bool down)
{
    if (button < 1 || button > KEY_COUNT)
        return;
    const uint8_t bit = uint8_t(1u << (button - 1));
    if (down)
        key_input_mask.fetch_or(bit, std::memory_order_relaxed);
    else
        key_input_mask.fetch_and(uint8_t(~bit), std::memory_order_relaxed);
}

void VirtualStepper::run_until(uint64_t t_end, const std::function<void(uint64_t)>& before)
{
    while (now_ < t_end && !stopped_) {
        const uint64_t t = ++now_;
        set_virtual_clock_ms(t);
        if (before)
            before(t);
        if (t % 10 == 0) {
            sys_tick();
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
