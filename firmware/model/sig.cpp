#include "model/sig.h"

#include <bit>
#include <limits>

#include "platform/hal.h"

double model_inf = 0;
double model_minus_inf = 0;
double model_nan = 0;
float model_inf_f = 0;
float model_minus_inf_f = 0;
float model_nan_f = 0;

namespace {

// Fraction of a segment in 1/512 steps, rounded half up.
uint16_t segment_fraction(float num, float den)
{
    return uint16_t((num * float(SIG_INDEX_ONE) + den / 2.0f) / den);
}

}  // namespace

uint16_t sig_prelookup(float x, const float* bp, uint32_t n, uint16_t start)
{
    const uint32_t last = n - 1;
    uint32_t i = start / SIG_INDEX_ONE;
    if (i > last)
        i = last;
    // No comparison holds for NaN: the walk below would step past the table.
    // Keep the previous position instead.
    if (x != x)
        return uint16_t(i * SIG_INDEX_ONE);

    if (bp[last] > bp[0]) {
        if (x <= bp[0])
            return 0;
        if (x >= bp[last])
            return uint16_t(last * SIG_INDEX_ONE);
        uint32_t lo = 0;
        uint32_t hi = 0;
        if (x >= bp[i]) {
            while (i < last && x > bp[i])
                ++i;
            lo = i - 1;
            hi = i;
        } else {
            while (i > 0 && x < bp[i])
                --i;
            lo = i;
            hi = i + 1;
        }
        const float den = bp[hi] - bp[lo];
        if (den == 0.0f)
            return uint16_t(hi * SIG_INDEX_ONE);
        return uint16_t(lo * SIG_INDEX_ONE + segment_fraction(x - bp[lo], den));
    }

    if (x <= bp[last])
        return uint16_t(last * SIG_INDEX_ONE);
    if (x >= bp[0])
        return 0;
    uint32_t a = 0;  // the breakpoint below x
    uint32_t b = 0;  // the breakpoint above x
    if (x <= bp[i]) {
        while (i < last && x < bp[i])
            ++i;
        a = i;
        b = i - 1;
    } else {
        while (i > 0 && x > bp[i])
            --i;
        b = i;
        a = i + 1;
    }
    const float den = bp[b] - bp[a];
    if (den == 0.0f)
        return uint16_t(b * SIG_INDEX_ONE);
    return uint16_t(a * SIG_INDEX_ONE - segment_fraction(x - bp[a], den));
}

float sig_interp(uint16_t index, const float* table, uint16_t n)
{
    const uint32_t s = index / SIG_INDEX_ONE;
    const uint32_t r = index % SIG_INDEX_ONE;
    if (s + 1 >= n)
        return table[n - 1];
    return table[s] + float(r) * (table[s + 1] - table[s]) / float(SIG_INDEX_ONE);
}

uint8_t sig_press_edge(uint8_t input, sig_press_state& state)
{
    const uint32_t now = sys_ms_since_start();
    double elapsed = state.prev_out == 1 ? 0.0 : state.elapsed;
    elapsed += double(uint32_t(now - state.last_ms));
    const uint8_t out = (input > state.prev_in && elapsed > SIG_PRESS_LOCKOUT_MS) ? 1 : 0;
    state.last_ms = now;
    state.prev_out = out;
    state.elapsed = elapsed;
    state.prev_in = input;
    return out;
}

uint8_t sig_change(uint8_t input, sig_change_state& state)
{
    const uint8_t out = input != state.prev_in ? 1 : 0;
    state.prev_in = input;
    return out;
}

void sig_mul_words(const uint32_t* a, uint32_t na, const uint32_t* b, uint32_t nb, uint32_t* out,
                   uint32_t nout)
{
    for (uint32_t k = 0; k < nout; ++k)
        out[k] = 0;
    const bool negative = na > 0 && (a[na - 1] & 0x80000000u) != 0;
    uint64_t negate_carry = 1;
    for (uint32_t i = 0; i < na && i < nout; ++i) {
        uint32_t ai = a[i];
        if (negative) {
            const uint64_t t = uint64_t(uint32_t(~ai)) + negate_carry;
            ai = uint32_t(t);
            negate_carry = t >> 32;
        }
        uint64_t carry = 0;
        uint32_t k = i;
        for (uint32_t j = 0; j < nb && k < nout; ++j, ++k) {
            const uint64_t t = uint64_t(ai) * b[j] + out[k] + carry;
            out[k] = uint32_t(t);
            carry = t >> 32;
        }
        for (; carry != 0 && k < nout; ++k) {
            const uint64_t t = uint64_t(out[k]) + carry;
            out[k] = uint32_t(t);
            carry = t >> 32;
        }
    }
    if (negative) {
        uint64_t carry = 1;
        for (uint32_t k = 0; k < nout; ++k) {
            const uint64_t t = uint64_t(uint32_t(~out[k])) + carry;
            out[k] = uint32_t(t);
            carry = t >> 32;
        }
    }
}

void model_nonfinite_init()
{
    model_inf = std::numeric_limits<double>::infinity();
    model_minus_inf = -std::numeric_limits<double>::infinity();
    model_nan = std::bit_cast<double>(uint64_t(0xFFF8000000000000ull));
    model_inf_f = std::numeric_limits<float>::infinity();
    model_minus_inf_f = -std::numeric_limits<float>::infinity();
    model_nan_f = float(model_nan);
}

bool model_is_inf(double v)
{
    return v == std::numeric_limits<double>::infinity() ||
           v == -std::numeric_limits<double>::infinity();
}

bool model_is_inf(float v)
{
    return v == std::numeric_limits<float>::infinity() ||
           v == -std::numeric_limits<float>::infinity();
}

bool model_is_nan(double v)
{
    return v != v;
}

bool model_is_nan(float v)
{
    return v != v;
}
