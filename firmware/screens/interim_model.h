// Stand-ins for the model's signals and row selection, used by the pages
// until the model provides them; removed then.
#pragma once
#include <atomic>
#include <cstdint>
void sel_next();
void sel_prev();
struct tank_level_record {
    std::atomic<double> fuel[2];
    std::atomic<float> water[2];
    double operator[](uint8_t i) const
    {
        return i < 2 ? fuel[i].load(std::memory_order_relaxed)
                     : double(water[i - 2].load(std::memory_order_relaxed));
    }
};
extern tank_level_record tank_level;
extern std::atomic<uint16_t> module_age[12];
struct power_module_status {
    std::atomic<uint8_t> output_state[7];
    std::atomic<uint8_t> output_code[7];
    std::atomic<uint8_t> output_command[8];
};
extern power_module_status power_module_record[8];
extern std::atomic<uint16_t> override_timer[10];
extern std::atomic<uint8_t> override_state[10];
