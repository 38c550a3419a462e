#include "host/python/python_unit.h"

#include <atomic>
#include <map>
#include <string_view>

#include "host/core/host_keys.h"
#include "host/core/run_common.h"
#include "host/core/scenario.h"
#include "host/core/unit_workdir.h"
#include "seam/events.h"
#include "seam/unit.h"

namespace norvane {

namespace {

// The firmware's records are global: one unit at a time in a process.
std::atomic<bool> unit_alive{false};

// "python:1: reason" of the scenario parser without its place.
std::string reason_of(const std::string& error)
{
    const std::string place = "python:1: ";
    return error.compare(0, place.size(), place) == 0 ? error.substr(place.size()) : error;
}

}  // namespace

PythonUnit::PythonUnit(const unit_setup& setup) : workdir_(setup.workdir)
{
    installation::description layout = installation::default_description();
    std::string why;
    if (setup.installation && !setup.installation_file.empty() &&
        !installation::load_description(setup.installation_file, &layout, &why))
        throw bad_argument(why);
    bool expected = false;
    if (!unit_alive.compare_exchange_strong(expected, true))
        throw unit_error("a norvane.Unit is already open in this process: close the other one first "
                         "(the unit's firmware exists once per process)");
    try {
        // Whatever an earlier unit of this process left, the firmware starts
        // as the program does.
        app_reset();
        if (!prepare_unit_workdir(workdir_, why))
            throw unit_error("cannot use working folder '" + workdir_ + "': " + why);
        if (!map_port(0, "virtual", why))
            throw unit_error(why);
        if (!map_port(1, setup.can1, why))
            throw bad_argument("can1: " + why);
        session_ = std::make_unique<UnitSession>(setup.installation ? &layout : nullptr);
        session_->on_unit_sent([this](uint8_t port, uint64_t ms, const can_frame& frame) {
            record(port, ms * 1000u, true, "unit", frame);
            if (checking_)
                checking_->sent(port, ms, frame);
        });
        session_->watch_bus([this](const bus_event& e) {
            if (e.direction != bus_direction::to_unit)
                return;
            const uint64_t ms = hal_ms_clock();
            record(e.port, ms * 1000u, false, e.source ? e.source : "", e.frame);
            if (checking_)
                checking_->heard(e.port, ms, e.frame);
        });
        stepper_ = &session_->start_virtual();
        if (!report_can_ports(true, why))
            throw unit_error(why);
        // A frame is composed when someone may still look at it once the run
        // under way ended: frames shown only before its end are skipped.
        stepper_->frame_wanted = [this](uint64_t t) { return t + 50 > end_; };
        stepper_->after_step = [this](uint64_t) {
            if (sys_exit_requested())
                stepper_->stop();
        };
    } catch (...) {
        session_.reset();
        stepper_ = nullptr;
        unit_alive.store(false);
        throw;
    }
}

PythonUnit::~PythonUnit()
{
    close();
}

void PythonUnit::close()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!session_)
        return;
    UnitSession::release_all_keys();
    stepper_ = nullptr;
    session_.reset();
    unit_alive.store(false);
}

bool PythonUnit::closed() const
{
    return !session_;
}

void PythonUnit::need_open() const
{
    if (!session_)
        throw unit_error("the unit is closed");
}

installation::plant& PythonUnit::need_plant()
{
    need_open();
    if (!session_->plant())
        throw bad_argument("no installation is attached: open the unit with installation=True or a description file");
    return *session_->plant();
}

uint64_t PythonUnit::now()
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    return stepper_->now();
}

bool PythonUnit::has_installation()
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    return session_->plant() != nullptr;
}

void PythonUnit::record(uint8_t port, uint64_t time_us, bool from_unit, const char* source, const can_frame& frame)
{
    recorded_frame r;
    r.time_us = time_us;
    r.port = port;
    r.from_unit = from_unit;
    r.source = source;
    r.frame = frame;
    r.frame.time_us = time_us;
    record_.push_back(r);
}

void PythonUnit::advance(uint64_t ms)
{
    if (stepper_->stopped())
        throw unit_error("the unit asked to end at " + std::to_string(stepper_->now()) + " ms (exit code " +
                         std::to_string(sys_exit_code()) + ")");
    end_ = stepper_->now() + ms;
    stepper_->run_until(end_, [this](uint64_t t) { session_->step_installation(uint32_t(t)); });
}

void PythonUnit::run(uint64_t ms)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    if (ms > RUN_MAX_DURATION_MS - stepper_->now())
        throw bad_argument("the unit's clock would pass " + std::to_string(RUN_MAX_DURATION_MS) + " ms");
    advance(ms);
}

int64_t PythonUnit::run_until_frame(uint8_t port, size_t seen, uint64_t max_ms, const char* skip_source)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    const std::string_view skip = skip_source ? skip_source : "";
    for (uint64_t waited = 0;; ++waited) {
        for (; seen < record_.size(); ++seen)
            if (record_[seen].port == port && skip != record_[seen].source)
                return int64_t(seen);
        if (waited >= max_ms)
            return -1;
        advance(1);
    }
}

void PythonUnit::set_key(int button, bool down)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    if (button < 1 || button > 5)
        throw bad_argument("button must be 1 to 5, found " + std::to_string(button));
    UnitSession::set_key(button, down);
}

void PythonUnit::raise_event(int event)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    if (event < 0 || event > 1)
        throw bad_argument("event must be 0 or 1, found " + std::to_string(event));
    UnitSession::raise_event(event);
}

void PythonUnit::apply_plant(const std::string& words)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_plant();
    std::vector<scenario_action> actions;
    std::string error;
    if (!parse_scenario("0 " + words, "python", actions, error))
        throw bad_argument(reason_of(error));
    for (const scenario_action& action : actions) {
        if (action.kind != action_kind::plant)
            throw bad_argument("not an installation action: " + words);
        session_->apply_plant(action.plant);
    }
}

bool PythonUnit::send(uint8_t port, const can_frame& frame, const char* source)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    if (port >= CAN_PORT_COUNT)
        throw bad_argument("port must be 0 or 1, found " + std::to_string(port));
    return session_->send(port, frame, source);
}

const frame_buffer& PythonUnit::screen()
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    return stepper_->frame();
}

std::vector<recorded_frame> PythonUnit::frames_from(size_t from)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (from >= record_.size())
        return {};
    return {record_.begin() + std::ptrdiff_t(from), record_.end()};
}

size_t PythonUnit::frame_count()
{
    std::lock_guard<std::mutex> hold(lock_);
    return record_.size();
}

void PythonUnit::save_can_log(const std::string& path)
{
    std::lock_guard<std::mutex> hold(lock_);
    CanLog log;
    std::string why;
    if (!log.open(path, why))
        throw unit_error(why);
    for (const recorded_frame& r : record_)
        log.write(r.port, r.time_us / 1000u, r.frame);
    if (!log.close(why))
        throw unit_error(why);
}

bool PythonUnit::output(int pwrb, int out)
{
    std::lock_guard<std::mutex> hold(lock_);
    installation::plant& plant = need_plant();
    if (pwrb < 0 || pwrb >= installation::POWER_MODULES)
        throw bad_argument("expected a power module PWRB1 to PWRB8");
    if (out < 0 || out >= installation::POWER_OUTPUTS)
        throw bad_argument("output must be 1 to " + std::to_string(installation::POWER_OUTPUTS) + ", found " +
                           std::to_string(out + 1));
    return plant.read().outputs[pwrb][out].lit();
}

std::vector<std::pair<std::string, bool>> PythonUnit::outputs()
{
    std::lock_guard<std::mutex> hold(lock_);
    installation::plant& plant = need_plant();
    const installation::snapshot s = plant.read();
    const installation::description& d = plant.layout();
    // A label several outputs share (one circuit on many loads) names each
    // of them with its place: "INSIDE LIGHTS (PWRB1/3)".
    std::map<std::string, int> uses;
    for (int p = 0; p < installation::POWER_MODULES; ++p)
        for (int o = 0; o < installation::POWER_OUTPUTS; ++o)
            ++uses[d.output_labels[p][o]];
    std::vector<std::pair<std::string, bool>> loads;
    for (int p = 0; p < installation::POWER_MODULES; ++p)
        for (int o = 0; o < installation::POWER_OUTPUTS; ++o) {
            const std::string& label = d.output_labels[p][o];
            const std::string place = d.module_names[installation::power_module_index(p)] + "/" + std::to_string(o + 1);
            loads.emplace_back(label.empty() ? place : uses[label] > 1 ? label + " (" + place + ")" : label,
                               s.outputs[p][o].lit());
        }
    return loads;
}

std::string PythonUnit::expect(const std::string& words, const std::string& where, const std::string& reference,
                               const std::string& output_dir)
{
    std::lock_guard<std::mutex> hold(lock_);
    need_open();
    expectation e;
    e.ms = stepper_->now();
    e.where = where;
    const std::string why = parse_expectation(words, e);
    if (!why.empty())
        throw bad_argument(why);
    if (e.kind == expect_kind::screen)
        e.reference = reference;
    if (e.kind == expect_kind::output && !session_->plant())
        throw bad_argument("no installation is attached: open the unit with installation=True or a description file");
    check_options options;
    options.output_dir = output_dir;
    options.unit_dir = workdir_;
    ExpectationCheck check({e}, options);
    if (installation::plant* plant = session_->plant())
        check.attach_outputs([plant](int pwrb, int out) { return plant->read().outputs[pwrb][out].lit() ? 1 : 0; });
    if (e.kind == expect_kind::can || e.kind == expect_kind::no_can || e.kind == expect_kind::signal) {
        // The frames already on the bus at this millisecond count.
        for (const recorded_frame& r : record_)
            if (r.time_us >= e.ms * 1000u) {
                if (r.from_unit)
                    check.sent(r.port, r.time_us / 1000u, r.frame);
                else
                    check.heard(r.port, r.time_us / 1000u, r.frame);
            }
        const uint64_t last = e.ms + e.window_ms;
        checking_ = &check;
        try {
            while (stepper_->now() < last && check.outcomes()[0].state == expect_state::open && !stepper_->stopped())
                advance(1);
        } catch (...) {
            checking_ = nullptr;
            throw;
        }
        checking_ = nullptr;
        check.finished(stepper_->now(), stepper_->stopped());
    } else {
        check.before(e.ms + 1, stepper_->frame());
    }
    std::string failures;
    for (const std::string& line : check.failure_lines())
        failures += (failures.empty() ? "" : "\n") + line;
    return failures;
}

}  // namespace norvane
