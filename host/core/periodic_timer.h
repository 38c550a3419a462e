// The real-time runner's pacing: a periodic timer with absolute expiries (a
// late wait does not shift the ones after it) that counts the periods that
// passed, and the tick thread's priority. periodic_timer_posix.cpp (timerfd
// on CLOCK_MONOTONIC, SCHED_FIFO) and periodic_timer_windows.cpp (a
// high-resolution waitable timer, THREAD_PRIORITY_TIME_CRITICAL).
#pragma once
#include <cstdint>

namespace norvane {

class PeriodicTimer {
public:
    PeriodicTimer();
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Expiries every `period_ms`, the first one period from now.
    void arm(int period_ms);
    void disarm();
    // Waits for at most `limit_ms`; the number of expirations since the last
    // wait (0 on time-out or while disarmed). Any thread may arm or disarm
    // while another waits.
    uint64_t wait(int limit_ms);

private:
    struct state;
    state* state_;
};

// Asks the system for real-time priority for the calling thread. On refusal
// the thread stays at normal priority and one line goes to standard error
// (once per process).
bool raise_thread_priority();

}  // namespace norvane
