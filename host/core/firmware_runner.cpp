#include "host/core/firmware_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <poll.h>
#include <sched.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "host/core/frame_convert.h"
#include "host/core/host_keys.h"
#include "host/core/unit_workdir.h"
#include "host/core/virtual_clock.h"
#include "seam/unit.h"
#include "seam/events.h"
#include "seam/unit.h"

namespace norvane {

uint64_t wait_timer(int fd, int limit_ms)
{
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, limit_ms);
    if (r <= 0 || !(p.revents & POLLIN))
        return 0;
    uint64_t expirations = 0;
    // Non-blocking: a timer disarmed between the poll and the read reads EAGAIN.
    if (::read(fd, &expirations, sizeof expirations) != sizeof expirations)
        return 0;
    return expirations;
}

bool raise_thread_priority()
{
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    const int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (err == 0)
        return true;
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        std::fprintf(stderr, "norvane: the 10 ms tick runs at normal priority (SCHED_FIFO refused: %s)\n",
                     std::strerror(err));
    return false;
}

FirmwareRunner::FirmwareRunner(RunnerHooks hooks) : hooks_(std::move(hooks))
{
    frame_timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    tick_timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

FirmwareRunner::~FirmwareRunner()
{
    stop();
    if (frame_timer_ >= 0)
        ::close(frame_timer_);
    if (tick_timer_ >= 0)
        ::close(tick_timer_);
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

void FirmwareRunner::arm(int fd, int period_ms)
{
    // Absolute expiries: the first one period from now, then every period on
    // the same schedule, so a late step does not shift the ones after it.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    itimerspec spec{};
    spec.it_interval.tv_nsec = long(period_ms) * 1000000L;
    spec.it_value = now;
    spec.it_value.tv_nsec += spec.it_interval.tv_nsec;
    if (spec.it_value.tv_nsec >= 1000000000L) {
        spec.it_value.tv_nsec -= 1000000000L;
        ++spec.it_value.tv_sec;
    }
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

bool FirmwareRunner::set_paused(bool paused)
{
    const bool previous = paused_.exchange(paused, std::memory_order_acq_rel);
    gfx_frame_taken();
    if (paused) {
        const itimerspec off{};
        ::timerfd_settime(frame_timer_, 0, &off, nullptr);
        ::timerfd_settime(tick_timer_, 0, &off, nullptr);
    } else {
        arm(frame_timer_, FRAME_PERIOD_MS);
        arm(tick_timer_, TICK_PERIOD_MS);
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
    const itimerspec off{};
    ::timerfd_settime(frame_timer_, 0, &off, nullptr);
    ::timerfd_settime(tick_timer_, 0, &off, nullptr);
}

void FirmwareRunner::firmware_thread()
{
    // app_start clears the key engine's tick-side state, so it runs before the
    // tick thread exists rather than beside it.
    app_start();
    std::thread tick([this] { tick_thread(); });
    bool exit_reported = false;
    while (!stop_.load(std::memory_order_acquire)) {
        if (wait_timer(frame_timer_, WAIT_LIMIT_MS) == 0 || exit_reported)
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
        const uint64_t due = wait_timer(tick_timer_, WAIT_LIMIT_MS);
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
