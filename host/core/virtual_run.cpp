// A run in virtual time.
#include "host/core/headless_run.h"

#include <algorithm>

#include "host/core/run_common.h"
#include "host/core/unit_session.h"
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

VirtualRun::~VirtualRun() = default;

bool VirtualRun::start(std::string& why)
{
    const auto wall_start = std::chrono::steady_clock::now();
    if (!prepare_run(options_, why))
        return false;
    session_ = std::make_unique<UnitSession>(options_.installation ? &options_.installation_layout : nullptr);
    if (!session_->open_log(options_.can_log, options_.pcap, why))
        return false;
    if (run_watcher* watcher = options_.watcher) {
        // The checks see each frame the unit sends, and each one others put
        // on the bus (with the installation), after the CAN log.
        session_->on_unit_sent(
            [watcher](uint8_t port, uint64_t ms, const can_frame& frame) { watcher->sent(port, ms, frame); });
        if (session_->plant()) {
            session_->watch_bus([watcher](const bus_event& e) {
                if (e.direction == bus_direction::to_unit)
                    watcher->heard(e.port, hal_ms_clock(), e.frame);
            });
            watcher->attach_outputs([plant = session_->plant()](int pwrb, int output) {
                return plant->read().outputs[pwrb][output].lit() ? 1 : 0;
            });
        }
    }

    reset_bus_full();
    stepper_ = &session_->start_virtual();
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
        session_->step_installation(uint32_t(now));
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
    if (const uint64_t refused = session_->installation_refused())
        warn(std::to_string(refused) + " installation frame(s) dropped: the virtual bus of port 0 was full");
    if (session_->plant() && !options_.outputs_file.empty() &&
        !write_outputs_table(options_.outputs_file, *session_->plant(), why)) {
        warn(why);
        status_ = RUN_FILE_ERROR;
    }
    if (!session_->close_log(why)) {
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
    if (!session_->apply(action))
        note_bus_full(action);
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
