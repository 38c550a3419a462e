// The module status page: a grid with one row per module (PWRB1..PWRB8, then
// SENB1..SENB4) and, for the power modules, one cell per output code (R),
// one per output state (F) and one for whether the module is heard (CAN).
// Every element is redrawn in place on each pass.
#include "screens/status_page.h"

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/text.h"
#include "model/model.h"
#include "screens/hmi.h"
#include "screens/override_page.h"

namespace {

constexpr gfx_color TEXT_COLOR = 0xFFFD;
constexpr uint8_t ROWS = 13;     // the header line, 8 power and 4 input modules
constexpr uint8_t COLUMNS = 15;  // R1..R7, F1..F7, CAN
constexpr uint8_t CAN_COLUMN = 14;
constexpr uint8_t OUTPUTS = 7;
constexpr uint8_t POWER_MODULES = 8;
constexpr uint8_t INPUT_MODULES = 4;
constexpr uint8_t FIRST_POWER_ROW = 1;
constexpr uint8_t FIRST_INPUT_ROW = 9;
// A power module is still heard at 2.0 s of silence; an input module is not.
constexpr uint16_t HEARD_AGE = 200;

const char* const row_labels[ROWS] = {
    "______", "PWRB1", "PWRB2", "PWRB3", "PWRB4", "PWRB5", "PWRB6", "PWRB7",
    "PWRB8",  "SENB1", "SENB2", "SENB3", "SENB4",
};
const char* const column_headers[COLUMNS] = {
    "R1", "R2", "R3", "R4", "R5", "R6", "R7", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "CAN",
};

uint16_t row_y(uint8_t r)
{
    return uint16_t(2 + 15 * r);
}

uint16_t column_x(uint8_t j)
{
    return uint16_t(48 + 17 * j);
}

void keys()
{
    static const hmi_key layout[KEY_COUNT] = {
        {&img_key_left, page_prev, nullptr, nullptr, 0},
        {&img_key_port, port_overrides_enter, nullptr, nullptr, 0},
        {&img_key_starboard, starboard_overrides_enter, nullptr, nullptr, 0},
        {&img_key_blank, hmi_noop, nullptr, nullptr, 0},
        {&img_key_right, nullptr, page_next, nullptr, 0},
    };
    hmi_install_keys(layout);
}

void draw_pass()
{
    // All cells are worked out first, from the signals as they stand now.
    bool power_good[POWER_MODULES][COLUMNS];
    bool input_good[INPUT_MODULES];
    for (uint8_t p = 0; p < POWER_MODULES; ++p) {
        const power_module_status& rec = power_module_record[p];
        for (uint8_t j = 0; j < OUTPUTS; ++j) {
            power_good[p][j] = rec.output_code[j].load() == 0;
            power_good[p][OUTPUTS + j] = rec.output_state[j].load() == 0;
        }
        power_good[p][CAN_COLUMN] = module_age[INPUT_MODULES + p].load() <= HEARD_AGE;
    }
    for (uint8_t m = 0; m < INPUT_MODULES; ++m)
        input_good[m] = module_age[m].load() < HEARD_AGE;

    gfx_set_text_style(10, TEXT_ALIGN_CENTER, 0);
    gfx_set_text_color(TEXT_COLOR);
    for (uint8_t r = 0; r < ROWS; ++r) {
        gfx_fill_rect(0, row_y(r), 50, uint16_t(row_y(r) + 10));
        gfx_draw_text(25, row_y(r), row_labels[r]);
    }
    for (uint8_t j = 0; j < COLUMNS; ++j) {
        gfx_fill_rect(column_x(j), 2, uint16_t(column_x(j) + 17), 12);
        gfx_draw_text(column_x(j) + 9, 2, column_headers[j]);
    }

    const auto cell = [](uint8_t j, uint8_t r, bool good) {
        gfx_draw_image(uint16_t(column_x(j) + 1), uint16_t(row_y(r) - 1),
                       good ? &img_status_ok : &img_status_alarm);
    };
    for (uint8_t p = 0; p < POWER_MODULES; ++p)
        for (uint8_t j = 0; j < COLUMNS; ++j)
            cell(j, uint8_t(FIRST_POWER_ROW + p), power_good[p][j]);
    for (uint8_t m = 0; m < INPUT_MODULES; ++m)
        cell(CAN_COLUMN, uint8_t(FIRST_INPUT_ROW + m), input_good[m]);
}

}  // namespace

void status_page_enter()
{
    hmi_enter_page(keys, hmi_static_draw, draw_pass);
}
