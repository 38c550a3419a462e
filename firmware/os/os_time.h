// The host's clock and sleeping, for the platform layer and the back ends
// that wait on an adapter.
#pragma once
#include <cstdint>

uint64_t os_monotonic_ms();  // a steady clock in milliseconds
void os_sleep_ms(uint32_t ms);
