// The bus monitor on a fully loaded bus: one iteration is one second of a
// 250 kbit/s bus (1908 extended 8-byte frames) fed through the queue and
// drained and painted as the dock's timer does it, on the offscreen
// platform. The printed ratio is the monitor's CPU time per second of bus
// as a percentage of one core (the goal: under 5 %).
#include <QApplication>
#include <QTableView>
#include <cstdio>
#include <cstdlib>

#include "bench_report.h"
#include "host/qt/bus_monitor.h"

namespace {

double g_core_percent = -1.0;

void BM_MonitorOneSecondOfFullBus(benchmark::State& state)
{
    norvane::BusMonitorDock dock;
    dock.resize(700, 600);
    dock.show();
    QCoreApplication::processEvents();
    uint64_t sent = 0;
    uint64_t seconds = 0;
    for (auto _ : state) {
        constexpr int drains = 1000 / norvane::BusMonitorDock::DRAIN_MS;
        for (int drain = 0; drain < drains; ++drain) {
            const uint64_t due = (seconds * drains + uint64_t(drain) + 1) * 1908 / drains;
            for (; sent < due; ++sent) {
                can_frame f{};
                f.id = 0x18FFA0B0u + uint32_t(sent % 8);
                f.ext = 1;
                f.len = 8;
                f.time_us = sent * 524;
                dock.queue().push({f, 0, false});
            }
            dock.drain();
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
