#include "host/core/firmware_runner.h"

#include <cstdio>

#include "host/core/frame_convert.h"
#include "host/core/host_keys.h"
#include "host/core/unit_workdir.h"
#include "host/core/virtual_clock.h"
#include "seam/unit.h"
#include "seam/events.h"
#include "seam/unit.h"

namespace norvane {

FirmwareRunner::FirmwareRunner(RunnerHooks hooks) : hooks_(std::move(hooks)) {}

FirmwareRunner::~FirmwareRunner()
{
    stop();
}

void FirmwareRunner::init()
{
    create_unit_roots();
    use_monotonic_clock();
    host_keys_reset();
    app_init();
    initialised_.store(true, std::memory_order_release);
}

void FirmwareRunner::start()
{
    if (!initialised_.load(std::memory_order_acquire) || firmware_.joinable())
        return;
    firmware_ = std::thread([this] { firmware_thread(); });
}

bool FirmwareRunner::set_paused(bool paused)
{
    const bool previous = paused_.exchange(paused, std::memory_order_acq_rel);
    gfx_frame_taken();
    if (paused) {
        frame_timer_.disarm();
        tick_timer_.disarm();
    } else {
        // Absolute expiries: the first one period from now, then every period
        // on the same schedule, so a late step does not shift the ones after it.
        frame_timer_.arm(FRAME_PERIOD_MS);
        tick_timer_.arm(TICK_PERIOD_MS);
    }
    return previous;
}

void FirmwareRunner::stop()
{
    if (!initialised_.exchange(false, std::memory_order_acq_rel))
        return;
    stop_.store(true, std::memory_order_release);
    // A main step waiting for its frame to be taken must see the flag too.
    gfx_frame_taken();
    if (firmware_.joinable())
        firmware_.join();
    frame_timer_.disarm();
    tick_timer_.disarm();
}

void FirmwareRunner::firmware_thread()
{
    // app_start clears the key engine's tick-side state, so it runs before the
    // tick thread exists rather than beside it.
    app_start();
    std::thread tick([this] { tick_thread(); });
    bool exit_reported = false;
    while (!stop_.load(std::memory_order_acquire)) {
        if (frame_timer_.wait(WAIT_LIMIT_MS) == 0 || exit_reported)
            continue;
        // A step already due when the host paused is not run.
        if (paused_.load(std::memory_order_acquire) || stop_.load(std::memory_order_acquire))
            continue;
        app_main_step();
        main_steps_.fetch_add(1, std::memory_order_relaxed);
        if (hooks_.take_frame) {
            hooks_.take_frame(*gfx_front_buffer());
            gfx_frame_taken();
        }
        if (hooks_.after_step)
            hooks_.after_step();
        if (hooks_.repaint)
            hooks_.repaint();
        if (sys_exit_requested() != 0) {
            exit_reported = true;
            if (hooks_.exit_requested)
                hooks_.exit_requested(sys_exit_code());
        }
    }
    tick.join();
}

void FirmwareRunner::tick_thread()
{
    if (realtime_priority_)
        raise_thread_priority();
    while (!stop_.load(std::memory_order_acquire)) {
        const uint64_t due = tick_timer_.wait(WAIT_LIMIT_MS);
        if (due == 0 || paused_.load(std::memory_order_acquire))
            continue;
        const uint64_t run = due < TICK_CATCH_UP ? due : TICK_CATCH_UP;
        for (uint64_t i = 0; i < run && !stop_.load(std::memory_order_relaxed); ++i) {
            host_keys_before_tick();
            sys_tick();
            host_keys_after_tick();
            ticks_.fetch_add(1, std::memory_order_relaxed);
        }
        if (due > run)
            lost_ticks_.fetch_add(due - run, std::memory_order_relaxed);
    }
}

void FirmwareRunner::present(uint8_t* image, ImageRows rows)
{
    const gfx_color* frame = gfx_front_buffer()->pixels;
    if (rows == ImageRows::bottom_up)
        convert_frame_bottom_up(frame, image);
    else
        convert_frame_top_down(frame, image);
    gfx_frame_taken();
}

RunnerStats FirmwareRunner::stats() const
{
    return {main_steps_.load(std::memory_order_relaxed), ticks_.load(std::memory_order_relaxed),
            lost_ticks_.load(std::memory_order_relaxed)};
}

}  // namespace norvane
