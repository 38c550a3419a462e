// Runs a program's registered benchmarks with the usual console output and
// hands every reported run to `note_runs`, so the program can print the ratio
// its goal is stated in once all runs are done.
#pragma once
#include <vector>

#include <benchmark/benchmark.h>

using bench_run = benchmark::BenchmarkReporter::Run;

inline void bench_run_all(int argc, char** argv, void (*note_runs)(const std::vector<bench_run>&))
{
    class reporter : public benchmark::ConsoleReporter {
    public:
        explicit reporter(void (*note)(const std::vector<bench_run>&)) : note_(note) {}
        void ReportRuns(const std::vector<Run>& runs) override
        {
            ConsoleReporter::ReportRuns(runs);
            note_(runs);
        }

    private:
        void (*note_)(const std::vector<bench_run>&);
    };
    benchmark::Initialize(&argc, argv);
    reporter console(note_runs);
    benchmark::RunSpecifiedBenchmarks(&console);
    benchmark::Shutdown();
}
