// The bus monitor on a fully loaded bus: one iteration is one second of a
// 250 kbit/s bus (1908 extended 8-byte frames of the bus's 66 identifiers,
// data changing) fed through the queue and drained and painted as the
// dock's timer does it, on the offscreen platform, with the per-identifier
// view shown, its signals decoded and a row's details open. The printed ratio is the monitor's CPU time per second of bus
// as a percentage of one core (the goal: under 5 %).
#include <QApplication>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_report.h"
#include "host/qt/bus_monitor.h"

namespace {

double g_core_percent = -1.0;

void BM_MonitorOneSecondOfFullBus(benchmark::State& state)
{
    norvane::BusMonitorDock dock;
    dock.resize(700, 600);
    dock.show();
    dock.show_view(1);
    QCoreApplication::processEvents();
    // The identifiers of the bus: the channel frames, status and codes.
    std::vector<uint32_t> ids;
    for (uint32_t c = 0; c < 10; ++c)
        for (uint32_t m = 0; m < 4; ++m)
            ids.push_back(0x18FF0080u + c * 256u + m);
    for (uint32_t p = 0; p < 8; ++p) {
        ids.push_back(0x18FFA0B0u + p);
        ids.push_back(0x18FFA1B0u + p);
    }
    bool selected = false;
    uint64_t sent = 0;
    uint64_t seconds = 0;
    for (auto _ : state) {
        constexpr int drains = 1000 / norvane::BusMonitorDock::DRAIN_MS;
        for (int drain = 0; drain < drains; ++drain) {
            const uint64_t due = (seconds * drains + uint64_t(drain) + 1) * 1908 / drains;
            for (; sent < due; ++sent) {
                can_frame f{};
                f.id = ids[sent % ids.size()];
                f.ext = 1;
                f.len = 8;
                f.data[0] = 10;
                f.data[1] = 1;
                f.data[2] = uint8_t(sent / ids.size());
                f.time_us = sent * 524;
                dock.queue().push({f, 0, false, norvane::BusSource::module});
            }
            dock.drain();
            if (!selected) {
                if (auto* table = dock.findChild<QTableView*>("busIdentifiers"); table && table->model()->rowCount()) {
                    table->selectRow(0);
                    selected = true;
                }
            }
            QCoreApplication::processEvents();  // the repaint
        }
        ++seconds;
    }
    state.counters["rows"] = static_cast<double>(dock.model().rowCount());
}
BENCHMARK(BM_MonitorOneSecondOfFullBus)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void note(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs)
        if (run.run_name.function_name == "BM_MonitorOneSecondOfFullBus" && run.iterations > 0)
            g_core_percent = 100.0 * run.GetAdjustedCPUTime() / 1000.0;  // ms per bus second
}

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qt_argc = 1;
    char name[] = "bench_bus_monitor";
    char* qt_argv[] = {name, nullptr};
    QApplication app(qt_argc, qt_argv);
    bench_run_all(argc, argv, note);
    if (g_core_percent >= 0)
        std::printf("bus monitor at 1908 frames/s: %.2f %% of one core (goal: under 5 %%)\n", g_core_percent);
    return 0;
}
