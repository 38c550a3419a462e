// Stand-ins for the model's signals and row selection, used by the pages
// until the model provides them; removed then.
#pragma once
#include <atomic>
#include <cstdint>
void sel_next();
void sel_prev();
extern std::atomic<double> tank_level_fuel[2];
extern std::atomic<float> tank_level_water[2];
extern std::atomic<uint16_t> module_age[12];
struct power_module_status {
    std::atomic<uint8_t> output_state[7];
    std::atomic<uint8_t> output_code[7];
    std::atomic<uint8_t> output_command[8];
};
extern power_module_status power_module_record[8];
extern std::atomic<uint16_t> override_timer_port[5];
extern std::atomic<uint16_t> override_timer_starboard[5];
extern std::atomic<uint8_t> override_state_port[5];
extern std::atomic<uint8_t> override_state_starboard[5];
