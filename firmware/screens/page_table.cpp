// The page functions the model hands to the screen framework through
// page_callbacks. Unwired entries hold hmi_noop.
#include "screens/page_table.h"

#include <array>

#include "screens/circuit_pages.h"
#include "screens/hmi.h"
#include "screens/keys.h"
#include "screens/panel.h"
#include "screens/status_page.h"
#include "screens/tank_page.h"
#include "screens/version_page.h"

namespace {

constexpr model_page_table page_function_table()
{
    model_page_table table{};
    for (hmi_fn& fn : table)
        fn = hmi_noop;
    // The start-up page's entry, run by the first model step from the tick.
    table[PAGE_ENTRY_STARTUP] = version_page_enter;
    return table;
}

// The main pages in the order the outer buttons walk them.
constexpr std::array RING{
    lighting_page_enter,
    navigation_page_enter,
    refrigeration_page_enter,
    pumps_page_enter,
    tank_page_enter,
    status_page_enter,
};

}  // namespace

// A count other than HMI_RING_SIZE does not compile.
const std::array<hmi_fn, HMI_RING_SIZE> hmi_ring = RING;

const model_page_table page_functions = page_function_table();

void pages_init()
{
    for (tank_refresh& r : tank_refresh_records)
        r = {};
    for (uint8_t& v : circuit_all_set)
        v = 1;
}

void screens_reset()
{
    hmi_reset();
    key_reset();
    panel_reset();
    pages_init();
    version_entry_time.store(0);
}
