#include "model/model.h"

#include <cstring>

#include "model/circuit.h"
#include "model/sig.h"

std::atomic<uint8_t> switch_input[SWITCH_MODULE_COUNT][CHANNEL_COUNT];
std::atomic<float> analog_input[CHANNEL_COUNT];
std::atomic<uint16_t> override_timer[OVERRIDE_COUNT];
std::atomic<uint8_t> override_state[OVERRIDE_COUNT];
tank_level_record tank_level;
std::atomic<uint16_t> module_age[MODULE_COUNT];
power_module_status power_module_record[POWER_MODULE_COUNT];
std::atomic<uint8_t> circuit_command[POWER_MODULE_COUNT][OUTPUT_COUNT];
uint16_t tank_lookup_index[2];
std::atomic<uint8_t> first_step_done{0};
std::atomic<model_page_fn> page_callbacks[PAGE_CALLBACK_COUNT];

static_assert(std::atomic<double>::is_always_lock_free && std::atomic<float>::is_always_lock_free);

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Text of a fixed size, zero-padded; a text exactly as long as the field
// keeps no terminator.
template <size_t M, size_t N>
consteval std::array<char, M> fixed_text(const char (&text)[N])
{
    static_assert(N - 1 <= M);
    std::array<char, M> out{};
    for (size_t i = 0; i + 1 < N; ++i)
        out[i] = text[i];
    return out;
}

// Fuel tanks: 5 V is 100 %, the scale runs to 6.25 V = 125 %.
constexpr double FUEL_MAX_PERCENT = 125.0;

// Water tanks: 0 % at 4.9 V and above, 100 % at 2.5 V and below. Each
// lookup has its own copy of the breakpoints and table.
const float water_volts[2][3] = {{7.5f, 4.9f, 2.5f}, {7.5f, 4.9f, 2.5f}};
const float water_percent[2][3] = {{0.0f, 0.0f, 100.0f}, {0.0f, 0.0f, 100.0f}};

constexpr uint8_t MSG_INPUT_FORM = 1;  // data byte 1 of every input message
constexpr double VOLTS_PER_MILLIVOLT = 0.001;
constexpr uint8_t COMMAND_FIRST_BYTE = 0x80;

void read_input_module(uint8_t m)
{
    uint16_t age = 0;
    uint32_t id = 0;
    uint8_t ext = 0;
    uint8_t data[8] = {};
    const uint8_t n = rx_mailbox_get(rx_mailbox_input(m), &age, &id, &ext, data, 8);
    module_age[m].store(age, relaxed);
    const uint32_t channel = ((id >> 8) & 0xFF) + 1;
    if (age != 0 || n != 8 || channel < 1 || channel > CHANNEL_COUNT || data[1] != MSG_INPUT_FORM)
        return;
    if (m < SWITCH_MODULE_COUNT) {
        if (ext != 0 && data[0] == MSG_INPUT_SWITCH_KIND)
            switch_input[m][channel - 1].store(data[2] != 0 ? 1 : 0, relaxed);
    } else if (data[0] == MSG_INPUT_ANALOG_KIND) {
        analog_input[channel - 1].store(model_sender_volts(uint16_t(data[2] + 256 * data[3])), relaxed);
    }
}

void read_power_module(uint8_t p)
{
    power_module_status& rec = power_module_record[p];

    uint16_t age = 0;
    uint8_t status[8] = {};
    rx_mailbox_get(rx_mailbox_status(p), &age, nullptr, nullptr, status, 8);
    module_age[INPUT_MODULE_COUNT + p].store(age, relaxed);
    for (int j = 0; j < 4; ++j)
        rec.output_state[j].store(uint8_t((status[1] >> (2 * j)) & 0x03), relaxed);
    for (int j = 0; j < 3; ++j)
        rec.output_state[4 + j].store(uint8_t((status[2] >> (2 * j)) & 0x03), relaxed);
    rx_mailbox_set_filter(rx_mailbox_status(p), MSG_OUTPUT_STATUS + p, 0x1FFFFFFF);

    uint8_t codes[8] = {};
    rx_mailbox_get(rx_mailbox_codes(p), &age, nullptr, nullptr, codes, 8);
    for (int j = 0; j < 7; ++j)
        rec.output_code[j].store(uint8_t((codes[1 + j / 2] >> (4 * (j % 2))) & 0x0F), relaxed);
    rx_mailbox_set_filter(rx_mailbox_codes(p), MSG_OUTPUT_CODES + p, 0x1FFFFFFF);

    // The command follows the previous step's circuit logic.
    uint8_t command[MSG_OUTPUT_COMMAND_LEN] = {COMMAND_FIRST_BYTE, 0, 0, 0, 0, 0};
    for (int j = 0; j < OUTPUT_COUNT; ++j) {
        const uint8_t value = circuit_command[p][j].load(relaxed);
        rec.output_command[j].store(value, relaxed);
        const uint8_t bits = value > 3 ? 3 : value;
        command[2 + j / 4] = uint8_t(command[2 + j / 4] | bits << (2 * (j % 4)));
    }
    tx_mailbox_set(p, MSG_OUTPUT_COMMAND + 256u * p, MSG_OUTPUT_COMMAND_LEN, command);
}

// Set at start, before the firmware's threads run.
const model_page_table* page_functions = nullptr;

void write_page_table(uint8_t from, uint8_t to)
{
    for (uint8_t i = from; i < to; ++i)
        page_callbacks[i].store(page_functions ? (*page_functions)[i] : nullptr, relaxed);
}

}  // namespace

const model_build_record model_build_info = {
    fixed_text<4>("QX7"),
    91,
    fixed_text<13>("(R2012a) 7.14"),
    fixed_text<11>("2013a_0.0.4"),
    fixed_text<7>("QX7_91"),
};

// What model_init starts from: the outputs, the tanks, the ages, the
// detectors and the page table cleared; the received inputs stay.
static void clear_outputs()
{
    for (auto& level : tank_level.fuel)
        level.store(0.0, relaxed);
    for (auto& level : tank_level.water)
        level.store(0.0f, relaxed);
    for (auto& age : module_age)
        age.store(0, relaxed);
    for (power_module_status& rec : power_module_record) {
        for (auto& v : rec.output_state)
            v.store(0, relaxed);
        for (auto& v : rec.output_code)
            v.store(0, relaxed);
        for (auto& v : rec.output_command)
            v.store(0, relaxed);
    }
    tank_lookup_index[0] = tank_lookup_index[1] = 0;
    circuit_init();
    first_step_done.store(0, relaxed);
    for (auto& entry : page_callbacks)
        entry.store(nullptr, relaxed);
}

void model_set_page_functions(const model_page_table* functions)
{
    page_functions = functions;
}

float model_sender_volts(uint16_t mv)
{
    return float(mv * VOLTS_PER_MILLIVOLT);
}

double model_tank_level(uint8_t tank, double volts, uint16_t* lookup_index)
{
    if (tank < 2) {
        const double y = volts * 100.0 / 5.0;
        if (y >= FUEL_MAX_PERCENT)
            return FUEL_MAX_PERCENT;
        return y > 0.0 ? y : 0.0;
    }
    const uint8_t i = uint8_t(tank - 2);
    *lookup_index = sig_prelookup(float(volts), water_volts[i], 3, *lookup_index);
    return sig_interp(*lookup_index, water_percent[i], 3);
}

void model_init()
{
    model_nonfinite_init();
    clear_outputs();
    write_page_table(0, PAGE_CALLBACK_COUNT);
}

void model_step()
{
    // 1. Snapshot: the tanks and the circuit logic see the inputs as they
    // stood before this step's receive stage.
    uint8_t switches[SWITCH_MODULE_COUNT][CHANNEL_COUNT];
    for (uint8_t m = 0; m < SWITCH_MODULE_COUNT; ++m)
        for (uint8_t c = 0; c < CHANNEL_COUNT; ++c)
            switches[m][c] = switch_input[m][c].load(relaxed);
    double analog[CHANNEL_COUNT];
    for (uint8_t c = 0; c < CHANNEL_COUNT; ++c)
        analog[c] = double(analog_input[c].load(relaxed));
    for (uint8_t m = 0; m < SWITCH_MODULE_COUNT; ++m)
        for (uint8_t c = 0; c < 4; ++c)
            switch_snapshot[4 * m + c].store(switches[m][c], relaxed);

    // 2. Fuel tanks, linear.
    for (uint8_t i = 0; i < 2; ++i)
        tank_level.fuel[i].store(model_tank_level(i, analog[i], nullptr), relaxed);

    // 3. Water tanks through their tables.
    for (uint8_t i = 0; i < 2; ++i)
        tank_level.water[i].store(float(model_tank_level(uint8_t(2 + i), analog[2 + i], &tank_lookup_index[i])),
                                  relaxed);

    // 4. One message per input module.
    for (uint8_t m = 0; m < INPUT_MODULE_COUNT; ++m)
        read_input_module(m);

    // 5. Power modules: status, codes, command.
    for (uint8_t p = 0; p < POWER_MODULE_COUNT; ++p)
        read_power_module(p);

    // 6. Page table; the first step enters the start-up page.
    write_page_table(0, 1);
    if (first_step_done.load(relaxed) == 0) {
        if (const model_page_fn enter = page_callbacks[PAGE_ENTRY_STARTUP].load(relaxed))
            enter();
    }
    write_page_table(1, PAGE_CALLBACK_COUNT);

    // 7. Circuit logic.
    circuit_step();

    first_step_done.store(1, relaxed);
}

void model_tick()
{
    model_step();
    can_tx_schedule();
}

void model_reset()
{
    for (auto& module : switch_input)
        for (auto& v : module)
            v.store(0, relaxed);
    for (auto& v : analog_input)
        v.store(0, relaxed);
    for (auto& v : override_timer)
        v.store(0, relaxed);
    for (auto& v : override_state)
        v.store(0, relaxed);
    for (auto& module : circuit_command)
        for (auto& v : module)
            v.store(0, relaxed);
    clear_outputs();
    page_functions = nullptr;
    mailbox_reset();
}
