// norvane-tick-pacing: how well the 10 ms tick keeps its schedule on this
// machine. Runs the firmware's sys_tick on a thread paced exactly like the
// real-time runner's tick thread (periodic timerfd with absolute expiries,
// the runner's scheduling request) and prints the lateness of each wake-up
// against the absolute schedule (percentiles and maximum) and the ticks lost
// to overruns. With --hogs it makes the load itself: CPU hogs that keep the
// cores busy for the whole run.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "host/core/firmware_runner.h"
#include "host/core/unit_workdir.h"
#include "runtime/app.h"

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
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
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

// CPU hogs: processes that spin until killed, each pinned to one core, in a
// session of their own and ended with this process.
class Hogs {
public:
    explicit Hogs(unsigned count)
    {
        const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
        const pid_t parent = ::getpid();
        for (unsigned i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::setsid();
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent)
                    ::_exit(0);
                cpu_set_t set;
                CPU_ZERO(&set);
                CPU_SET(int(i % unsigned(cores)), &set);
                ::sched_setaffinity(0, sizeof set, &set);
                volatile uint64_t x = 0;
                for (;;)
                    x = x + 1;
            }
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~Hogs()
    {
        for (pid_t pid : pids_)
            ::kill(pid, SIGKILL);
        for (pid_t pid : pids_)
            ::waitpid(pid, nullptr, 0);
    }
    Hogs(const Hogs&) = delete;
    Hogs& operator=(const Hogs&) = delete;
    size_t count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

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
            r.scheduling = "SCHED_FIFO";
        else
            r.scheduling = how == way::runner ? "normal priority (SCHED_FIFO refused)" : "normal priority";
        const uint64_t total = uint64_t(seconds) * 1000000000 / uint64_t(PERIOD_NS);
        r.lateness.reserve(r.lateness.size() + total);
        const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        const int64_t first = now_ns() + PERIOD_NS;
        itimerspec spec{};
        spec.it_interval.tv_nsec = PERIOD_NS;
        spec.it_value.tv_sec = first / 1000000000;
        spec.it_value.tv_nsec = first % 1000000000;
        timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr);
        timespec cpu_start{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_start);
        uint64_t expired = 0;
        while (expired < total) {
            const uint64_t n = norvane::wait_timer(fd, norvane::FirmwareRunner::WAIT_LIMIT_MS);
            if (n == 0)
                continue;
            const int64_t woke = now_ns();
            expired += n;
            r.lost += n - 1;
            // Lateness against the latest expiry this wake-up answers.
            r.lateness.push_back(woke - (first + int64_t(expired - 1) * PERIOD_NS));
            sys_tick();
        }
        timespec cpu_end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_end);
        r.cpu_ms += double(cpu_end.tv_sec - cpu_start.tv_sec) * 1e3 +
                    double(cpu_end.tv_nsec - cpu_start.tv_nsec) / 1e6;
        close(fd);
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
                std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
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
