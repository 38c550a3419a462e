#include "host/core/virtual_clock.h"

#include <atomic>

#include "seam/unit.h"

namespace norvane {
namespace {
std::atomic<uint64_t> now_ms{0};
uint64_t read_virtual()
{
    return now_ms.load(std::memory_order_relaxed);
}
}  // namespace

void use_virtual_clock()
{
    hal_set_clock_source(read_virtual);
}

void use_monotonic_clock()
{
    hal_set_clock_source(hal_monotonic_ms);
}

uint64_t virtual_clock_ms()
{
    return now_ms.load(std::memory_order_relaxed);
}

void set_virtual_clock_ms(uint64_t ms)
{
    now_ms.store(ms, std::memory_order_relaxed);
}
}  // namespace norvane
