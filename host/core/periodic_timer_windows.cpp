// A waitable timer of high resolution (Windows 10 1803 on; elsewhere a
// plain one with the system's timer period lowered to 1 ms) set to each
// expiry in turn. The schedule is kept here in performance-counter time, so
// the expirations that passed while nobody waited are counted as a timerfd
// counts them.
#include "host/core/periodic_timer.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <windows.h>
#include <timeapi.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace norvane {

namespace {

int64_t counter_now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t counter_frequency()
{
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

}  // namespace

struct PeriodicTimer::state {
    HANDLE timer = nullptr;
    bool high_resolution = false;
    std::mutex lock;        // the schedule below, between arm/disarm and wait
    bool armed = false;
    int64_t period = 0;     // in counter units
    int64_t next_due = 0;   // the next expiry not yet counted
};

PeriodicTimer::PeriodicTimer() : state_(new state)
{
    state_->timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    state_->high_resolution = state_->timer != nullptr;
    if (!state_->timer) {
        state_->timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        timeBeginPeriod(1);
    }
}

PeriodicTimer::~PeriodicTimer()
{
    if (state_->timer)
        CloseHandle(state_->timer);
    if (!state_->high_resolution)
        timeEndPeriod(1);
    delete state_;
}

namespace {

// Sets the timer to fire at the counter time `due` (relative, in 100 ns).
void set_timer(HANDLE timer, int64_t due)
{
    const int64_t left = due - counter_now();
    LARGE_INTEGER when;
    when.QuadPart = -(left > 0 ? left * 10000000 / counter_frequency() : 1);
    if (when.QuadPart == 0)
        when.QuadPart = -1;
    SetWaitableTimer(timer, &when, 0, nullptr, nullptr, FALSE);
}

}  // namespace

void PeriodicTimer::arm(int period_ms)
{
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->period = counter_frequency() * period_ms / 1000;
    state_->next_due = counter_now() + state_->period;
    state_->armed = true;
    set_timer(state_->timer, state_->next_due);
}

void PeriodicTimer::disarm()
{
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->armed = false;
    CancelWaitableTimer(state_->timer);
}

uint64_t PeriodicTimer::wait(int limit_ms)
{
    if (WaitForSingleObject(state_->timer, DWORD(limit_ms)) != WAIT_OBJECT_0)
        return 0;
    std::lock_guard<std::mutex> hold(state_->lock);
    const int64_t now = counter_now();
    if (!state_->armed)
        return 0;
    if (now < state_->next_due) {  // woken a hair early: wait for the rest
        set_timer(state_->timer, state_->next_due);
        return 0;
    }
    const uint64_t expirations = uint64_t((now - state_->next_due) / state_->period) + 1;
    state_->next_due += int64_t(expirations) * state_->period;
    set_timer(state_->timer, state_->next_due);
    return expirations;
}

bool raise_thread_priority()
{
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
        return true;
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        std::fprintf(stderr, "norvane: the 10 ms tick runs at normal priority (time-critical priority refused: "
                             "error %lu)\n", GetLastError());
    return false;
}

}  // namespace norvane
