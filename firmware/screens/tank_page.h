// The tank page: two fuel and two water gauges with their levels in percent.
#pragma once
#include <cstdint>

// Per tank, when the number under the gauge was last refreshed and what it
// shows. The number changes at most every 200 ms so that it does not flicker.
struct tank_refresh {
    double mark;   // unit time of the last refresh in ms, plus 500
    double shown;  // the whole number on screen
};
constexpr uint8_t TANK_GAUGES = 4;
extern tank_refresh tank_refresh_records[TANK_GAUGES];

void tank_page_enter();
// The whole number the page shows under a gauge for a level: floored, never
// rounded up, 0..125.
double tank_shown_value(double level);
