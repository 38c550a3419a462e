#pragma once
#include <cstdint>

// The unit's clock in virtual time: the stepper advances it, the platform
// layer reads it through hal_set_clock_source.
namespace norvane {
void use_virtual_clock();
void use_monotonic_clock();
uint64_t virtual_clock_ms();
void set_virtual_clock_ms(uint64_t ms);
}  // namespace norvane
