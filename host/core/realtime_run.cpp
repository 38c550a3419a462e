// A run on the firmware's two threads, paced by the wall clock.
#include "host/core/headless_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "host/core/firmware_runner.h"
#include "host/core/run_common.h"
#include "host/core/unit_session.h"
#include "seam/unit.h"

namespace norvane {

namespace {

// The last frames the firmware thread took, each with the unit time it was
// taken at, so the main thread can find the one shown at a screenshot's time.
class FrameHistory {
public:
    void put(uint64_t ms, const frame_buffer& frame)
    {
        std::lock_guard<std::mutex> guard(lock_);
        slot& s = slots_[next_++ % SLOTS];
        s.ms = ms;
        s.frame = frame;
        s.used = true;
    }
    // The newest frame taken at or before `ms`; false when there is none.
    bool at_or_before(uint64_t ms, frame_buffer& out) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        const slot* best = nullptr;
        for (const slot& s : slots_)
            if (s.used && s.ms <= ms && (!best || s.ms > best->ms))
                best = &s;
        if (best)
            out = best->frame;
        return best != nullptr;
    }

private:
    static constexpr size_t SLOTS = 8;  // 200 ms of main steps
    struct slot {
        uint64_t ms = 0;
        frame_buffer frame{};
        bool used = false;
    };
    mutable std::mutex lock_;
    slot slots_[SLOTS];
    size_t next_ = 0;
};

}  // namespace

run_result run_realtime(const run_options& options)
{
    // A screenshot waits this long past its time, so the main step due at
    // that time has finished and handed over its frame.
    constexpr uint64_t SCREENSHOT_DELAY_MS = 30;

    run_result result;
    const auto wall_start = std::chrono::steady_clock::now();
    auto fail = [&](const std::string& reason) {
        warn(reason);
        result.status = RUN_FILE_ERROR;
        return result;
    };
    std::string why;
    if (!prepare_run(options, why))
        return fail(why);
    UnitSession session(options.installation ? &options.installation_layout : nullptr);
    if (!session.open_log(options.can_log, options.pcap, why))
        return fail(why);

    // What is due when: actions at their time, screenshots a little later.
    uint64_t end_ms = options.duration_ms;
    struct due_action {
        uint64_t due;
        const scenario_action* action;
    };
    std::vector<due_action> schedule;
    for (const scenario_action& a : options.actions) {
        if (a.kind == action_kind::exit)
            end_ms = std::min(end_ms, a.ms);
        schedule.push_back({a.kind == action_kind::screenshot ? a.ms + SCREENSHOT_DELAY_MS : a.ms, &a});
    }
    std::stable_sort(schedule.begin(), schedule.end(),
                     [](const due_action& a, const due_action& b) { return a.due < b.due; });

    auto frames = std::make_unique<FrameHistory>();  // 1.2 MB: not on the stack
    std::mutex lock;
    std::condition_variable wake;
    bool firmware_exit = false;
    uint64_t exit_ms = 0;
    RunnerHooks hooks;
    hooks.take_frame = [&frames](const frame_buffer& frame) { frames->put(hal_ms_clock(), frame); };
    hooks.exit_requested = [&](int32_t) {
        std::lock_guard<std::mutex> guard(lock);
        firmware_exit = true;
        exit_ms = hal_ms_clock();
        wake.notify_all();
    };
    reset_bus_full();
    // The installation steps on the unit's thread after each main step; this
    // thread applies the scenario's actions (the plant's setters are under
    // its lock).
    FirmwareRunner& runner = session.make_realtime(hooks);
    runner.init();
    if (!report_can_ports(options.quiet, why)) {
        warn(why);
        result.status = RUN_BAD_INPUT;
        return result;
    }
    // The bus server starts before the unit, so a client sees it from its
    // first frame. With the installation on its port it serves the whole bus
    // through the hub.
    if (options.bus_server_can_port >= 0) {
        if (!session.start_bus_server(options.bus_server_host, options.bus_server_port,
                                      uint8_t(options.bus_server_can_port),
                                      [](const std::string& line) { warn(line); }, why)) {
            warn(why);
            result.status = RUN_BAD_INPUT;
            return result;
        }
    }
    runner.start();
    runner.set_paused(false);

    // Waits until unit time `ms` or the firmware's exit request; true at the time.
    auto wait_until = [&](uint64_t ms) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (firmware_exit)
                return false;
            const uint64_t now = hal_ms_clock();
            if (now >= ms)
                return true;
            wake.wait_for(guard, std::chrono::milliseconds(ms - now));
        }
    };
    auto take_screenshot = [&](const scenario_action& a) {
        frame_buffer frame{};
        frames->at_or_before(a.ms, frame);  // before the first step: the black screen
        if (options.on_screenshot) {
            options.on_screenshot(a.file, frame);
        } else if (!write_screenshot(a.file, frame, why)) {
            warn(a.where + ": " + why);
            result.status = RUN_FILE_ERROR;
        }
    };

    size_t next = 0;
    for (; next < schedule.size() && schedule[next].due <= end_ms; ++next) {
        if (!wait_until(schedule[next].due))
            break;
        const scenario_action& a = *schedule[next].action;
        if (a.kind == action_kind::screenshot) {
            take_screenshot(a);
        } else if (!session.apply(a)) {
            note_bus_full(a);
        }
    }
    wait_until(end_ms);
    session.stop();
    session.stop_bus_server();
    result.firmware_exit = firmware_exit;
    result.unit_ms = firmware_exit ? exit_ms : std::min<uint64_t>(hal_ms_clock(), end_ms);

    // Screenshots due after the end: those at or before it come from the
    // frames already taken.
    for (; next < schedule.size(); ++next) {
        const scenario_action& a = *schedule[next].action;
        if (a.kind != action_kind::screenshot)
            continue;
        if (a.ms <= result.unit_ms)
            take_screenshot(a);
        else
            warn(a.where + ": no screenshot at " + std::to_string(a.ms) + " ms: the run ended at " +
                 std::to_string(result.unit_ms) + " ms");
    }
    report_bus_full();
    if (const uint64_t refused = session.installation_refused())
        warn(std::to_string(refused) + " installation frame(s) dropped: the virtual bus of port 0 was full");
    if (session.plant() && !options.outputs_file.empty() &&
        !write_outputs_table(options.outputs_file, *session.plant(), why)) {
        warn(why);
        result.status = RUN_FILE_ERROR;
    }
    if (!session.close_log(why)) {
        warn(why);
        result.status = RUN_FILE_ERROR;
    }
    result.ran = true;
    result.can_refused = can_refused();
    result.wall_s = seconds_since(wall_start);
    return result;
}

}  // namespace norvane
