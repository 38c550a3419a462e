// The plant, generic over the module kinds: it holds every module's state
// (module_kind.h), steps the modules that have something due in bus order,
// hands each frame from the unit to the module whose kind hears it, and
// applies the verbs' actions, all under its one lock.
#include "host/installation/installation.h"

#include <cstdint>

#include "host/installation/module_kind.h"

namespace installation {

plant::plant(description d) : description_(std::move(d))
{
    for (int m = 0; m < module_count(); ++m) {
        int n = 0;
        const module_kind* kind = module_kind_of(m, &n);
        modules_.push_back(kind->make_state(description_, n, state_));
    }
    module_due_ms_.assign(modules_.size(), 0);
}

plant::~plant() = default;

int plant::module_by_name(const std::string& name) const
{
    for (int m = 0; m < module_count(); ++m)
        if (description_.module_names[size_t(m)] == name)
            return m;
    return -1;
}

int plant::step(uint32_t now_ms)
{
    // Most unit milliseconds have nothing due and no setter touched the
    // plant: no lock then. next_due_ms_ and started_ are this thread's own.
    if (started_ && !dirty_.load(std::memory_order_acquire) && !module_due(now_ms, next_due_ms_))
        return 0;
    std::lock_guard<std::mutex> hold(state_lock_);
    if (!started_) {
        started_ = true;
        for (size_t m = 0; m < modules_.size(); ++m) {
            modules_[m]->start(now_ms);
            module_due_ms_[m] = now_ms;
        }
    }
    // A setter may have touched any module: look at every one.
    const bool touched = dirty_.exchange(false, std::memory_order_acq_rel);
    const size_t queued_before = out_.size();
    // The modules in bus order, so the frames of one millisecond go out in
    // that order.
    next_due_ms_ = now_ms + INT32_MAX;
    for (size_t m = 0; m < modules_.size(); ++m) {
        if (touched || module_due(now_ms, module_due_ms_[m]))
            module_due_ms_[m] = modules_[m]->step(now_ms, state_.module_on[m], out_, state_);
        module_earliest(next_due_ms_, module_due_ms_[m]);
    }
    state_.frames_sent += out_.size() - queued_before;
    return int(out_.size() - queued_before);
}

void plant::on_frame_from_unit(const can_frame& frame)
{
    for (int k = 0; const module_kind* kind = module_kind_at(k); ++k) {
        const int n = kind->hears ? kind->hears(frame) : -1;
        if (n < 0)
            continue;
        const size_t m = size_t(module_index(kind, n));
        std::lock_guard<std::mutex> hold(state_lock_);
        modules_[m]->on_frame(frame, state_.module_on[m], state_);
        return;
    }
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

void plant::act(const plant_action& a)
{
    if (!a.verb || a.module < 0 || a.module >= int(modules_.size()))
        return;
    const size_t m = size_t(a.module);
    std::lock_guard<std::mutex> hold(state_lock_);
    dirty_.store(true, std::memory_order_release);
    if (a.verb != module_verb())
        modules_[m]->act(a, state_);
    else if (a.state == 0)
        state_.module_on[m] = a.on;
    else
        modules_[m]->set_setting(a.on, state_);
}

void plant::set_module_on(int module, bool on)
{
    plant_action a;
    a.verb = module_verb();
    a.module = module;
    a.on = on;
    act(a);
}

snapshot plant::read() const
{
    std::lock_guard<std::mutex> hold(state_lock_);
    return state_;
}

}  // namespace installation
