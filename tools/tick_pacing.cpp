// norvane-tick-pacing: how well the 10 ms tick keeps its schedule on this
// machine. Runs the firmware's sys_tick on a thread paced exactly like the
// real-time runner's tick thread (periodic timerfd with absolute expiries,
// SCHED_FIFO when permitted) and prints the lateness of each wake-up against
// the absolute schedule (p50, p99, max) and the ticks lost to overruns.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/timerfd.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "host/core/firmware_runner.h"
#include "host/core/unit_workdir.h"
#include "seam/unit.h"

namespace {

const char* const USAGE =
    "usage: norvane-tick-pacing [--seconds N] [--busy N] [--normal-priority] [--workdir DIR]\n"
    "Measures the real-time pacing of the unit's 10 ms tick.\n"
    "\n"
    "  --seconds N         how long to measure (default 60)\n"
    "  --busy N            keep N extra threads spinning meanwhile, e.g. one per core\n"
    "  --normal-priority   do not ask for SCHED_FIFO\n"
    "  --workdir DIR       the unit's working folder (default: a folder under /tmp)\n"
    "  --help              this text\n";

int64_t now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool parse_count(std::string_view text, unsigned& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

double percentile(std::vector<int64_t>& v, double p)
{
    if (v.empty())
        return 0;
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size())));
    std::nth_element(v.begin(), v.begin() + ptrdiff_t(i), v.end());
    return double(v[i]) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned seconds = 60;
    unsigned busy = 0;
    bool fifo = true;
    std::string workdir = "/tmp/norvane-tick-pacing";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--seconds" && has_value && parse_count(argv[i + 1], seconds) && seconds > 0) {
            ++i;
        } else if (arg == "--busy" && has_value && parse_count(argv[i + 1], busy)) {
            ++i;
        } else if (arg == "--normal-priority") {
            fifo = false;
        } else if (arg == "--workdir" && has_value) {
            workdir = argv[++i];
        } else {
            std::fprintf(stderr, "norvane-tick-pacing: bad option '%s'\n%s", argv[i], USAGE);
            return 2;
        }
    }
    std::string why;
    if (!norvane::prepare_unit_workdir(workdir, why)) {
        std::fprintf(stderr, "norvane-tick-pacing: cannot use '%s': %s\n", workdir.c_str(), why.c_str());
        return 1;
    }
    app_init();
    app_start();

    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    for (unsigned i = 0; i < busy; ++i)
        spinners.emplace_back([&] {
            volatile uint64_t x = 0;
            while (!stop.load(std::memory_order_relaxed))
                x = x + 1;
        });

    const uint64_t total = uint64_t(seconds) * 100;
    std::vector<int64_t> lateness;
    lateness.reserve(total);
    uint64_t lost = 0;
    bool got_fifo = false;
    std::thread tick([&] {
        got_fifo = fifo && norvane::raise_thread_priority();
        const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        const int64_t period = 10000000;
        const int64_t first = now_ns() + period;
        itimerspec spec{};
        spec.it_interval.tv_nsec = period;
        spec.it_value.tv_sec = first / 1000000000;
        spec.it_value.tv_nsec = first % 1000000000;
        timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr);
        uint64_t expired = 0;
        while (expired < total) {
            const uint64_t n = norvane::wait_timer(fd, norvane::FirmwareRunner::WAIT_LIMIT_MS);
            if (n == 0)
                continue;
            const int64_t woke = now_ns();
            expired += n;
            lost += n - 1;
            // Lateness against the latest expiry this wake-up answers.
            lateness.push_back(woke - (first + int64_t(expired - 1) * period));
            sys_tick();
        }
        close(fd);
    });
    tick.join();
    stop = true;
    for (std::thread& t : spinners)
        t.join();

    std::vector<int64_t> sorted = lateness;
    const double p50 = percentile(sorted, 0.50);
    const double p99 = percentile(sorted, 0.99);
    const double max = sorted.empty() ? 0 : double(*std::max_element(sorted.begin(), sorted.end())) / 1e6;
    std::printf("%u s, %llu ticks, %s, %u busy threads\n", seconds, static_cast<unsigned long long>(total),
                got_fifo ? "SCHED_FIFO" : "normal priority", busy);
    std::printf("lateness p50 %.3f ms, p99 %.3f ms, max %.3f ms; lost ticks %llu (goal: none lost, p99 <= 0.5 ms)\n",
                p50, p99, max, static_cast<unsigned long long>(lost));
    return 0;
}
