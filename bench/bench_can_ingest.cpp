// Frames per second from the trace back end through can_poll_receive and
// can_rx_dispatch into the mailboxes. Goal: at least 100 times a fully
// loaded 250 kbit/s bus, which carries 1908 extended 8-byte frames a second.
#include <benchmark/benchmark.h>

#include "bench_report.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "can/can_port.h"
#include "can/can_trace_format.h"
#include "model/mailbox.h"
#include "platform/hal.h"

namespace {

constexpr double FULL_BUS_FRAMES_PER_S = 1908.0;
constexpr uint32_t TRACE_RECORDS = 4096;

uint64_t dispatched = 0;
double frames_per_s = 0;

// Port 0's extended-frame handler: counts what really reaches the mailboxes.
void counted_can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data)
{
    ++dispatched;
    can_rx_dispatch(id, len, data);
}

}  // namespace

namespace {

// A trace of the frames the installation's modules send, all due at once,
// so the port always has frames waiting; playback loops at the end of the
// file.
std::string write_trace()
{
    char path[] = "/tmp/bench-can-ingest-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return {};
    FILE* file = fdopen(fd, "wb");
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    can_trace_header(header);
    std::fwrite(header, 1, sizeof header, file);
    for (uint32_t i = 0; i < TRACE_RECORDS; ++i) {
        can_trace_record r{};
        // Input channels of SENB1..SENB4, then status and codes of PWRB1..PWRB8.
        switch (i % 3) {
        case 0:
            r.id = MSG_INPUT_CHANNEL + (i / 3 % 16) * 256u + 0x80u + i % INPUT_MODULE_COUNT;
            break;
        case 1:
            r.id = MSG_OUTPUT_STATUS + i % POWER_MODULE_COUNT;
            break;
        default:
            r.id = MSG_OUTPUT_CODES + i % POWER_MODULE_COUNT;
            break;
        }
        r.flags = CAN_TRACE_FLAG_EXT;
        r.len = 8;
        for (uint8_t b = 0; b < 8; ++b)
            r.data[b] = uint8_t(i + b);
        uint8_t raw[CAN_TRACE_RECORD_SIZE];
        can_trace_encode(r, raw);
        std::fwrite(raw, 1, sizeof raw, file);
    }
    std::fclose(file);
    return path;
}

void BM_IngestFromTrace(benchmark::State& state)
{
    const std::string path = write_trace();
    char why[600];
    if (path.empty() || !hal_can_map_port(0, ("trace:" + path).c_str(), why, sizeof why)) {
        state.SkipWithError("cannot make the trace");
        return;
    }
    can_init();
    can_set_receive_handlers(0, counted_can_rx_dispatch, nullptr);
    if (can_port_open(0) != 0) {
        state.SkipWithError("the trace port did not open");
        return;
    }
    const uint64_t before = dispatched;
    for (auto _ : state)
        can_poll_receive();
    const uint64_t frames = dispatched - before;
    state.counters["frames_per_s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["x_full_bus"] =
        benchmark::Counter(double(frames) / FULL_BUS_FRAMES_PER_S, benchmark::Counter::kIsRate);
    state.counters["frames_per_poll"] = double(frames) / double(state.iterations());
    std::remove(path.c_str());
}
BENCHMARK(BM_IngestFromTrace)->UseRealTime();

void note_runs(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs) {
        // With repetitions, the median stands for them all.
        if (run.run_type == bench_run::RT_Aggregate && run.aggregate_name != "median")
            continue;
        const auto it = run.counters.find("frames_per_s");
        if (it != run.counters.end())
            frames_per_s = it->second.value;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bench_run_all(argc, argv, note_runs);
    if (frames_per_s > 0)
        std::printf("ingest / full 250 kbit/s bus = %.0f (%.0f frames/s against %.0f; goal >= 100)\n",
                    frames_per_s / FULL_BUS_FRAMES_PER_S, frames_per_s, FULL_BUS_FRAMES_PER_S);
    return 0;
}
