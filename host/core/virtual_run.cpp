// A run in virtual time.
#include "host/core/headless_run.h"

#include <algorithm>

#include "host/core/run_common.h"
#include "seam/unit.h"

namespace norvane {

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
    if (!prepare_run(options_, log_, why))
        return false;
    if (options_.watcher)
        can_set_send_observer(watch_sent_frame, this);

    reset_bus_full();
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
    if (options_.installation) {
        plant_ = std::make_unique<installation::plant>(options_.installation_layout);
        // The unit's commands reach the modules; what the modules and the
        // scenario put on the bus goes into the CAN log beside the unit's.
        hub_.subscribe([this](const bus_event& e) {
            if (installation::installation_hears(e))
                plant_->on_frame_from_unit(e.frame);
            if (e.direction == bus_direction::to_unit) {
                log_.write_now(e.port, e.frame);
                if (options_.watcher)
                    options_.watcher->heard(e.port, hal_ms_clock(), e.frame);
            }
        });
        if (options_.watcher)
            options_.watcher->attach_outputs(
                [this](int pwrb, int output) { return plant_->read().outputs[pwrb][output].lit() ? 1 : 0; });
    }
    while (next_action_ < options_.actions.size() && options_.actions[next_action_].ms == 0)
        apply(options_.actions[next_action_++]);
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
            apply(options_.actions[next_action_++]);
        if (plant_)
            step_installation(now);
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
    if (installation_refused_)
        warn(std::to_string(installation_refused_) + " installation frame(s) dropped: the virtual bus of port 0 was full");
    if (plant_ && !options_.outputs_file.empty() && !write_outputs_table(options_.outputs_file, *plant_, why)) {
        warn(why);
        status_ = RUN_FILE_ERROR;
    }
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

void VirtualRun::apply(const scenario_action& action)
{
    if (action.kind == action_kind::plant) {
        if (plant_)
            apply_plant(*plant_, action.plant);
        return;
    }
    if (plant_ && action.kind == action_kind::can) {
        if (hub_.inject(uint8_t(action.value), action.frame, "scenario") != 0)
            note_bus_full(action);
        return;
    }
    apply_input(action);
}

// Before unit millisecond `now`: the modules hear what the unit sent, step
// to `now` and put their frames on the bus.
void VirtualRun::step_installation(uint64_t now)
{
    installation_refused_ += installation::step_installation_on_hub(*plant_, hub_, uint32_t(now));
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

}  // namespace norvane
