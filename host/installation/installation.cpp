#include "host/installation/installation.h"

#include <algorithm>
#include <cmath>

#include "host/installation/module_kind.h"

namespace installation {

namespace {

// How often a module repeats what it has, in unit milliseconds. An input
// module sends each channel once a second, its ten channels 100 ms apart
// (so one frame every 100 ms per module), and at once on a change; the four
// modules are 25 ms apart. A power module sends status and codes every
// 100 ms, the eight 12 ms apart.
constexpr uint32_t CHANNEL_PERIOD_MS = 1000;
constexpr uint32_t CHANNEL_SPACING_MS = 100;
constexpr uint32_t INPUT_MODULE_SPACING_MS = 25;
constexpr uint32_t POWER_PERIOD_MS = 100;
constexpr uint32_t POWER_MODULE_SPACING_MS = 12;

bool due(uint32_t now, uint32_t at) { return int32_t(now - at) >= 0; }

can_frame extended_frame(uint32_t id, uint32_t now_ms)
{
    can_frame f{};
    f.id = id;
    f.ext = 1;
    f.len = 8;
    f.time_us = uint64_t(now_ms) * 1000;
    return f;
}

uint16_t curve_mv(const sender_curve& c, double percent)
{
    if (!std::isfinite(percent))
        percent = 0;
    double mv = c.empty_mv + (double(c.full_mv) - c.empty_mv) * percent / 100.0;
    double lo = std::min<double>(c.empty_mv, c.max_mv), hi = std::max<double>(c.empty_mv, c.max_mv);
    return uint16_t(std::lround(std::clamp(mv, lo, hi)));
}

double curve_percent(const sender_curve& c, uint16_t mv)
{
    if (c.full_mv == c.empty_mv)
        return 0;
    double p = (double(mv) - c.empty_mv) * 100.0 / (double(c.full_mv) - c.empty_mv);
    double top = (double(c.max_mv) - c.empty_mv) * 100.0 / (double(c.full_mv) - c.empty_mv);
    return std::clamp(p, 0.0, std::max(top, 0.0));
}

}  // namespace

double sender_top_percent(const sender_curve& c)
{
    return curve_percent(c, c.max_mv);
}

plant::plant(description d) : description_(std::move(d))
{
    for (bool& on : state_.module_on)
        on = true;
    for (bool& obeys : state_.obeying)
        obeys = true;
    // Every channel starts at its description's resting value: switches
    // off, senders at an empty tank, free analog channels at 0 V.
    for (int c = 0; c < INPUT_CHANNELS; ++c) {
        const channel_description& ch = description_.channels[ANALOG_MODULE][c];
        if (ch.tank >= 0 && ch.tank < TANK_COUNT)
            inputs_[ANALOG_MODULE][c].mv = curve_mv(ch.curve, 0);
        state_.analog_mv[c] = inputs_[ANALOG_MODULE][c].mv;
    }
}

int plant::module_by_name(const std::string& name) const
{
    for (int m = 0; m < MODULE_COUNT; ++m)
        if (description_.module_names[m] == name)
            return m;
    return -1;
}

void plant::queue_input(int m, int c, uint32_t now_ms)
{
    can_frame f = extended_frame(input_channel_id(m, c), now_ms);
    const input_channel& ch = inputs_[m][c];
    fill_input_channel_frame(m, ch.on, ch.mv, &f);
    out_.push_back(f);
    ++state_.frames_sent;
}

void plant::queue_power(int p)
{
    const output_view* o = state_.outputs[p];
    can_frame status = extended_frame(0, now_ms_);
    can_frame codes = extended_frame(0, now_ms_);
    fill_power_frames(p, o, &status, &codes);
    out_.push_back(status);
    out_.push_back(codes);
    state_.frames_sent += 2;
}

int plant::step(uint32_t now_ms)
{
    // Most unit milliseconds have nothing due and no setter touched the
    // plant: no lock then. next_due_ms_ and started_ are this thread's own.
    if (started_ && !dirty_.load(std::memory_order_acquire) && !due(now_ms, next_due_ms_))
        return 0;
    std::lock_guard<std::mutex> hold(state_lock_);
    if (!started_) {
        started_ = true;
        for (int m = 0; m < INPUT_MODULES; ++m) {
            for (int c = 0; c < INPUT_CHANNELS; ++c)
                next_channel_ms_[m][c] =
                    now_ms + uint32_t(m) * INPUT_MODULE_SPACING_MS + uint32_t(c) * CHANNEL_SPACING_MS;
            input_due_ms_[m] = now_ms;
        }
        for (int p = 0; p < POWER_MODULES; ++p)
            next_power_ms_[p] = now_ms + uint32_t(p) * POWER_MODULE_SPACING_MS;
    }
    now_ms_ = now_ms;
    // A setter may have touched any channel: look at every one.
    const bool touched = dirty_.exchange(false, std::memory_order_acq_rel);
    const size_t queued_before = out_.size();
    next_due_ms_ = now_ms + CHANNEL_PERIOD_MS;
    auto earliest = [](uint32_t& at, uint32_t candidate) {
        if (int32_t(candidate - at) < 0)
            at = candidate;
    };
    for (int m = 0; m < INPUT_MODULES; ++m) {
        if (!touched && !due(now_ms, input_due_ms_[m])) {
            earliest(next_due_ms_, input_due_ms_[m]);
            continue;
        }
        uint32_t module_due = now_ms + CHANNEL_PERIOD_MS;
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            input_channel& ch = inputs_[m][c];
            if (push_pending_[m][c]) {
                push_pending_[m][c] = false;
                ch.on = 1;
                ch.release_at = now_ms + std::max<uint32_t>(push_held_[m][c], 1);
                ch.changed = true;
            } else if (ch.release_at != 0 && due(now_ms, ch.release_at)) {
                ch.release_at = 0;
                ch.on = 0;
                ch.changed = true;
            }
            if (m < SWITCH_MODULES)
                state_.switch_on[m][c] = ch.on;
            bool periodic = due(now_ms, next_channel_ms_[m][c]);
            while (due(now_ms, next_channel_ms_[m][c]))
                next_channel_ms_[m][c] += CHANNEL_PERIOD_MS;
            // A silent module sends nothing; what changed meanwhile goes out
            // with its periodic frames once it is back.
            if (state_.module_on[m] && (ch.changed || periodic))
                queue_input(m, c, now_ms);
            ch.changed = false;
            earliest(module_due, next_channel_ms_[m][c]);
            if (ch.release_at != 0)
                earliest(module_due, ch.release_at);
        }
        input_due_ms_[m] = module_due;
        earliest(next_due_ms_, module_due);
    }
    for (int p = 0; p < POWER_MODULES; ++p) {
        bool periodic = due(now_ms, next_power_ms_[p]);
        while (due(now_ms, next_power_ms_[p]))
            next_power_ms_[p] += POWER_PERIOD_MS;
        if (periodic && state_.module_on[power_module_index(p)])
            queue_power(p);
        earliest(next_due_ms_, next_power_ms_[p]);
    }
    return int(out_.size() - queued_before);
}

void plant::on_frame_from_unit(const can_frame& frame)
{
    const int p = power_command_target(frame);
    if (p < 0)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    if (!state_.module_on[power_module_index(p)])
        return;
    ++state_.commands_taken;
    if (!state_.obeying[p])
        return;
    for (int o = 0; o < POWER_OUTPUTS; ++o)
        state_.outputs[p][o].command = power_command_of(frame, o);
}

int plant::take_frame(can_frame* out)
{
    std::lock_guard<std::mutex> hold(state_lock_);
    if (out_.empty())
        return 0;
    *out = out_.front();
    out_.pop_front();
    return 1;
}

void plant::set_switch(int senb, int channel, bool on)
{
    if (senb < 0 || senb >= SWITCH_MODULES || channel < 0 || channel >= INPUT_CHANNELS)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    input_channel& ch = inputs_[senb][channel];
    push_pending_[senb][channel] = false;
    ch.release_at = 0;
    if (ch.on != uint8_t(on)) {
        ch.on = uint8_t(on);
        ch.changed = true;
    }
    state_.switch_on[senb][channel] = ch.on;
}

void plant::push(int senb, int channel, uint32_t held_ms)
{
    if (senb < 0 || senb >= SWITCH_MODULES || channel < 0 || channel >= INPUT_CHANNELS)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    push_pending_[senb][channel] = true;
    push_held_[senb][channel] = held_ms;
    state_.switch_on[senb][channel] = 1;
}

void plant::set_tank_percent(int tank, double percent)
{
    for (int c = 0; c < INPUT_CHANNELS; ++c) {
        const channel_description& ch = description_.channels[ANALOG_MODULE][c];
        if (ch.tank != tank)
            continue;
        std::lock_guard<std::mutex> hold(state_lock_);
        dirty_.store(true, std::memory_order_release);
        uint16_t mv = curve_mv(ch.curve, percent);
        if (inputs_[ANALOG_MODULE][c].mv != mv)
            inputs_[ANALOG_MODULE][c].changed = true;
        inputs_[ANALOG_MODULE][c].mv = mv;
        state_.analog_mv[c] = mv;
        state_.tank_percent[tank] = curve_percent(ch.curve, mv);
    }
}

void plant::set_volts(int channel, double volts)
{
    if (channel < 0 || channel >= INPUT_CHANNELS)
        return;
    if (!std::isfinite(volts))
        volts = 0;
    uint16_t mv = uint16_t(std::lround(std::clamp(volts * 1000.0, 0.0, 65535.0)));
    const channel_description& ch = description_.channels[ANALOG_MODULE][channel];
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    if (inputs_[ANALOG_MODULE][channel].mv != mv)
        inputs_[ANALOG_MODULE][channel].changed = true;
    inputs_[ANALOG_MODULE][channel].mv = mv;
    state_.analog_mv[channel] = mv;
    if (ch.tank >= 0 && ch.tank < TANK_COUNT)
        state_.tank_percent[ch.tank] = curve_percent(ch.curve, mv);
}

void plant::set_fault(int pwrb, int output, uint8_t state, uint8_t code)
{
    if (pwrb < 0 || pwrb >= POWER_MODULES || output < 0 || output >= REPORTED_OUTPUTS)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    state_.outputs[pwrb][output].state = uint8_t(state & 3);
    state_.outputs[pwrb][output].code = uint8_t(code & 15);
}

void plant::set_module_on(int module, bool on)
{
    if (module < 0 || module >= MODULE_COUNT)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    state_.module_on[module] = on;
}

void plant::set_obeying(int pwrb, bool obeys)
{
    if (pwrb < 0 || pwrb >= POWER_MODULES)
        return;
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    state_.obeying[pwrb] = obeys;
}

snapshot plant::read() const
{
    std::lock_guard<std::mutex> hold(state_lock_);
    return state_;
}

}  // namespace installation
