#include "model/circuit.h"

#include "model/sig.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

constexpr circuit_row off()
{
    return {CIRCUIT_FIXED_OFF, {{DETECT_NONE, 0}, {DETECT_NONE, 0}}, 0, 0};
}
constexpr circuit_row page(uint8_t request)
{
    return {CIRCUIT_PAGE, {{DETECT_NONE, 0}, {DETECT_NONE, 0}}, 0, request};
}
constexpr circuit_row switched(circuit_input first, uint8_t override_index, uint8_t gate,
                               circuit_input second = {DETECT_NONE, 0})
{
    return {CIRCUIT_SWITCHED, {first, second}, override_index, gate};
}
constexpr circuit_input press(uint8_t snapshot)
{
    return {DETECT_PRESS, snapshot};
}
constexpr circuit_input change(uint8_t snapshot)
{
    return {DETECT_CHANGE, snapshot};
}

// Page rows (circuit_request).
constexpr uint8_t INSIDE_LIGHTS = 0, DECK_LIGHTS = 1, ANCHOR_LIGHT = 2, SAILING_LIGHT = 3,
                  DINGHY_LIGHTS = 4, FRONT_SPEAKERS = 5, FRESH_WATER = 6, PORT_BATHROOMS = 7,
                  STBD_BATHROOMS = 8, DECK_WASH = 9, BAR_OUTSIDE = 10, SALON = 11,
                  LEFT_FREEZER = 12, RIGHT_FRIDGE = 13, INSTRUMENTS = 14, VHF_RADIO = 15,
                  HELM_CHART_PLOTTER = 16, SALON_CHART_PLOTTER = 17;
// Override rows.
constexpr uint8_t PORT_FORE_CABIN = 0, PORT_CORRIDOR = 1, KITCHEN = 2, PORT_AFT_CABIN = 3,
                  DINING = 4, STBD_FORE_CABIN = 5, SALOON = 6, MASTER_CORRIDOR = 7,
                  MASTER_CABIN = 8, DINGHY = 9;
// Wall switches (switch_snapshot): channels 1-4 of SENB1, SENB2, SENB3.
constexpr uint8_t SENB1_CH1 = 0, SENB1_CH2 = 1, SENB1_CH3 = 2, SENB1_CH4 = 3, SENB2_CH1 = 4,
                  SENB2_CH2 = 5, SENB2_CH3 = 6, SENB3_CH1 = 8, SENB3_CH2 = 9, SENB3_CH3 = 10,
                  SENB3_CH4 = 11;

// Per circuit: one detector state per wall-switch input, and the change
// detector on flag B of the page circuits.
struct circuit_state {
    sig_press_state press[2];
    sig_change_state change[2];
    sig_change_state flag_b;
};
circuit_state circuit_states[POWER_MODULE_COUNT][OUTPUT_COUNT];

uint8_t run_detector(const circuit_input& input, circuit_state& state, int k)
{
    const uint8_t level = switch_snapshot[input.snapshot].load(relaxed);
    switch (input.detector) {
    case DETECT_PRESS:
        return sig_press_edge(level, state.press[k]);
    case DETECT_CHANGE:
        return sig_change(level, state.change[k]);
    case DETECT_NONE:
        break;
    }
    return 0;
}

// The detectors run every step, also during an override, so that their
// state always follows the switch; an event during an override is lost.
uint8_t eval_switched(const circuit_row& row, circuit_state& state, uint8_t current)
{
    uint8_t event = 0;
    for (int k = 0; k < 2; ++k)
        event |= run_detector(row.input[k], state, k);
    const uint8_t toggled = event ? uint8_t(current == 0) : current;
    const uint16_t timer = override_timer[row.override_index].load(relaxed);
    if (timer > 0) {
        // Off during the override's last second, so the switch logic takes
        // over from off when it ends.
        return override_state[row.override_index].load(relaxed) != 0 && timer != 1;
    }
    return toggled == 1 && circuit_request[row.request].load(relaxed) != 0;
}

uint8_t eval_page(const circuit_row& row, circuit_state& state, uint8_t flag_a, uint8_t flag_b)
{
    uint8_t on = circuit_request[row.request].load(relaxed) != 0 && flag_a == 0;
    if (sig_change(flag_b, state.flag_b))
        on = uint8_t(on ^ 1u);
    return on;
}

}  // namespace

const circuit_row circuit_table[POWER_MODULE_COUNT][OUTPUT_COUNT] = {
    // PWRB1
    {switched(change(SENB1_CH1), PORT_FORE_CABIN, INSIDE_LIGHTS),
     switched(press(SENB1_CH2), DINING, INSIDE_LIGHTS), page(INSIDE_LIGHTS), page(INSIDE_LIGHTS),
     page(INSIDE_LIGHTS), page(DECK_WASH), off(), off()},
    // PWRB2
    {page(FRESH_WATER), page(FRESH_WATER), page(PORT_BATHROOMS), page(PORT_BATHROOMS),
     page(PORT_BATHROOMS), page(PORT_BATHROOMS), off(), off()},
    // PWRB3
    {switched(press(SENB2_CH3), KITCHEN, INSIDE_LIGHTS),
     switched(change(SENB2_CH2), PORT_CORRIDOR, INSIDE_LIGHTS), page(RIGHT_FRIDGE),
     page(LEFT_FREEZER), off(), off(), off(), off()},
    // PWRB4
    {switched(change(SENB2_CH1), PORT_AFT_CABIN, INSIDE_LIGHTS), page(INSIDE_LIGHTS),
     page(INSIDE_LIGHTS), off(), page(SALON), page(BAR_OUTSIDE), off(), off()},
    // PWRB5
    {page(INSIDE_LIGHTS),
     switched(change(SENB3_CH1), MASTER_CABIN, INSIDE_LIGHTS, press(SENB3_CH4)),
     page(INSIDE_LIGHTS), switched(press(SENB3_CH2), DINGHY, DINGHY_LIGHTS), page(SAILING_LIGHT),
     page(INSTRUMENTS), off(), off()},
    // PWRB6
    {page(INSIDE_LIGHTS), switched(press(SENB3_CH3), MASTER_CORRIDOR, INSIDE_LIGHTS),
     page(INSIDE_LIGHTS), off(), page(STBD_BATHROOMS), page(STBD_BATHROOMS), off(), off()},
    // PWRB7
    {switched(change(SENB1_CH3), STBD_FORE_CABIN, INSIDE_LIGHTS),
     switched(press(SENB1_CH4), SALOON, INSIDE_LIGHTS), page(INSIDE_LIGHTS), page(INSIDE_LIGHTS),
     page(STBD_BATHROOMS), page(STBD_BATHROOMS), off(), off()},
    // PWRB8
    {page(VHF_RADIO), page(SALON_CHART_PLOTTER), page(ANCHOR_LIGHT), page(DECK_LIGHTS),
     page(SAILING_LIGHT), page(HELM_CHART_PLOTTER), page(FRONT_SPEAKERS), off()},
};

uint8_t circuit_flag_a()
{
    return settings_work.byte(SETTINGS_OFS_FLAG_A);
}

uint8_t circuit_flag_b()
{
    return settings_work.byte(SETTINGS_OFS_FLAG_B);
}

void circuit_init()
{
    for (auto& module : circuit_states)
        for (circuit_state& state : module)
            state = circuit_state{};
}

void circuit_step()
{
    const uint8_t flag_a = circuit_flag_a();
    const uint8_t flag_b = circuit_flag_b();
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p) {
        for (uint8_t j = 0; j < OUTPUT_COUNT; ++j) {
            const circuit_row& row = circuit_table[p][j];
            circuit_state& state = circuit_states[p][j];
            std::atomic<uint8_t>& out = circuit_command[p][j];
            uint8_t on = 0;
            switch (row.kind) {
            case CIRCUIT_SWITCHED:
                on = eval_switched(row, state, out.load(relaxed));
                break;
            case CIRCUIT_PAGE:
                on = eval_page(row, state, flag_a, flag_b);
                break;
            case CIRCUIT_FIXED_OFF:
                break;
            }
            out.store(on, relaxed);
        }
    }
}
