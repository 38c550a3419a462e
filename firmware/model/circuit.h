// Circuit command logic: every step decides for each of the 64 outputs of
// the eight power modules whether it is on, from the circuit pages' rows,
// the wall switches and the timed overrides.
#pragma once
#include <cstdint>

#include "model/model.h"

enum circuit_kind : uint8_t {
    CIRCUIT_FIXED_OFF,
    CIRCUIT_PAGE,      // follows its page row
    CIRCUIT_SWITCHED,  // toggled by wall switches, gated by a page row, overridable
};

enum circuit_detector : uint8_t {
    DETECT_NONE,
    DETECT_PRESS,   // push button: rising edge, 500 ms lock-out
    DETECT_CHANGE,  // rocker: every flip
};

struct circuit_input {
    circuit_detector detector;
    uint8_t snapshot;  // index into switch_snapshot
};

struct circuit_row {
    circuit_kind kind;
    circuit_input input[2];
    uint8_t override_index;  // switched: override_timer / override_state row
    uint8_t request;         // switched: gate row; page: request row (circuit_request)
};

// One row per output, [power module][output].
extern const circuit_row circuit_table[POWER_MODULE_COUNT][OUTPUT_COUNT];

// Circuit flags A and B of the saved record (bytes 12 and 14). Only a
// non-volatile image written elsewhere can hold anything but 0 there; with
// both 0 the table above is exact. A non-zero flag A holds every page circuit
// off. Flag B feeds a change detector on every page circuit (the circuits
// without a wall switch): when flag B changes, those outputs are inverted
// for that one step, so a non-zero flag B loaded at start-up toggles them
// once, on the first step.
uint8_t circuit_flag_a();
uint8_t circuit_flag_b();

void circuit_init();  // detector states to zero
void circuit_step();  // all 64 circuit_command values
