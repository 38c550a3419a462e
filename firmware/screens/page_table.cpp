// The page functions the model hands to the screen framework through
// page_callbacks. Unwired entries hold hmi_noop.
#include "model/model.h"
#include "screens/version_page.h"

namespace {

constexpr std::array<hmi_fn, PAGE_CALLBACK_COUNT> page_function_table()
{
    std::array<hmi_fn, PAGE_CALLBACK_COUNT> table{};
    for (hmi_fn& fn : table)
        fn = hmi_noop;
    // The start-up page's entry, run by the first model step from the tick.
    table[PAGE_ENTRY_STARTUP] = version_page_enter;
    return table;
}

}  // namespace

const std::array<hmi_fn, PAGE_CALLBACK_COUNT> page_functions = page_function_table();
