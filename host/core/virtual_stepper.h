#pragma once
#include <cstdint>
#include <functional>

#include "seam/frame.h"

namespace norvane {

// The frame the main step at `step_ms` composes is the one frame() gives from
// the next main step on until the one after: at unit times `ms` in
// [step_ms + 25, step_ms + 50). The host shows one presentation behind.
constexpr bool step_frame_shown_at(uint64_t step_ms, uint64_t ms)
{
    return ms >= step_ms + 25 && ms < step_ms + 50;
}

// Drives the firmware in virtual time on one thread, deterministically. For
// each unit millisecond t it applies the input due at t, runs sys_tick when t
// is a multiple of 10 and app_main_step when t is a multiple of 25, taking
// every presented frame at once.
class VirtualStepper {
public:
    // Selects the virtual clock at 0 and runs app_init and app_start. The
    // working folder must have been prepared (prepare_unit_workdir).
    VirtualStepper();

    uint64_t now() const { return now_; }

    // Button 1..5 (F1..F5) goes down or up, by the window's rule
    // (host_keys.h): a press stays down until a tick has sampled it.
    static void set_key(int button, bool down);

    // Runs until unit time `t_end`. `before` runs at each millisecond before
    // the tick and the main step (scenario actions); `after_step` runs after
    // each main step once its frame was taken.
    void run_until(uint64_t t_end, const std::function<void(uint64_t)>& before = {});
    void advance(uint64_t ms, const std::function<void(uint64_t)>& before = {})
    {
        run_until(now_ + ms, before);
    }
    // Ends run_until after the current millisecond (the firmware asked to
    // end); later run_until calls return at once.
    void stop() { stopped_ = true; }
    bool stopped() const { return stopped_; }
    // Presses button n for `hold_ms` milliseconds, then releases it.
    void tap(int button, uint64_t hold_ms = 100);

    std::function<void(uint64_t)> after_step;
    // Asked before the main step at unit time t: will anyone look at the frame
    // it composes (see step_frame_shown_at)? When the answer is no, the step
    // flips without composing. Empty: every frame is composed.
    std::function<bool(uint64_t)> frame_wanted;

    // The frame the window would show: gfx_front_buffer after the last step.
    // On this one thread the front buffer stays as it is until the next main
    // step composes into it, so it is handed out without a copy.
    const frame_buffer& frame() const { return *gfx_front_buffer(); }
    uint64_t main_steps() const { return main_steps_; }
    uint64_t ticks() const { return ticks_; }

private:
    uint64_t now_ = 0;
    uint64_t main_steps_ = 0;
    uint64_t ticks_ = 0;
    bool stopped_ = false;
};

}  // namespace norvane
