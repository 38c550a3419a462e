#include "host/core/periodic_timer.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace norvane {

struct PeriodicTimer::state {
    int fd = -1;
};

PeriodicTimer::PeriodicTimer() : state_(new state)
{
    state_->fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

PeriodicTimer::~PeriodicTimer()
{
    if (state_->fd >= 0)
        ::close(state_->fd);
    delete state_;
}

void PeriodicTimer::arm(int period_ms)
{
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
    ::timerfd_settime(state_->fd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void PeriodicTimer::disarm()
{
    const itimerspec off{};
    ::timerfd_settime(state_->fd, 0, &off, nullptr);
}

uint64_t PeriodicTimer::wait(int limit_ms)
{
    pollfd p{state_->fd, POLLIN, 0};
    const int r = ::poll(&p, 1, limit_ms);
    if (r <= 0 || !(p.revents & POLLIN))
        return 0;
    uint64_t expirations = 0;
    // Non-blocking: a timer disarmed between the poll and the read reads EAGAIN.
    if (::read(state_->fd, &expirations, sizeof expirations) != sizeof expirations)
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

}  // namespace norvane
