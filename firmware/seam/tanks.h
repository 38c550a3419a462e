// The seam: what the unit makes of a tank sender's voltage, so that a host
// can show the number the unit's tank page will show.
#pragma once
#include <cstdint>

// The whole percent under gauge `tank` (0, 1 fuel; 2, 3 water) when SENB4
// reports `mv` millivolts on that tank's channel: the step's own arithmetic
// and the page's flooring, from the same functions. -1 for no such tank.
int tank_reading_percent(uint8_t tank, uint16_t mv);
