// The seam: the test events the host raises (Event 1 and Event 2 of the
// window's menu, a scenario's event lines).
#pragma once
#include <cstdint>

void hal_raise_event(int32_t event);  // host UI thread
