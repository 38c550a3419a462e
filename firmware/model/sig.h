// The model's small exact routines: breakpoint search and interpolation on a
// 7.9 fixed-point table position, edge and change detectors, multi-word
// multiplication, list-row selection and the non-finite constants.
#pragma once
#include <cstdint>

// Table position: upper 7 bits the segment s (between breakpoints s and s+1),
// lower 9 bits the position inside it in 1/512 steps.
constexpr uint16_t SIG_INDEX_ONE = 512;

// Position of x among n strictly monotonic breakpoints (either direction),
// clamped to the ends; the search starts at `start`, the previous result.
uint16_t sig_prelookup(float x, const float* breakpoints, uint32_t n, uint16_t start);
// Table value at a position, linear inside a segment, never extrapolated.
float sig_interp(uint16_t index, const float* table, uint16_t n);

struct sig_press_state {
    double elapsed;    // ms since the last accepted edge
    uint32_t last_ms;  // stamp of the previous call
    uint8_t prev_in;
    uint8_t prev_out;
};
// 1 on a rising edge more than 500 ms after the previously accepted one (or
// after firmware start); a rejected edge is lost, not delayed.
uint8_t sig_press_edge(uint8_t input, sig_press_state& state);
constexpr double SIG_PRESS_LOCKOUT_MS = 500;

struct sig_change_state {
    uint8_t prev_in;
};
// 1 whenever the input differs from the previous call's.
uint8_t sig_change(uint8_t input, sig_change_state& state);

// out = a * b, low nout words: a signed (two's complement, na words), b
// unsigned (nb words), all least significant word first.
void sig_mul_words(const uint32_t* a, uint32_t na, const uint32_t* b, uint32_t nb, uint32_t* out,
                   uint32_t nout);

extern double model_inf;
extern double model_minus_inf;
extern double model_nan;
extern float model_inf_f;
extern float model_minus_inf_f;
extern float model_nan_f;
void model_nonfinite_init();
bool model_is_inf(double v);
bool model_is_inf(float v);
bool model_is_nan(double v);
bool model_is_nan(float v);
