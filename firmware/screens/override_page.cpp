// The override pages. Each row forces one cabin circuit on or off for an
// hour; the model applies the forced value while the row's timer runs, and
// the tick counts the timers down once per second, on any page.
#include "screens/override_page.h"

#include <cstdio>

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/text.h"
#include "model/model.h"
#include "model/sig.h"
#include "screens/hmi.h"
#include "screens/status_page.h"

namespace {

constexpr uint8_t ROWS = 5;
constexpr uint16_t BADGE_X = 280;
constexpr gfx_color TIME_COLOR = 0xAF5F;

// Port rows are overrides 0-4, starboard rows 5-9; each page edits its own
// five timers and forced values.
struct override_page {
    const char* title;
    const char* labels[ROWS];
    std::atomic<uint16_t>* timer;
    std::atomic<uint8_t>* state;
};

const override_page pages[2] = {
    {"PORT OVERRIDES",
     {"PORT FORE CABIN", "PORT CORRIDOR", "KITCHEN", "PORT AFT CABIN", "DINING"},
     override_timer, override_state},
    {"STARBOARD OVERRIDES",
     {"STBD FORE CABIN", "SALOON", "MASTER CORRIDOR", "MASTER CABIN", "DINGHY"},
     override_timer + ROWS, override_state + ROWS},
};

// The selected row's index, or ROWS when no row is selected.
uint8_t selected_row()
{
    const uint8_t k = uint8_t(hmi_sel.load() + 1);
    return k >= 1 && k <= ROWS ? uint8_t(k - 1) : ROWS;
}

template <int P>
void force_on()
{
    const uint8_t i = selected_row();
    if (i == ROWS)
        return;
    pages[P].state[i].store(1);
    pages[P].timer[i].store(OVERRIDE_SECONDS);
}

template <int P>
void force_off()
{
    const uint8_t i = selected_row();
    if (i == ROWS)
        return;
    pages[P].state[i].store(0);
    pages[P].timer[i].store(OVERRIDE_SECONDS);
}

// The timer is left at one second rather than zero; the next countdown ends
// the override.
template <int P>
void end_override()
{
    const uint8_t i = selected_row();
    if (i == ROWS)
        return;
    pages[P].timer[i].store(1);
    pages[P].state[i].store(0);
}

template <int P>
void keys()
{
    static const hmi_key layout[KEY_COUNT] = {
        {&img_key_down, sel_next, nullptr, nullptr, 0},
        {&img_key_on, force_on<P>, nullptr, nullptr, 0},
        {&img_key_off, force_off<P>, nullptr, nullptr, 0},
        {&img_key_reset, end_override<P>, nullptr, nullptr, 0},
        {&img_key_return, nullptr, status_page_enter, nullptr, 0},
    };
    hmi_install_keys(layout);
}

template <int P>
void draw()
{
    const override_page& page = pages[P];
    hmi_draw_list(page.title, page.labels, ROWS);

    gfx_set_text_color(TIME_COLOR);
    for (uint8_t i = 0; i < ROWS; ++i) {
        const int y = hmi_list_row_y(i);
        gfx_fill_rect(5, uint16_t(y), 55, uint16_t(y + 18));
        char text[16];
        std::snprintf(text, sizeof text, "%4.0f", double(page.timer[i].load()));
        gfx_draw_text(30, y, text);
    }
    for (uint8_t i = 0; i < ROWS; ++i)
        hmi_draw_badge(BADGE_X, i, page.state[i].load() != 0);
}

// One second less, within 0..3600. The pages write the timers from the main
// loop while this runs on the tick, so a press is never overwritten by the
// count of the value before it.
void count_down(std::atomic<uint16_t>* timers)
{
    for (uint8_t i = 0; i < ROWS; ++i) {
        uint16_t t = timers[i].load();
        uint16_t next;
        do {
            next = t == 0 ? 0 : t > OVERRIDE_SECONDS + 1 ? OVERRIDE_SECONDS : uint16_t(t - 1);
        } while (!timers[i].compare_exchange_weak(t, next));
    }
}

}  // namespace

void port_overrides_enter()
{
    hmi_enter_list_page(keys<0>, hmi_static_draw, draw<0>, ROWS);
}

void starboard_overrides_enter()
{
    hmi_enter_list_page(keys<1>, hmi_static_draw, draw<1>, ROWS);
}

void override_countdown()
{
    count_down(pages[0].timer);
    count_down(pages[1].timer);
}
