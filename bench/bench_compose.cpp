// gfx_compose against the memory bound: a plain loop that reads two 153,600-
// byte buffers and writes one. Goal: compose within 1.5x of the bound.
#include <benchmark/benchmark.h>

#include "bench_report.h"

#include <cstdio>
#include <cstring>

#include "gfx/gfx.h"

namespace {

// A typical page: mostly transparent overlay with text-like runs of colour.
void fill_typical_page()
{
    for (int i = 0; i < GFX_WIDTH * GFX_LAYER_ROWS; ++i) {
        gfx_background[i] = gfx_color(i * 7);
        const int x = i % GFX_WIDTH;
        const int y = i / GFX_WIDTH;
        gfx_overlay[i] = ((y / 18) % 2 == 0 && (x / 5) % 3 == 0) ? gfx_color(0x0000) : GFX_KEY_COLOR;
    }
}

alignas(64) gfx_color bound_a[GFX_WIDTH * GFX_HEIGHT];
alignas(64) gfx_color bound_b[GFX_WIDTH * GFX_HEIGHT];
alignas(64) gfx_color bound_out[GFX_WIDTH * GFX_HEIGHT];

void bound_loop(gfx_color* __restrict out, const gfx_color* __restrict a,
                const gfx_color* __restrict b)
{
    for (int i = 0; i < GFX_WIDTH * GFX_HEIGHT; ++i)
        out[i] = gfx_color(a[i] ^ b[i]);
}

double g_compose_ns = 0;
double g_bound_ns = 0;

void BM_MemoryBound(benchmark::State& state)
{
    std::memset(bound_a, 0x12, sizeof bound_a);
    std::memset(bound_b, 0x34, sizeof bound_b);
    for (auto _ : state) {
        bound_loop(bound_out, bound_a, bound_b);
        benchmark::DoNotOptimize(bound_out);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemoryBound);

void BM_Compose(benchmark::State& state)
{
    fill_typical_page();
    const uint8_t reveal = uint8_t(state.range(0));
    for (auto _ : state) {
        gfx_compose_into(gfx_output[0], reveal);
        benchmark::DoNotOptimize(gfx_output);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Compose)->Arg(0)->Arg(22);

// Reports compose / bound from the medians of the runs above.
void note_runs(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs) {
        const double ns = run.GetAdjustedRealTime();
        const std::string name = run.benchmark_name();
        if (name.rfind("BM_MemoryBound", 0) == 0)
            g_bound_ns = ns;
        else if (name == "BM_Compose/0")
            g_compose_ns = ns;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bench_run_all(argc, argv, note_runs);
    if (g_bound_ns > 0 && g_compose_ns > 0)
        std::printf("compose / memory bound = %.2f (goal <= 1.5)\n", g_compose_ns / g_bound_ns);
    return 0;
}
