#include "host/core/headless_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <iterator>

#include "can/can_candump.h"
#include "can/can_virtual.h"
#include "host/core/bitmap_file.h"
#include "host/core/can_port_report.h"
#include "host/core/firmware_runner.h"
#include "host/core/png_file.h"
#include "host/core/unit_workdir.h"
#include "runtime/events.h"
#include "runtime/hal.h"

namespace norvane {

const char* const RUN_USAGE =
    "usage: norvane-run [OPTIONS]\n"
    "Runs the display unit's firmware without a window: in virtual time (as fast as\n"
    "possible, deterministic) or, with --realtime, paced by the wall clock.\n"
    "\n"
    "  --workdir DIR          working folder of the unit (rootfs/, eeprom.dat); created if\n"
    "                         missing; default: the current folder\n"
    "  --duration MS          unit time to run, in milliseconds (default 10000, at most\n"
    "                         4294967295, where the unit's millisecond clock wraps)\n"
    "  --realtime             pace with the wall clock on two threads, as the window does;\n"
    "                         default: virtual time, as fast as possible, deterministic\n"
    "  --can0 MAPPING         back end of CAN port 0 (default: virtual)\n"
    "  --can1 MAPPING         back end of CAN port 1 (default: virtual)\n"
    "                         MAPPING: virtual, kvaser[:CHANNEL], cando[:SERIAL],\n"
    "                         trace:FILE, socketcan:IFACE\n"
    "  --scenario FILE        timed actions and expectations, see below; repeatable, and a\n"
    "                         folder stands for its *.txt files: several files run one\n"
    "                         after the other, each from a fresh unit in DIR/NAME (NAME:\n"
    "                         the file's name without .txt), with one report\n"
    "  --can-log FILE         every frame the unit sends, as a candump log\n"
    "  --screenshot MS:FILE   the screen as the window would show it at MS; repeatable\n"
    "  --junit FILE           a JUnit XML report: one test case per scenario file, one\n"
    "                         failure per failed expectation\n"
    "  --output DIR           where a failed 'expect screen' writes NAME_err.png (the\n"
    "                         screen and the difference); default: the working folder\n"
    "  --update-references    write the reference picture of every 'expect screen'\n"
    "                         instead of comparing\n"
    "  --quiet                no summary lines and no progress line\n"
    "  --help                 this text\n"
    "\n"
    "Scenario file: one line each, '#' starts a comment, times in unit milliseconds\n"
    "from the start, never decreasing:\n"
    "  MS press N            button N (1..5, as F1..F5) goes down\n"
    "  MS release N          button N goes up\n"
    "  MS event E            test event E (0 or 1), as Event 1 / Event 2\n"
    "  MS can P ID#DATA      a frame arrives on CAN port P (0 or 1), candump syntax:\n"
    "                        3 hex digits = standard id, 8 = extended; 0 to 8 data bytes\n"
    "  MS screenshot FILE    as --screenshot MS:FILE\n"
    "  MS exit               end the run at MS\n"
    "Expectations, checked in virtual time:\n"
    "  MS expect can P ID#DATA [within W]\n"
    "                        the unit sends that frame on port P between MS and MS+W\n"
    "                        (default 100); '..' stands for a data byte that does not matter\n"
    "  MS expect no-can P ID [for W]\n"
    "                        no frame with that identifier on port P from MS to MS+W\n"
    "                        (default 100)\n"
    "  MS expect screen FILE.png [max-diff N]\n"
    "                        the screen at MS is the reference picture FILE.png (relative\n"
    "                        to the scenario file's folder), with at most N pixels apart\n"
    "  MS expect pixel X Y RRGGBB\n"
    "                        the pixel at X, Y of the screen at MS has that colour\n"
    "  MS expect file PATH TEXT\n"
    "                        the file PATH of the unit's file system (/app/event/app_reply\n"
    "                        is DIR/rootfs/app/event/app_reply) holds exactly TEXT, the\n"
    "                        rest of the line; \\n, \\t, \\\\ and \\# stand for a line end, a\n"
    "                        tab, a backslash and '#'\n"
    "Each failed expectation prints FILE:LINE, the line and what was seen; then a\n"
    "summary 'N passed, M failed'.\n"
    "Screenshots: FILE.bmp is the window's Save Screen bitmap (320 x 240, 32 bits),\n"
    "FILE.png the same picture as PNG. Relative names are relative to the folder\n"
    "norvane-run was started in.\n"
    "On a terminal, a run that takes more than 2 s shows its progress on one line.\n"
    "\n"
    "Exit status: 0 the run ended and every expectation held; 1 an expectation\n"
    "failed, or a screenshot, the CAN log or the report could not be written;\n"
    "2 bad arguments, a bad scenario or a CAN port that cannot be opened (nothing\n"
    "ran). One line per CAN port on standard error says what it is mapped to and\n"
    "whether it opened.\n";

namespace {

bool is_virtual(const std::string& mapping)
{
    return mapping == "virtual";
}

bool map_port(uint8_t port, const std::string& mapping, std::string& why)
{
    char reason[256] = {};
    if (hal_can_map_port(port, mapping.c_str(), reason, sizeof reason))
        return true;
    why = reason;
    return false;
}

uint64_t can_refused()
{
    uint64_t refused = 0;
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        can_port_status status{};
        can_port_get_status(port, &status);
        refused += status.refused;
    }
    return refused;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void warn(const std::string& message)
{
    std::fprintf(stderr, "norvane-run: %s\n", message.c_str());
}

// Scenario frames dropped because a port's virtual bus was full (nothing
// reads a port the unit does not open), this run. The first drop of a port
// is said at once, the count at the end of the run.
uint64_t bus_full_drops[CAN_PORT_COUNT];

void note_bus_full(const scenario_action& action)
{
    if (bus_full_drops[action.value]++ == 0)
        warn(action.where + ": the virtual bus of port " + std::to_string(action.value) +
             " is full (nothing takes its frames); frames are dropped, counted at the end of the run");
}

void report_bus_full()
{
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        if (bus_full_drops[port])
            warn(std::to_string(bus_full_drops[port]) + " scenario frame(s) for port " + std::to_string(port) +
                 " dropped: its virtual bus was full");
        bus_full_drops[port] = 0;
    }
}

// One line per CAN port once the firmware opened its ports; every port was
// mapped (virtual by default), so one that cannot open ends the run.
bool report_can_ports(bool quiet, std::string& why)
{
    const bool all[CAN_PORT_COUNT] = {true, true};
    const can_port_check ports = check_can_ports(all);
    if (!quiet)
        for (const std::string& line : ports.lines)
            warn(line);
    if (ports.failed)
        why = ports.failure;
    return !ports.failed;
}

// Hands a button, event or CAN action to the firmware; the host's inputs are
// atomics and a locked bus, so any thread may do it. Screenshots and the exit
// are the run's own business.
void apply_input(const scenario_action& action)
{
    switch (action.kind) {
    case action_kind::press:
    case action_kind::release:
        VirtualStepper::set_key(action.value, action.kind == action_kind::press);
        break;
    case action_kind::event:
        hal_raise_event(action.value);
        break;
    case action_kind::can:
        if (can_virtual_inject(uint8_t(action.value), action.frame) != 0)
            note_bus_full(action);
        break;
    case action_kind::screenshot:
    case action_kind::exit:
        break;
    }
}

}  // namespace

int parse_run_arguments(int argc, const char* const* argv, run_options& options, std::string& error)
{
    std::vector<std::string> scenario_paths;
    std::vector<scenario_action> shots;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto value = [&]() -> std::string { return has_value ? argv[++i] : std::string(); };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return RUN_OK;
        }
        if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--realtime") {
            options.realtime = true;
        } else if (arg == "--update-references") {
            options.update_references = true;
        } else if (arg == "--workdir" || arg == "--scenario" || arg == "--can-log" || arg == "--junit" ||
                   arg == "--output") {
            const std::string v = value();
            if (v.empty()) {
                error = arg + " needs a " + (arg == "--workdir" || arg == "--output" ? "folder" : "file name");
                return RUN_BAD_INPUT;
            }
            if (arg == "--scenario")
                scenario_paths.push_back(v);
            else
                (arg == "--workdir" ? options.workdir : arg == "--can-log" ? options.can_log
                                                     : arg == "--junit"   ? options.junit
                                                                          : options.output_dir) = v;
        } else if (arg == "--duration") {
            if (!parse_ms(value(), options.duration_ms)) {
                error = "--duration needs a whole number of milliseconds";
                return RUN_BAD_INPUT;
            }
            if (options.duration_ms > RUN_MAX_DURATION_MS) {
                error = "--duration " + std::to_string(options.duration_ms) + ": at most " +
                        std::to_string(RUN_MAX_DURATION_MS) +
                        " ms (about 49.7 days), where the unit's millisecond clock wraps";
                return RUN_BAD_INPUT;
            }
        } else if (arg == "--can0" || arg == "--can1") {
            const uint8_t port = arg == "--can0" ? 0 : 1;
            const std::string v = value();
            std::string why;
            if (v.empty() || !map_port(port, v, why)) {
                error = arg + ": " + (v.empty() ? std::string("needs a mapping") : why);
                return RUN_BAD_INPUT;
            }
            options.can_mapping[port] = v;
        } else if (arg == "--screenshot") {
            const std::string v = value();
            const size_t colon = v.find(':');
            scenario_action shot;
            shot.kind = action_kind::screenshot;
            shot.where = "--screenshot " + v;
            if (colon == std::string::npos || !parse_ms(std::string_view(v).substr(0, colon), shot.ms) ||
                colon + 1 == v.size()) {
                error = "--screenshot needs MS:FILE, for example 2500:page.png";
                return RUN_BAD_INPUT;
            }
            shot.file = v.substr(colon + 1);
            if (!screenshot_format_known(shot.file)) {
                error = "--screenshot " + v + ": the file must end in .bmp or .png";
                return RUN_BAD_INPUT;
            }
            shots.push_back(shot);
        } else {
            error = "unknown option '" + arg + "'";
            return RUN_BAD_INPUT;
        }
    }

    for (const scenario_action& shot : shots)
        if (shot.ms > options.duration_ms) {
            error = shot.where + ": " + std::to_string(shot.ms) + " ms is after the end of the run (" +
                    std::to_string(options.duration_ms) + " ms)";
            return RUN_BAD_INPUT;
        }

    options.actions.clear();
    options.expectations.clear();
    if (!load_scenario_files(scenario_paths, options.scenarios, error))
        return RUN_BAD_INPUT;
    if (options.scenarios.size() > 1 && (!shots.empty() || !options.can_log.empty())) {
        error = std::string(shots.empty() ? "--can-log" : "--screenshot") +
                " takes one scenario file: each of several would write the same file";
        return RUN_BAD_INPUT;
    }
    for (const scenario_file& scenario : options.scenarios) {
        for (const scenario_action& action : scenario.actions)
            if (action.kind == action_kind::can && !is_virtual(options.can_mapping[action.value])) {
                error = action.where + ": CAN port " + std::to_string(action.value) + " is mapped to '" +
                        options.can_mapping[action.value] +
                        "'; scenario frames arrive only on a port mapped to 'virtual'";
                return RUN_BAD_INPUT;
            }
        if (!scenario.expectations.empty() && options.realtime) {
            error = scenario.expectations.front().where +
                    ": expectations are checked in virtual time; leave out --realtime";
            return RUN_BAD_INPUT;
        }
        uint64_t end_ms = options.duration_ms;
        for (const scenario_action& action : scenario.actions)
            if (action.kind == action_kind::exit)
                end_ms = std::min(end_ms, action.ms);
        for (const expectation& check : scenario.expectations) {
            const std::string why = expectation_after_end(check, end_ms);
            if (!why.empty()) {
                error = check.where + ": " + why;
                return RUN_BAD_INPUT;
            }
        }
    }
    if (options.scenarios.size() == 1) {
        options.actions = options.scenarios.front().actions;
        options.expectations = options.scenarios.front().expectations;
    }
    // The scenario is in order of time; the --screenshot requests join it.
    options.actions.insert(options.actions.end(), shots.begin(), shots.end());
    std::stable_sort(options.actions.begin(), options.actions.end(),
                     [](const scenario_action& a, const scenario_action& b) { return a.ms < b.ms; });
    return RUN_OK;
}

bool write_screenshot(const std::string& file, const frame_buffer& frame, std::string& why)
{
    std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool ok = ext == ".png" ? write_png(file, frame_to_rgb(frame), why)
                                  : write_bitmap_file(file, frame, why);
    if (!ok)
        why = "cannot write screenshot '" + file + "': " + why;
    return ok;
}

// CAN log

namespace {
void log_sent_frame(uint8_t port, const can_frame& frame, void* context)
{
    static_cast<CanLog*>(context)->write(port, hal_ms_clock(), frame);
}
}  // namespace

CanLog::~CanLog()
{
    std::string why;
    close(why);
}

bool CanLog::open(const std::string& path, std::string& why)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        why = "cannot write the CAN log '" + path + "': " + std::strerror(errno);
        return false;
    }
    failed_ = false;
    can_set_send_observer(log_sent_frame, this);
    return true;
}

void CanLog::write(uint8_t port, uint64_t ms, const can_frame& frame)
{
    if (!file_)
        return;
    const char iface[] = {'c', 'a', 'n', char('0' + port), '\0'};
    const std::string line = can_format_candump_line(ms * 1000, iface, frame);
    if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) < 0)
        failed_ = true;
}

bool CanLog::close(std::string& why)
{
    if (!file_)
        return true;
    can_set_send_observer(nullptr, nullptr);
    const bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    if (!ok)
        why = "the CAN log could not be written completely";
    return ok;
}

// Virtual time

VirtualRun::VirtualRun(run_options options) : options_(std::move(options))
{
    std::stable_sort(options_.actions.begin(), options_.actions.end(),
                     [](const scenario_action& a, const scenario_action& b) { return a.ms < b.ms; });
    end_ms_ = options_.duration_ms;
    for (const scenario_action& action : options_.actions) {
        if (action.kind == action_kind::exit && action.ms < end_ms_)
            end_ms_ = action.ms;
        if (action.kind == action_kind::screenshot) {
            shots_.push_back(&action);
            looks_.push_back(action.ms);
        }
    }
    for (const expectation& e : options_.expectations)
        if (e.kind == expect_kind::screen || e.kind == expect_kind::pixel)
            looks_.push_back(e.ms);
    std::sort(looks_.begin(), looks_.end());
    // A watcher other than the expectations' check may look at any frame.
    compose_all_ = options_.watcher && options_.expectations.empty();
}

// With a watcher, the log and the watcher both see each frame the unit sends.
void VirtualRun::watch_sent_frame(uint8_t port, const can_frame& frame, void* context)
{
    auto* run = static_cast<VirtualRun*>(context);
    run->log_.write(port, hal_ms_clock(), frame);
    run->options_.watcher->sent(port, hal_ms_clock(), frame);
}

VirtualRun::~VirtualRun()
{
    if (options_.watcher)
        can_set_send_observer(nullptr, nullptr);
}

bool VirtualRun::start(std::string& why)
{
    const auto wall_start = std::chrono::steady_clock::now();
    if (!prepare_unit_workdir(options_.workdir, why)) {
        why = "cannot use working folder '" + options_.workdir + "': " + why;
        return false;
    }
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
        if (!map_port(port, options_.can_mapping[port], why))
            return false;
    if (!options_.can_log.empty() && !log_.open(options_.can_log, why))
        return false;
    if (options_.watcher)
        can_set_send_observer(watch_sent_frame, this);

    std::fill(std::begin(bus_full_drops), std::end(bus_full_drops), 0);
    stepper_ = std::make_unique<VirtualStepper>();
    if (!report_can_ports(options_.quiet, why)) {
        start_status_ = RUN_BAD_INPUT;
        return false;
    }
    // Only the frames a screenshot or an expectation looks at are composed.
    stepper_->frame_wanted = [this](uint64_t t) {
        const auto next = std::lower_bound(looks_.begin(), looks_.end(), t + 25);
        return compose_all_ || (next != looks_.end() && step_frame_shown_at(t, *next));
    };
    stepper_->after_step = [this](uint64_t) {
        if (sys_exit_requested()) {
            firmware_exit_ = true;
            stepper_->stop();
        }
    };
    while (next_action_ < options_.actions.size() && options_.actions[next_action_].ms == 0)
        apply_input(options_.actions[next_action_++]);
    wall_s_ += seconds_since(wall_start);
    return true;
}

bool VirtualRun::ended() const
{
    return firmware_exit_ || now() >= end_ms_;
}

void VirtualRun::run_until(uint64_t t)
{
    if (!stepper_ || ended())
        return;
    const auto wall_start = std::chrono::steady_clock::now();
    const size_t count = options_.actions.size();
    stepper_->run_until(std::min(t, end_ms_), [this, count](uint64_t now) {
        take_screenshots_before(now);
        if (options_.watcher)
            options_.watcher->before(now, stepper_->frame());
        while (next_action_ < count && options_.actions[next_action_].ms <= now)
            apply_input(options_.actions[next_action_++]);
    });
    wall_s_ += seconds_since(wall_start);
}

run_result VirtualRun::finish()
{
    run_until(end_ms_);
    take_screenshots_before(now() + 1);
    if (options_.watcher) {
        options_.watcher->before(now() + 1, stepper_->frame());
        options_.watcher->finished(now(), firmware_exit_);
    }
    for (; next_shot_ < shots_.size(); ++next_shot_)
        warn(shots_[next_shot_]->where + ": no screenshot at " + std::to_string(shots_[next_shot_]->ms) +
             " ms: the run ended at " + std::to_string(now()) + " ms");
    report_bus_full();
    std::string why;
    if (!log_.close(why)) {
        warn(why);
        status_ = RUN_FILE_ERROR;
    }
    run_result result;
    result.ran = true;
    result.status = status_;
    result.unit_ms = now();
    result.wall_s = wall_s_;
    result.firmware_exit = firmware_exit_;
    result.can_refused = can_refused();
    return result;
}

void VirtualRun::take_screenshots_before(uint64_t t)
{
    while (next_shot_ < shots_.size() && shots_[next_shot_]->ms < t)
        screenshot(*shots_[next_shot_++], stepper_->frame());
}

void VirtualRun::screenshot(const scenario_action& action, const frame_buffer& frame)
{
    if (options_.on_screenshot) {
        options_.on_screenshot(action.file, frame);
        return;
    }
    std::string why;
    if (!write_screenshot(action.file, frame, why)) {
        warn(action.where + ": " + why);
        status_ = RUN_FILE_ERROR;
    }
}


// Real time

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
    if (!prepare_unit_workdir(options.workdir, why))
        return fail("cannot use working folder '" + options.workdir + "': " + why);
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
        if (!map_port(port, options.can_mapping[port], why))
            return fail(why);
    CanLog log;
    if (!options.can_log.empty() && !log.open(options.can_log, why))
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
    std::fill(std::begin(bus_full_drops), std::end(bus_full_drops), 0);
    FirmwareRunner runner(hooks);
    runner.init();
    if (!report_can_ports(options.quiet, why)) {
        warn(why);
        result.status = RUN_BAD_INPUT;
        return result;
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
        if (a.kind == action_kind::screenshot)
            take_screenshot(a);
        else
            apply_input(a);
    }
    wait_until(end_ms);
    runner.stop();
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
    if (!log.close(why)) {
        warn(why);
        result.status = RUN_FILE_ERROR;
    }
    result.ran = true;
    result.can_refused = can_refused();
    result.wall_s = seconds_since(wall_start);
    return result;
}

// The whole run

run_result run_headless(const run_options& options)
{
    if (options.realtime)
        return run_realtime(options);
    VirtualRun run(options);
    std::string why;
    if (!run.start(why)) {
        warn(why);
        run_result failed;
        failed.status = run.start_status();
        return failed;
    }
    return run.finish();
}

std::string run_summary(const run_result& result)
{
    const double seconds = double(result.unit_ms) / 1000.0;
    const double ratio = result.wall_s > 0 ? seconds / result.wall_s : 0.0;
    char line[128];
    std::snprintf(line, sizeof line, "ran %llu ms of unit time in %.3f s (%.*f x real time)",
                  static_cast<unsigned long long>(result.unit_ms), result.wall_s, ratio < 10 ? 2 : 0,
                  ratio);
    if (result.can_refused == 0)
        return line;
    return std::string(line) + "; " + std::to_string(result.can_refused) + " CAN frames refused by the bus";
}

}  // namespace norvane
