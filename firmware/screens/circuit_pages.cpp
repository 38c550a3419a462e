// The circuit pages: a list of circuits with a highlight moved by buttons 1
// and 3, a toggle of the highlighted row on button 2 and, when button 2 is
// held for 3 s, all rows of the page switched together.
#include "screens/circuit_pages.h"

#include "gfx/assets.h"
#include "model/model.h"
#include "model/sig.h"
#include "platform/settings.h"
#include "screens/hmi.h"

uint8_t circuit_all_set[CIRCUIT_PAGE_COUNT] = {1, 1, 1, 1};

namespace {

constexpr uint8_t SET_ALL_HOLD_TIME = 30;  // 100 ms steps
constexpr uint16_t BADGE_X = 10;
constexpr uint8_t MAX_ROWS = 6;

struct circuit_page {
    const char* title;
    uint8_t rows;
    const char* labels[MAX_ROWS];
    uint8_t request[MAX_ROWS];  // index into circuit_request of each row
};

// In ring order. circuit_request holds LIGHTING & SOUND at 0-5, PUMPS at
// 6-9, REFRIGERATION at 10-13 and NAVIGATION at 14-17.
constexpr circuit_page pages[CIRCUIT_PAGE_COUNT] = {
    {"LIGHTING & SOUND", 6,
     {"INSIDE LIGHTS", "DECK LIGHTS", "ANCHOR LIGHT", "SAILING LIGHT", "DINGHY LIGHTS",
      "FRONT SPEAKERS"},
     {0, 1, 2, 3, 4, 5}},
    {"NAVIGATION", 4,
     {"INSTRUMENTS", "VHF RADIO", "HELM CHART PLOTTER", "SALON CHART PLOTTER"},
     {14, 15, 16, 17}},
    {"REFRIGERATION", 4,
     {"BAR OUTSIDE", "SALON", "LEFT FREEZER", "RIGHT FRIDGE"},
     {10, 11, 12, 13}},
    {"PUMPS", 4,
     {"FRESH WATER", "PORT BATHROOMS", "STBD BATHROOMS", "DECK WASH"},
     {6, 7, 8, 9}},
};

template <uint8_t P>
void toggle()
{
    const circuit_page& page = pages[P];
    // A selection of 255 wraps to row 0 here and so selects nothing.
    const uint8_t k = uint8_t(hmi_sel.load() + 1);
    if (k < 1 || k > page.rows)
        return;
    std::atomic<uint8_t>& request = circuit_request[page.request[k - 1]];
    request.store(request.load() == 0 ? 1 : 0);
}

template <uint8_t P>
void set_all()
{
    const circuit_page& page = pages[P];
    const uint8_t v = circuit_all_set[P];
    for (uint8_t i = 0; i < page.rows; ++i)
        circuit_request[page.request[i]].store(v);
    circuit_all_set[P] = v == 0 ? 1 : 0;
}

template <uint8_t P>
void keys()
{
    static const hmi_key layout[KEY_COUNT] = {
        {&img_key_left, page_prev, nullptr, nullptr, 0},
        {&img_key_up, sel_prev, nullptr, nullptr, 0},
        {&img_key_on_off, toggle<P>, nullptr, set_all<P>, SET_ALL_HOLD_TIME},
        {&img_key_down, sel_next, nullptr, nullptr, 0},
        {&img_key_right, nullptr, page_next, nullptr, 0},
    };
    hmi_install_keys(layout);
}

template <uint8_t P>
void draw()
{
    const circuit_page& page = pages[P];
    hmi_draw_list(page.title, page.labels, page.rows);
    for (uint8_t i = 0; i < page.rows; ++i)
        hmi_draw_badge(BADGE_X, i, circuit_request[page.request[i]].load() != 0);
}

template <uint8_t P>
void enter()
{
    hmi_enter_list_page(keys<P>, hmi_static_draw, draw<P>, pages[P].rows);
}

}  // namespace

void lighting_page_enter()
{
    enter<0>();
}

void navigation_page_enter()
{
    enter<1>();
}

void refrigeration_page_enter()
{
    enter<2>();
}

void pumps_page_enter()
{
    enter<3>();
}
