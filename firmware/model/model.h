// The control model: one fixed step per 10 ms tick turns what the modules
// report and what the user asked for into the on/off command of 64 outputs.
//
// Every signal is a fixed global. The tick writes the received signals and
// the outputs and the screens read them; the screens write the requests and
// overrides and the tick reads them. Each value shared that way is an atomic
// of the signal's own element type, used with relaxed order.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "model/mailbox.h"
#include "platform/settings.h"  // circuit_request and switch_snapshot live in the saved record

constexpr uint8_t SWITCH_MODULE_COUNT = 3;  // SENB1..SENB3
constexpr uint8_t CHANNEL_COUNT = 10;
constexpr uint8_t MODULE_COUNT = INPUT_MODULE_COUNT + POWER_MODULE_COUNT;
constexpr uint8_t OUTPUT_COUNT = 8;  // per power module
constexpr uint8_t OVERRIDE_COUNT = 10;
constexpr uint8_t TANK_COUNT = 4;

// Received signals, written only by the step.
// [m][c]: channel c+1 of SENB(m+1), 1 closed, 0 open; kept until the next
// accepted message for that channel.
extern std::atomic<uint8_t> switch_input[SWITCH_MODULE_COUNT][CHANNEL_COUNT];
// Channel c+1 of SENB4 in volts (raw millivolts x 0.001).
extern std::atomic<float> analog_input[CHANNEL_COUNT];

// HMI inputs, written by the override pages. Port rows 0-4 ("PORT FORE
// CABIN" .. "DINING"), starboard rows 5-9 ("STBD FORE CABIN" .. "DINGHY").
// Remaining override time in seconds, 0 = none, at most 3600.
extern std::atomic<uint16_t> override_timer[OVERRIDE_COUNT];
// The value forced while the timer runs; nonzero = on.
extern std::atomic<uint8_t> override_state[OVERRIDE_COUNT];

// Tank percentages in the tank page's order: two fuel tanks (double, 0..125)
// and two water tanks (float, 0..100). tank_level[i] reads any of them.
struct tank_level_record {
    std::atomic<double> fuel[2];
    std::atomic<float> water[2];
    double operator[](uint8_t i) const
    {
        return i < 2 ? fuel[i].load(std::memory_order_relaxed)
                     : double(water[i - 2].load(std::memory_order_relaxed));
    }
};
extern tank_level_record tank_level;

// Staleness of each module's newest message, [0..3] SENB1..SENB4, [4..11]
// PWRB1..PWRB8 (first status message): 0 = taken this step, +1 per step
// without one, 0xFFFF = never received.
extern std::atomic<uint16_t> module_age[MODULE_COUNT];

// One record per power module, 22 bytes in this order.
struct power_module_status {
    std::atomic<uint8_t> output_state[7];    // 2-bit state of outputs 1-7
    std::atomic<uint8_t> output_code[7];     // 4-bit code of outputs 1-7
    std::atomic<uint8_t> output_command[8];  // as packed into the last command message
};
static_assert(sizeof(power_module_status) == 22);
extern power_module_status power_module_record[POWER_MODULE_COUNT];

// [power module][output]: 0 off, 1 on, from the circuit logic.
extern std::atomic<uint8_t> circuit_command[POWER_MODULE_COUNT][OUTPUT_COUNT];

// Last positions of the two water-tank table lookups (7.9 fixed point).
extern uint16_t tank_lookup_index[2];
// 0 until the end of the first step, then 1.
extern std::atomic<uint8_t> first_step_done;

// The screen framework's page function table. The step rewrites it from the
// page functions the screens register at start (screens/page_table.cpp);
// entry 0 is the start-up page's entry, which the first step runs. An empty
// entry is skipped.
using model_page_fn = void (*)();
constexpr uint8_t PAGE_CALLBACK_COUNT = 75;
constexpr uint8_t PAGE_ENTRY_STARTUP = 0;
using model_page_table = std::array<model_page_fn, PAGE_CALLBACK_COUNT>;
extern std::atomic<model_page_fn> page_callbacks[PAGE_CALLBACK_COUNT];
// Registers the page functions; nullptr: none (every entry stays empty).
void model_set_page_functions(const model_page_table* functions);

// Build information of the control model, kept in read-only data.
struct model_build_record {
    std::array<char, 4> model_code;  // zero-padded
    uint32_t model_version;
    std::array<char, 13> toolchain;  // no terminator
    std::array<char, 11> release;    // no terminator
    std::array<char, 7> model_id;    // zero-terminated
};
extern const model_build_record model_build_info;

// Start values before the first step; the receive mailboxes are set up
// separately by rx_mailbox_init.
void model_init();
// The eight stages: snapshot, linear tanks, table tanks, input modules,
// power modules, page entry on the first step, circuit logic, done flag.
void model_step();
void model_tick();  // model step, then the transmit schedule

// A sender's millivolts as an analog input holds them.
float model_sender_volts(uint16_t mv);
// The level of tank `tank` (the tank page's order: 0, 1 fuel; 2, 3 water)
// at `volts`, as the step computes it. A water tank's table search starts
// at and updates *lookup_index; a fuel tank needs none (nullptr).
double model_tank_level(uint8_t tank, double volts, uint16_t* lookup_index);
// Every record of the model, its mailboxes included, back to its start value
// (before model_init); no page functions registered.
void model_reset();
