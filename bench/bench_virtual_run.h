// Times a virtual-time run of the unit span by span: the run starts, goes past
// its warm-up, and each benchmark iteration runs one more span of unit time.
// The counter x_real_time is unit time over wall time.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "host/core/headless_run.h"

inline void bench_virtual_run_spans(benchmark::State& state, const norvane::run_options& options,
                                    uint64_t warm_up_ms, uint64_t span_ms)
{
    std::filesystem::create_directories(options.workdir);
    norvane::VirtualRun run(options);
    std::string why;
    if (!run.start(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    run.run_until(warm_up_ms);
    for (auto _ : state)
        run.run_until(run.now() + span_ms);
    state.counters["x_real_time"] =
        benchmark::Counter(double(span_ms) / 1000.0, benchmark::Counter::kIsIterationInvariantRate);
    run.finish();
    std::filesystem::remove_all(options.workdir);
}
