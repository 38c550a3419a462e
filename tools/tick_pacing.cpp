// norvane-tick-pacing: how well the 10 ms tick keeps its schedule on this
// machine. Runs the firmware's sys_tick on a thread paced exactly like the
// real-time runner's tick thread (its periodic timer with absolute
// expiries, the runner's scheduling request) and prints the lateness of each wake-up
// against the absolute schedule (percentiles and maximum) and the ticks lost
// to overruns. With --hogs it makes the load itself: CPU hogs that keep the
// cores busy for the whole run.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/core/firmware_runner.h"
#include "host/core/periodic_timer.h"
#include "host/core/unit_workdir.h"
#include "seam/unit.h"
#include "tick_load.h"

namespace {

const char* const USAGE =
    "usage: norvane-tick-pacing [--seconds N] [--hogs N] [--normal-priority | --compare]\n"
    "                           [--workdir DIR]\n"
    "Measures the real-time pacing of the unit's 10 ms tick: the lateness of each\n"
    "tick against its absolute schedule (p50, p90, p99, p99.9, max) and the ticks lost.\n"
    "\n"
    "  --seconds N         how long to measure each way (default 60)\n"
    "  --hogs N            start N CPU hog processes for the whole run, hog i pinned to\n"
    "                      core i (modulo the cores), each in a session of its own as\n"
    "                      unrelated programs are; --hogs $(nproc) keeps every core busy\n"
    "  --normal-priority   do not ask for SCHED_FIFO (as the runner when it is refused)\n"
    "  --compare           SCHED_FIFO (where allowed) and normal priority taking turns\n"
    "                      in 5 s blocks, so that both see the same load\n"
    "  --workdir DIR       the unit's working folder (default: a folder under /tmp)\n"
    "  --help              this text\n"
    "Default: the runner's own choice, SCHED_FIFO where allowed.\n"
    "Goal: p99 at most 0.5 ms and no tick lost.\n";

constexpr int64_t PERIOD_NS = int64_t(norvane::FirmwareRunner::TICK_PERIOD_MS) * 1000000;

enum class way { runner, normal_priority };

constexpr unsigned BLOCK_SECONDS = 5;

int64_t now_ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

bool parse_count(std::string_view text, unsigned& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// The value below which a fraction p of the sorted values lie, in ms.
double percentile(const std::vector<int64_t>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t i = std::min(sorted.size() - 1, size_t(p * double(sorted.size())));
    return double(sorted[i]) / 1e6;
}

struct result {
    std::string scheduling;
    std::vector<int64_t> lateness;  // ns, sorted
    uint64_t lost = 0;
    double cpu_ms = 0;  // the tick thread's own CPU time
};

// Ticks for `seconds` on a thread of its own, scheduled the given way,
// adding to `r`.
void measure(way how, unsigned seconds, result& r)
{
    std::thread tick([&] {
        if (how == way::runner && norvane::raise_thread_priority())
            r.scheduling = realtime_priority_name();
        else
            r.scheduling = how == way::runner ? std::string("normal priority (") + realtime_priority_name() + " refused)"
                                              : "normal priority";
        const uint64_t total = uint64_t(seconds) * 1000000000 / uint64_t(PERIOD_NS);
        r.lateness.reserve(r.lateness.size() + total);
        norvane::PeriodicTimer timer;
        const int64_t first = now_ns() + PERIOD_NS;
        timer.arm(norvane::FirmwareRunner::TICK_PERIOD_MS);
        const double cpu_start = thread_cpu_ms();
        uint64_t expired = 0;
        while (expired < total) {
            const uint64_t n = timer.wait(norvane::FirmwareRunner::WAIT_LIMIT_MS);
            if (n == 0)
                continue;
            const int64_t woke = now_ns();
            expired += n;
            r.lost += n - 1;
            // Lateness against the latest expiry this wake-up answers.
            r.lateness.push_back(woke - (first + int64_t(expired - 1) * PERIOD_NS));
            sys_tick();
        }
        r.cpu_ms += thread_cpu_ms() - cpu_start;
    });
    tick.join();
}

void print(const result& r)
{
    const double p99 = percentile(r.lateness, 0.99);
    const double max = r.lateness.empty() ? 0 : double(r.lateness.back()) / 1e6;
    std::printf("%s:\n  lateness p50 %.3f ms, p90 %.3f ms, p99 %.3f ms, p99.9 %.3f ms, max %.3f ms; "
                "lost ticks %llu; tick CPU %.0f ms; goal %s\n",
                r.scheduling.c_str(), percentile(r.lateness, 0.50), percentile(r.lateness, 0.90), p99,
                percentile(r.lateness, 0.999), max, static_cast<unsigned long long>(r.lost), r.cpu_ms,
                p99 <= 0.5 && r.lost == 0 ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned seconds = 60;
    unsigned hogs = 0;
    std::vector<way> ways;
    std::string workdir = "/tmp/norvane-tick-pacing";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--seconds" && has_value && parse_count(argv[i + 1], seconds) && seconds > 0) {
            ++i;
        } else if (arg == "--hogs" && has_value && parse_count(argv[i + 1], hogs)) {
            ++i;
        } else if (arg == "--normal-priority" && ways.empty()) {
            ways = {way::normal_priority};
        } else if (arg == "--compare" && ways.empty()) {
            ways = {way::runner, way::normal_priority};
        } else if (arg == "--workdir" && has_value) {
            workdir = argv[++i];
        } else {
            std::fprintf(stderr, "norvane-tick-pacing: bad option '%s'%s\n%s", argv[i],
                         (arg == "--normal-priority" || arg == "--compare")
                             ? " (one of --normal-priority, --compare)"
                             : "",
                         USAGE);
            return 2;
        }
    }
    if (ways.empty())
        ways = {way::runner};

    // Before any thread exists: the hogs are forked from a one-threaded process.
    Hogs load(hogs);
    std::string why;
    if (!norvane::prepare_unit_workdir(workdir, why)) {
        std::fprintf(stderr, "norvane-tick-pacing: cannot use '%s': %s\n", workdir.c_str(), why.c_str());
        return 1;
    }
    app_init();
    app_start();

    // Several ways take turns in blocks of a few seconds, so that each sees
    // the same load from the rest of the machine.
    const unsigned block = ways.size() > 1 ? std::min(seconds, BLOCK_SECONDS) : seconds;
    std::printf("%u s each%s, %u ticks of %d ms, %zu CPU hogs on %ld cores\n", seconds,
                ways.size() > 1 ? ", taking turns" : "",
                unsigned(uint64_t(seconds) * 1000000000 / uint64_t(PERIOD_NS)),
                norvane::FirmwareRunner::TICK_PERIOD_MS, load.count(),
                online_cores());
    std::fflush(stdout);
    std::vector<result> results(ways.size());
    for (unsigned done = 0; done < seconds; done += block)
        for (size_t i = 0; i < ways.size(); ++i)
            measure(ways[i], std::min(block, seconds - done), results[i]);
    for (result& r : results) {
        std::sort(r.lateness.begin(), r.lateness.end());
        print(r);
    }
    std::printf("goal: p99 <= 0.5 ms, no tick lost\n");
    return 0;
}
