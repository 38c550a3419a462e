// The window's frame conversion (RGB565 -> 32-bit B, G, R, A, rows flipped)
// beside Qt's own QImage::convertToFormat(RGB16 -> RGB32) on the same frame.
// Goal: the conversion at least 5 times faster than Qt.
#include <benchmark/benchmark.h>

#include "bench_report.h"

#include <QImage>
#include <cstdio>
#include <vector>

#include "host/core/frame_convert.h"

namespace {

// A page-like frame: bands of flat colour, a gradient and every 16-bit value.
void fill_frame(gfx_color* frame)
{
    for (int i = 0; i < GFX_WIDTH * GFX_HEIGHT; ++i) {
        const int y = i / GFX_WIDTH;
        frame[i] = y < 60 ? gfx_color(0x001F) : y < 120 ? gfx_color(i * 7) : gfx_color(i);
    }
    frame[5] = 0x8000;
}

alignas(64) gfx_color g_frame[GFX_WIDTH * GFX_HEIGHT];
alignas(64) uint8_t g_image[norvane::SCREEN_IMAGE_BYTES];
double g_ours_ns = 0;
double g_qt_ns = 0;

void BM_ConvertBottomUp(benchmark::State& state)
{
    fill_frame(g_frame);
    for (auto _ : state) {
        norvane::convert_frame_bottom_up(g_frame, g_image);
        benchmark::DoNotOptimize(g_image);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertBottomUp);

void BM_ConvertTopDown(benchmark::State& state)
{
    fill_frame(g_frame);
    for (auto _ : state) {
        norvane::convert_frame_top_down(g_frame, g_image);
        benchmark::DoNotOptimize(g_image);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertTopDown);

void BM_QtConvertToFormat(benchmark::State& state)
{
    fill_frame(g_frame);
    const QImage source(reinterpret_cast<const uchar*>(g_frame), GFX_WIDTH, GFX_HEIGHT,
                        GFX_WIDTH * 2, QImage::Format_RGB16);
    for (auto _ : state) {
        QImage converted = source.convertToFormat(QImage::Format_RGB32);
        benchmark::DoNotOptimize(converted.constBits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_QtConvertToFormat);

void note_runs(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs) {
        const std::string name = run.benchmark_name();
        if (name == "BM_ConvertBottomUp" || name == "BM_ConvertBottomUp_median")
            g_ours_ns = run.GetAdjustedRealTime();
        else if (name == "BM_QtConvertToFormat" || name == "BM_QtConvertToFormat_median")
            g_qt_ns = run.GetAdjustedRealTime();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bench_run_all(argc, argv, note_runs);
    if (g_ours_ns > 0 && g_qt_ns > 0)
        std::printf("Qt convertToFormat / our conversion = %.1f x (goal >= 5)\n", g_qt_ns / g_ours_ns);
    return 0;
}
