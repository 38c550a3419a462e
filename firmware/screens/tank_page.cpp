// The tank page. The level bars follow the levels on every pass; the numbers
// under the gauges are refreshed at most every 200 ms. The headings are drawn
// once by the full repaint and never erased.
#include "screens/tank_page.h"

#include <cmath>
#include <cstdio>

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/text.h"
#include "model/model.h"
#include "platform/hal.h"
#include "screens/hmi.h"
#include "seam/tanks.h"

tank_refresh tank_refresh_records[TANK_GAUGES];

namespace {

constexpr gfx_color FUEL_COLOR = 0xFFE0;   // yellow
constexpr gfx_color WATER_COLOR = 0x07FF;  // cyan
constexpr uint16_t GAUGE_Y = 55;
constexpr int BAR_BOTTOM = 143;  // the level line of an empty tank's first row
constexpr double BAR_ROWS_PER_PERCENT = 0.8;
constexpr double REFRESH_MS = 200;
constexpr double MARK_OFFSET_MS = 500;

struct tank_geometry {
    uint16_t gauge_x;
    const gfx_image* gauge;
    const gfx_image* line;
    uint16_t box_x1, box_x2;
    int32_t number_x;
    gfx_color color;
};

constexpr uint16_t BOX_Y1 = 155;
constexpr uint16_t BOX_Y2 = 179;
constexpr int32_t NUMBER_Y = 155;

const tank_geometry tanks[TANK_GAUGES] = {
    {30, &img_tank_fuel, &img_level_fuel, 22, 82, 52, FUEL_COLOR},
    {93, &img_tank_fuel, &img_level_fuel, 85, 145, 115, FUEL_COLOR},
    {174, &img_tank_water, &img_level_water, 166, 226, 196, WATER_COLOR},
    {237, &img_tank_water, &img_level_water, 229, 289, 259, WATER_COLOR},
};

// Limits a level to lo..hi; a level that is not a number stays so.
double clamp(double v, double lo, double hi)
{
    if (v > hi)
        return hi;
    if (v < lo)
        return lo;
    return v;
}

void keys()
{
    static const hmi_key layout[KEY_COUNT] = {
        {&img_key_left, page_prev, nullptr, nullptr, 0},
        {&img_key_blank, hmi_noop, nullptr, nullptr, 0},
        {&img_key_blank, hmi_noop, nullptr, nullptr, 0},
        {&img_key_blank, hmi_noop, nullptr, nullptr, 0},
        {&img_key_right, nullptr, page_next, nullptr, 0},
    };
    hmi_install_keys(layout);
}

void draw_full()
{
    hmi_static_draw();
    gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
    gfx_set_text_color(FUEL_COLOR);
    gfx_draw_text(90, 15, "FUEL %");
    gfx_set_text_color(WATER_COLOR);
    gfx_draw_text(230, 15, "WATER %");
}

void draw_tank(uint8_t i, double level)
{
    const tank_geometry& t = tanks[i];
    tank_refresh& r = tank_refresh_records[i];

    const double now = sys_ms_since_start();
    if (now + MARK_OFFSET_MS - r.mark > REFRESH_MS) {
        r.shown = tank_shown_value(level);
        r.mark = now + MARK_OFFSET_MS;
    }

    // The gauge covers the previous pass's bar.
    gfx_draw_image(t.gauge_x, GAUGE_Y, t.gauge);
    const double h = BAR_ROWS_PER_PERCENT * clamp(level, 0, 100);
    for (int e = 0; e < h; ++e)
        gfx_draw_image(t.gauge_x, uint16_t(BAR_BOTTOM - e), t.line);

    gfx_set_text_color(t.color);
    gfx_fill_rect(t.box_x1, BOX_Y1, t.box_x2, BOX_Y2);
    gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
    char format[8];
    std::snprintf(format, sizeof format, "%s%u.%uf", "%", 3u, 0u);
    char text[16];
    std::snprintf(text, sizeof text, format, double(float(r.shown)));
    gfx_draw_text(t.number_x, NUMBER_Y, text);
}

void draw_pass()
{
    for (uint8_t i = 0; i < TANK_GAUGES; ++i)
        draw_tank(i, tank_level[i]);
}

}  // namespace

double tank_shown_value(double level)
{
    const double v = std::floor(clamp(level, 0, 125));
    if (!std::isfinite(v))
        return 0;
    return double(uint16_t(uint32_t(v) & 0xFFFF));
}

int tank_reading_percent(uint8_t tank, uint16_t mv)
{
    if (tank >= TANK_GAUGES)
        return -1;
    uint16_t lookup_index = 0;  // the search's start does not change where it ends
    return int(tank_shown_value(model_tank_level(tank, double(model_sender_volts(mv)), &lookup_index)));
}

void tank_page_enter()
{
    hmi_enter_page(keys, draw_full, draw_pass);
}
