#include "tick_load.h"

#include <atomic>
#include <windows.h>

namespace {

std::atomic<bool> hogs_stop{false};

DWORD WINAPI hog(void*)
{
    volatile uint64_t x = 0;
    while (!hogs_stop.load(std::memory_order_relaxed))
        x = x + 1;
    return 0;
}

}  // namespace

Hogs::Hogs(unsigned count)
{
    hogs_stop.store(false);
    const long cores = online_cores();
    for (unsigned i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, hog, nullptr, CREATE_SUSPENDED, nullptr);
        if (!thread)
            continue;
        SetThreadAffinityMask(thread, DWORD_PTR(1) << (i % unsigned(cores)));
        ResumeThread(thread);
        ids_.push_back(reinterpret_cast<intptr_t>(thread));
    }
}

Hogs::~Hogs()
{
    hogs_stop.store(true);
    for (intptr_t id : ids_) {
        WaitForSingleObject(reinterpret_cast<HANDLE>(id), INFINITE);
        CloseHandle(reinterpret_cast<HANDLE>(id));
    }
}

double thread_cpu_ms()
{
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 1e4;
}

long online_cores()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return long(info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1);
}

const char* realtime_priority_name()
{
    return "time-critical priority";
}
