#include "screens/interim_model.h"
#include "screens/hmi.h"
tank_level_record tank_level;
std::atomic<uint16_t> module_age[12];
power_module_status power_module_record[8];
std::atomic<uint16_t> override_timer[10];
std::atomic<uint8_t> override_state[10];
void sel_next()
{
    uint8_t n = uint8_t(hmi_sel.load() + 1);
    if (n >= hmi_item_count.load())
        n = 0;
    hmi_sel.store(n);
}
void sel_prev()
{
    const uint8_t s = hmi_sel.load();
    hmi_sel.store(s >= 1 ? uint8_t(s - 1) : uint8_t(hmi_item_count.load() - 1));
}
