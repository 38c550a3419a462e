#include "tick_load.h"

#include <algorithm>
#include <csignal>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

Hogs::Hogs(unsigned count)
{
    const long cores = online_cores();
    const pid_t parent = ::getpid();
    for (unsigned i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(0);
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(int(i % unsigned(cores)), &set);
            ::sched_setaffinity(0, sizeof set, &set);
            volatile uint64_t x = 0;
            for (;;)
                x = x + 1;
        }
        if (pid > 0)
            ids_.push_back(pid);
    }
}

Hogs::~Hogs()
{
    for (intptr_t pid : ids_)
        ::kill(pid_t(pid), SIGKILL);
    for (intptr_t pid : ids_)
        ::waitpid(pid_t(pid), nullptr, 0);
}

double thread_cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

long online_cores()
{
    return std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
}

const char* realtime_priority_name()
{
    return "SCHED_FIFO";
}
