// The model's numeric routines: table search and interpolation, the edge
// and change detectors, multi-word products, row selection, non-finite tests.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "host/core/virtual_clock.h"
#include "model/sig.h"
#include "platform/hal.h"
#include "screens/hmi.h"

namespace {

const float ASCENDING[] = {0.0f, 10.0f, 20.0f};
const float TANK_VOLTS[] = {7.5f, 4.9f, 2.5f};
const float TANK_PERCENT[] = {0.0f, 0.0f, 100.0f};

struct LookupCase {
    const float* bp;
    float x;
    uint16_t expected;
};

TEST(SigPrelookup, GivesTheSamePositionFromAnyStart)
{
    const LookupCase cases[] = {
        {ASCENDING, 5.0f, 256},   {ASCENDING, 15.0f, 768},  {ASCENDING, -1.0f, 0},
        {ASCENDING, 25.0f, 1024}, {ASCENDING, 10.0f, 512},  {ASCENDING, 0.0f, 0},
        {ASCENDING, 20.0f, 1024}, {ASCENDING, 0.01f, 1},    // 0.512 rounds up
        {ASCENDING, 0.009f, 0},                             // 0.4608 rounds down
        {TANK_VOLTS, 3.7f, 768},  {TANK_VOLTS, 4.9f, 512},  {TANK_VOLTS, 8.0f, 0},
        {TANK_VOLTS, 2.0f, 1024}, {TANK_VOLTS, 7.5f, 0},    {TANK_VOLTS, 2.5f, 1024},
        {TANK_VOLTS, 6.0f, 295},
    };
    for (const LookupCase& c : cases) {
        for (int start : {0, 256, 512, 1000, 1024}) {
            EXPECT_EQ(sig_prelookup(c.x, c.bp, 3, uint16_t(start)), c.expected)
                << "x " << c.x << " start " << start
                << (c.bp == ASCENDING ? " ascending" : " descending");
        }
    }
}

TEST(SigPrelookup, ZeroWidthSegmentGivesItsFarBreakpoint)
{
    const float up[] = {0.0f, 10.0f, 10.0f, 20.0f};
    const float down[] = {20.0f, 10.0f, 10.0f, 0.0f};
    EXPECT_EQ(sig_prelookup(10.0f, up, 4, 1024), 1024);
    EXPECT_EQ(sig_prelookup(10.0f, down, 4, 1024), 512);
}

TEST(SigPrelookup, NanOrAStartBeyondTheTableStaysInsideTheTable)
{
    // Both would walk past the last breakpoint if taken at face value.
    const float nan = std::nanf("");
    EXPECT_EQ(sig_prelookup(nan, ASCENDING, 3, 1024), 1024);
    EXPECT_EQ(sig_prelookup(nan, TANK_VOLTS, 3, 1024), 1024);
    EXPECT_EQ(sig_prelookup(nan, TANK_VOLTS, 3, 300), 0);
    EXPECT_EQ(sig_prelookup(15.0f, ASCENDING, 3, 0xFFFF), 768);
    EXPECT_EQ(sig_prelookup(3.7f, TANK_VOLTS, 3, 0xFFFF), 768);
}

TEST(SigInterp, IsLinearInsideASegmentAndClampsAtTheEnd)
{
    EXPECT_EQ(sig_interp(768, TANK_PERCENT, 3), 50.0f);
    EXPECT_EQ(sig_interp(1024, TANK_PERCENT, 3), 100.0f);
    EXPECT_EQ(sig_interp(0, TANK_PERCENT, 3), 0.0f);
    EXPECT_EQ(sig_interp(0xFFFF, TANK_PERCENT, 3), 100.0f);
    EXPECT_EQ(sig_interp(256, ASCENDING, 3), 5.0f);
    EXPECT_EQ(sig_interp(513, ASCENDING, 3), 10.0f + 10.0f / 512.0f);
}

// The press detector reads the firmware's millisecond clock, here virtual.
class PressEdge : public ::testing::Test {
protected:
    void SetUp() override
    {
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
        hal_ms_clock();  // the clock base is taken at 0
    }
    void TearDown() override { norvane::use_monotonic_clock(); }
    uint8_t at(uint64_t ms, uint8_t input)
    {
        norvane::set_virtual_clock_ms(ms);
        return sig_press_edge(input, state_);
    }
    sig_press_state state_{};
};

TEST_F(PressEdge, AcceptsRisesMoreThan500msApartAndLosesTheOthers)
{
    struct Step {
        uint64_t ms;
        uint8_t input;
        uint8_t out;
    };
    const Step steps[] = {
        {100, 0, 0},  {200, 1, 0},   // within the first 500 ms after start
        {300, 0, 0},  {1000, 1, 1},  // accepted
        {1100, 0, 0}, {1200, 1, 0},  // 200 ms after the accepted edge
        {1300, 1, 0}, {1800, 1, 0},  // a rejected edge is not reported later
        {1900, 0, 0}, {1990, 1, 1},
        {2000, 0, 0}, {2480, 1, 0},  // 490 ms after the step of the accepted edge
        {2490, 0, 0}, {2500, 1, 1},  // 510 ms
        {2510, 2, 0}, {2520, 0, 0},  // any rise counts, but not 10 ms later
        {3100, 3, 1},
    };
    for (const Step& s : steps)
        EXPECT_EQ(at(s.ms, s.input), s.out) << "at " << s.ms << " ms";
}

TEST_F(PressEdge, ExactlyFiveHundredMillisecondsIsStillLockedOut)
{
    EXPECT_EQ(at(1000, 1), 1);
    EXPECT_EQ(at(1010, 0), 0);
    EXPECT_EQ(at(1500, 1), 0);
    EXPECT_EQ(at(1510, 0), 0);
    EXPECT_EQ(at(1520, 1), 1);
}

TEST_F(PressEdge, SurvivesTheMillisecondCounterWrapping)
{
    state_.last_ms = 0xFFFFFF00u;  // 256 ms before the wrap
    state_.elapsed = 0;
    EXPECT_EQ(at(100, 1), 0);      // 356 ms
    EXPECT_EQ(at(200, 0), 0);
    EXPECT_EQ(at(300, 1), 1);      // 556 ms
}

TEST(SigChange, ReportsEveryDifferenceFromThePreviousInput)
{
    sig_change_state s{};
    const uint8_t inputs[] = {0, 0, 1, 1, 0, 5, 3, 3};
    const uint8_t outs[] = {0, 0, 1, 0, 1, 1, 1, 0};
    for (size_t i = 0; i < std::size(inputs); ++i)
        EXPECT_EQ(sig_change(inputs[i], s), outs[i]) << "step " << i;
}

std::vector<uint32_t> mul(std::vector<uint32_t> a, std::vector<uint32_t> b, uint32_t nout)
{
    std::vector<uint32_t> out(nout, 0xDEADBEEF);
    sig_mul_words(a.data(), uint32_t(a.size()), b.data(), uint32_t(b.size()), out.data(), nout);
    return out;
}

TEST(SigMulWords, MatchesTwosComplementProducts)
{
    using V = std::vector<uint32_t>;
    EXPECT_EQ(mul({uint32_t(-3)}, {17}, 2), (V{uint32_t(-51), 0xFFFFFFFF}));
    EXPECT_EQ(mul({7}, {6}, 2), (V{42, 0}));
    EXPECT_EQ(mul({0x80000000}, {2}, 2), (V{0, 0xFFFFFFFF}));  // most negative word
    EXPECT_EQ(mul({0x7FFFFFFF}, {0xFFFFFFFF}, 2), (V{0x80000001, 0x7FFFFFFE}));
    EXPECT_EQ(mul({uint32_t(-1)}, {0xFFFFFFFF}, 1), (V{1}));   // low word only
    EXPECT_EQ(mul({uint32_t(-5)}, {0}, 2), (V{0, 0}));
    // Multi-word operands against 128-bit arithmetic.
    __extension__ typedef __int128 i128;
    __extension__ typedef unsigned __int128 u128;
    const i128 a = -(i128(0x123456789ABCDEFll) * 977);
    const u128 b = 0xFEDCBA9876543210ull;
    const u128 p = u128(a) * b;
    const V aw = {uint32_t(uint64_t(a)), uint32_t(uint64_t(a) >> 32),
                  uint32_t(uint64_t(a >> 64)), uint32_t(uint64_t(a >> 64) >> 32)};
    const V bw = {uint32_t(uint64_t(b)), uint32_t(uint64_t(b) >> 32)};
    const V pw = {uint32_t(uint64_t(p)), uint32_t(uint64_t(p) >> 32),
                  uint32_t(uint64_t(p >> 64)), uint32_t(uint64_t(p >> 64) >> 32)};
    EXPECT_EQ(mul(aw, bw, 4), pw);
    EXPECT_EQ(mul(aw, bw, 3), V(pw.begin(), pw.begin() + 3));
}

TEST(Selection, WrapsAroundTheRows)
{
    hmi_item_count.store(5);
    hmi_sel.store(3);
    sel_next();
    EXPECT_EQ(hmi_sel.load(), 4);
    sel_next();
    EXPECT_EQ(hmi_sel.load(), 0);
    sel_prev();
    EXPECT_EQ(hmi_sel.load(), 4);
    sel_prev();
    EXPECT_EQ(hmi_sel.load(), 3);

    hmi_item_count.store(0);  // an empty list
    hmi_sel.store(0);
    sel_prev();
    EXPECT_EQ(hmi_sel.load(), 255);
    sel_next();
    EXPECT_EQ(hmi_sel.load(), 0);
}

TEST(NonFinite, ConstantsAndTestsAgreeForDoubleAndFloat)
{
    model_nonfinite_init();
    EXPECT_EQ(std::bit_cast<uint64_t>(model_nan), 0xFFF8000000000000ull);
    EXPECT_TRUE(model_is_nan(model_nan));
    EXPECT_TRUE(model_is_nan(model_nan_f));
    EXPECT_TRUE(model_is_inf(model_inf));
    EXPECT_TRUE(model_is_inf(model_minus_inf));
    EXPECT_TRUE(model_is_inf(model_inf_f));
    EXPECT_TRUE(model_is_inf(model_minus_inf_f));
    EXPECT_GT(model_inf, 0.0);
    EXPECT_LT(model_minus_inf_f, 0.0f);
    for (double v : {0.0, -1.5, 1e308})
        EXPECT_FALSE(model_is_inf(v) || model_is_nan(v)) << v;
    for (float v : {0.0f, 3.4e38f})
        EXPECT_FALSE(model_is_inf(v) || model_is_nan(v)) << v;
    EXPECT_FALSE(model_is_inf(model_nan));
}

}  // namespace
