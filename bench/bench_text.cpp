// The circuit page's strings drawn with gfx_draw_text against
// QPainter::drawText into a 320 x 240 RGB16 QImage with the same face and
// pixel sizes. Goal: gfx_draw_text at least 3x faster than QPainter.
// BM_FirmwareText also counts the font engine's heap requests per frame: 0
// means every glyph came from the cache (FreeType 2.12's cache manager drops
// glyphs unless its allocator zero-fills; see text.cpp). BM_FirmwareTextCold
// starts each frame from an empty cache, for comparison. Both draw every
// string afresh (kept text runs off); BM_FirmwareTextKept repaints the page
// as the screens do, overlay cleared and strings drawn again, and counts how
// many draws came from kept runs.
#include <benchmark/benchmark.h>

#include "bench_report.h"

#include <QByteArray>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "gfx/assets.h"
#include "gfx/gfx.h"
#include "gfx/image.h"
#include "gfx/text.h"

namespace {

const char* const TITLE = "LIGHTING & SOUND";
const char* const ROWS[] = {"INSIDE LIGHTS", "DECK LIGHTS", "ANCHOR LIGHT",
                            "SAILING LIGHT", "DINGHY LIGHTS", "FRONT SPEAKERS"};
constexpr int TITLE_Y = 8;
constexpr int ROW_X = 12;
constexpr int ROW_Y0 = 44;
constexpr int ROW_PITCH = 30;

double g_firmware_ns = 0, g_firmware_cpu_ns = 0;
double g_qt_ns = 0, g_qt_cpu_ns = 0;
double g_kept_ns = 0, g_kept_cpu_ns = 0;

void draw_page_text()
{
    gfx_set_text_style(24, TEXT_ALIGN_CENTER, 0);
    gfx_draw_text(160, TITLE_Y, TITLE);
    gfx_set_text_style(18, TEXT_ALIGN_LEFT, 0);
    for (int i = 0; i < 6; ++i)
        gfx_draw_text(ROW_X, ROW_Y0 + ROW_PITCH * i, ROWS[i]);
}

// The circuit page: black background, transparent overlay, white text.
void prepare_layers()
{
    text_build_blend_table();
    gfx_set_fill_color(0xFFFF);
    gfx_clear_layers();
    gfx_set_layer(GFX_LAYER_BACKGROUND);
    gfx_draw_image(0, 0, &img_page_background);
    gfx_set_layer(GFX_LAYER_OVERLAY_BLEND);
    gfx_set_text_color(0xFFFE);
}

void BM_FirmwareText(benchmark::State& state)
{
    prepare_layers();
    text_set_run_cache(false);
    text_init_fonts(text_fonts, TEXT_FONT_COUNT);
    draw_page_text();  // first draw fills the cache
    const uint64_t before = text_engine_allocations();
    for (auto _ : state) {
        draw_page_text();
        benchmark::ClobberMemory();
    }
    state.counters["engine_allocs_per_frame"] =
        double(text_engine_allocations() - before) / double(state.iterations());
    text_set_run_cache(true);
}
BENCHMARK(BM_FirmwareText);

void BM_FirmwareTextKept(benchmark::State& state)
{
    prepare_layers();
    text_set_run_cache(true);
    text_init_fonts(text_fonts, TEXT_FONT_COUNT);
    auto repaint = [] {
        gfx_set_fill_color(GFX_KEY_COLOR);
        gfx_fill_rect(0, 0, GFX_WIDTH - 1, GFX_HEIGHT - 1);
        draw_page_text();
    };
    repaint();  // keeps the runs
    const uint64_t hits = text_run_hits();
    for (auto _ : state) {
        repaint();
        benchmark::ClobberMemory();
    }
    state.counters["kept_per_frame"] = double(text_run_hits() - hits) / double(state.iterations());
}
BENCHMARK(BM_FirmwareTextKept);

void BM_FirmwareTextCold(benchmark::State& state)
{
    prepare_layers();
    text_set_run_cache(false);
    for (auto _ : state) {
        text_init_fonts(text_fonts, TEXT_FONT_COUNT);
        draw_page_text();
        benchmark::ClobberMemory();
    }
    text_set_run_cache(true);
}
BENCHMARK(BM_FirmwareTextCold);

void BM_QPainterText(benchmark::State& state)
{
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(text_fonts[0].data),
                                                    qsizetype(*text_fonts[0].length));
    const int id = QFontDatabase::addApplicationFontFromData(data);
    if (id < 0) {
        state.SkipWithError("Qt cannot load the embedded face");
        return;
    }
    QFont title(QFontDatabase::applicationFontFamilies(id).at(0));
    title.setPixelSize(24);
    QFont row = title;
    row.setPixelSize(18);

    QImage image(GFX_WIDTH, GFX_HEIGHT, QImage::Format_RGB16);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::white);
    for (auto _ : state) {
        painter.setFont(title);
        painter.drawText(QRect(0, TITLE_Y, GFX_WIDTH, 30), Qt::AlignHCenter | Qt::AlignTop, TITLE);
        painter.setFont(row);
        for (int i = 0; i < 6; ++i)
            painter.drawText(QRect(ROW_X, ROW_Y0 + ROW_PITCH * i, GFX_WIDTH - ROW_X, 24),
                             Qt::AlignLeft | Qt::AlignTop, ROWS[i]);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_QPainterText);

void note_runs(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs) {
        // Single runs, or the medians of --benchmark_repetitions.
        std::string name = run.benchmark_name();
        if (name.size() > 7 && name.compare(name.size() - 7, 7, "_median") == 0)
            name.resize(name.size() - 7);
        if (name == "BM_FirmwareText") {
            g_firmware_ns = run.GetAdjustedRealTime();
            g_firmware_cpu_ns = run.GetAdjustedCPUTime();
        } else if (name == "BM_FirmwareTextKept") {
            g_kept_ns = run.GetAdjustedRealTime();
            g_kept_cpu_ns = run.GetAdjustedCPUTime();
        } else if (name == "BM_QPainterText") {
            g_qt_ns = run.GetAdjustedRealTime();
            g_qt_cpu_ns = run.GetAdjustedCPUTime();
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Qt's font database needs an application; no window is opened.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qt_argc = 1;
    char qt_name[] = "bench_text";
    char* qt_argv[] = {qt_name, nullptr};
    QGuiApplication app(qt_argc, qt_argv);

    bench_run_all(argc, argv, note_runs);
    // CPU time as well: on a shared machine it is the steadier figure.
    if (g_firmware_ns > 0 && g_qt_ns > 0)
        std::printf("QPainter / gfx_draw_text = %.2f real time, %.2f CPU time (goal >= 3)\n",
                    g_qt_ns / g_firmware_ns, g_qt_cpu_ns / g_firmware_cpu_ns);
    if (g_firmware_ns > 0 && g_kept_ns > 0)
        std::printf("drawn afresh / page repaint from kept runs (overlay clear included) = %.1f real "
                    "time, %.1f CPU time\n",
                    g_firmware_ns / g_kept_ns, g_firmware_cpu_ns / g_kept_cpu_ns);
    return 0;
}
