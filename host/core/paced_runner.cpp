#include "host/core/paced_runner.h"

#include <algorithm>

#include "host/core/run_watcher.h"
#include "host/core/unit_session.h"
#include "host/core/virtual_stepper.h"
#include "seam/unit.h"

namespace norvane {

namespace {
// A frame the window has not asked for yet is kept anyway this often, so a
// window that takes frames slowly still sees the newest one.
constexpr auto KEEP_STALE_AFTER = std::chrono::milliseconds(15);
// The speed reached is measured over this much wall time.
constexpr auto SPEED_SPAN = std::chrono::milliseconds(500);
// As fast as possible: the unit time between two looks at the queue's
// works, the pause and the frame.
constexpr uint64_t FAST_CHUNK_MS = 25;
// The shortest sleep of the pacer.
constexpr auto MIN_SLEEP = std::chrono::milliseconds(4);
}  // namespace

PacedRunner::PacedRunner(UnitSession& session, hooks h) : session_(session), hooks_(std::move(h))
{
    stepper_ = &session_.start_virtual();
    stepper_->after_step = [this](uint64_t t) {
        main_steps_.store(stepper_->main_steps(), std::memory_order_relaxed);
        if (hooks_.after_step)
            hooks_.after_step(t);
        if (frame_wanted_.load(std::memory_order_acquire))
            keep_frame();
        if (!exit_seen_ && sys_exit_requested() != 0) {
            exit_seen_ = true;
            stepper_->stop();
            if (hooks_.exit_requested)
                hooks_.exit_requested(sys_exit_code());
        }
    };
}

PacedRunner::~PacedRunner()
{
    stop();
}

void PacedRunner::start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { thread_main(); });
}

void PacedRunner::stop()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        paused_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void PacedRunner::set_speed(double speed)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        speed_.store(speed < 0 ? AS_FAST_AS_POSSIBLE : speed, std::memory_order_relaxed);
        rebase_ = true;
    }
    wake_.notify_all();
}

bool PacedRunner::set_paused(bool paused)
{
    std::unique_lock<std::mutex> hold(lock_);
    const bool previous = paused_.exchange(paused, std::memory_order_acq_rel);
    run_until_ = 0;
    rebase_ = true;
    wake_.notify_all();
    if (paused && thread_.joinable())
        settled_.wait(hold, [this] { return !running_ms_ || stop_; });
    return previous;
}

void PacedRunner::run_for(uint64_t ms)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (ms == 0)
            return;
        run_until_ = std::max(now_.load(std::memory_order_relaxed), run_until_) + ms;
        rebase_ = true;
    }
    wake_.notify_all();
}

RunnerStats PacedRunner::stats() const
{
    return {main_steps_.load(std::memory_order_relaxed), ticks_.load(std::memory_order_relaxed), 0};
}

void PacedRunner::post(const scenario_action& action)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        inputs_.push_back(action);
        pending_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void PacedRunner::post_work(std::function<void(uint64_t)> work)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        works_.push_back(std::move(work));
    }
    wake_.notify_all();
}

void PacedRunner::set_script(std::vector<scenario_action> actions, run_watcher* watcher, uint64_t end_ms,
                             std::function<void(uint64_t, bool)> ended)
{
    std::stable_sort(actions.begin(), actions.end(),
                     [](const scenario_action& a, const scenario_action& b) { return a.ms < b.ms; });
    script_ = std::move(actions);
    next_script_ = 0;
    watcher_ = watcher;
    script_end_ = end_ms;
    script_done_ = std::move(ended);
    for (const scenario_action& a : script_)
        if (a.kind == action_kind::exit)
            script_end_ = std::min(script_end_, a.ms);
    // Actions at 0 come before the first millisecond, as in a virtual run.
    while (next_script_ < script_.size() && script_[next_script_].ms == 0)
        session_.apply(script_[next_script_++]);
}

bool PacedRunner::take_frame(frame_buffer& out)
{
    std::lock_guard<std::mutex> hold(frame_lock_);
    if (!kept_new_)
        return false;
    out = kept_;
    kept_new_ = false;
    frame_wanted_.store(true, std::memory_order_release);
    return true;
}

void PacedRunner::keep_frame()
{
    {
        std::lock_guard<std::mutex> hold(frame_lock_);
        kept_ = stepper_->frame();
        kept_new_ = true;
        frame_wanted_.store(false, std::memory_order_release);
    }
    last_kept_ = clock::now();
    if (hooks_.frame_kept)
        hooks_.frame_kept();
}

void PacedRunner::run_ms(uint64_t t)
{
    if (watcher_)
        watcher_->before(t, stepper_->frame());
    while (next_script_ < script_.size() && script_[next_script_].ms <= t)
        session_.apply(script_[next_script_++]);
    if (pending_.load(std::memory_order_acquire)) {
        std::vector<scenario_action> due;
        {
            std::lock_guard<std::mutex> hold(lock_);
            due.swap(inputs_);
            pending_.store(false, std::memory_order_release);
        }
        for (scenario_action& a : due) {
            a.ms = t;
            session_.apply(a);
            if (hooks_.applied)
                hooks_.applied(a);
        }
    }
    session_.step_installation(uint32_t(t));
}

void PacedRunner::run_works_locked(std::unique_lock<std::mutex>& hold)
{
    while (!works_.empty()) {
        std::vector<std::function<void(uint64_t)>> works;
        works.swap(works_);
        hold.unlock();
        for (const auto& work : works)
            work(stepper_->now());
        hold.lock();
    }
}

void PacedRunner::pause_self(std::unique_lock<std::mutex>& hold)
{
    paused_.store(true, std::memory_order_release);
    run_until_ = 0;
    // The hook runs without the lock: it may take locks of its own that
    // callers of this class hold while they call in.
    if (hooks_.paused) {
        hold.unlock();
        hooks_.paused();
        hold.lock();
    }
}

void PacedRunner::thread_main()
{
    std::unique_lock<std::mutex> hold(lock_);
    clock::time_point base_wall{};
    uint64_t base_unit = 0;
    clock::time_point mark_wall{};
    uint64_t mark_unit = 0;
    bool stale = false;  // a main step ran since the frame was last kept
    const std::function<void(uint64_t)> before = [this](uint64_t t) { run_ms(t); };
    while (!stop_) {
        run_works_locked(hold);
        if (stop_)
            break;
        const bool budget = run_until_ != 0;
        const bool ended = exit_seen_;
        if ((paused_.load(std::memory_order_acquire) && !budget) || ended) {
            if (stale) {
                keep_frame();
                stale = false;
            }
            if (ended && !paused_.load(std::memory_order_acquire)) {
                pause_self(hold);
                continue;  // the lock was let go: look again
            }
            reached_.store(0.0, std::memory_order_relaxed);
            rebase_ = true;
            settled_.notify_all();
            wake_.wait(hold);
            continue;
        }
        const clock::time_point wall = clock::now();
        const uint64_t now = stepper_->now();
        if (rebase_) {
            base_wall = mark_wall = wall;
            base_unit = mark_unit = now;
            rebase_ = false;
        }
        const double speed = speed_.load(std::memory_order_relaxed);
        uint64_t target = now + FAST_CHUNK_MS;
        if (speed > 0) {
            const double elapsed_ms = std::chrono::duration<double, std::milli>(wall - base_wall).count();
            target = base_unit + uint64_t(elapsed_ms * speed);
            if (target > now + CATCH_UP_MS) {
                // Too far behind (a loaded machine): the lag is dropped; the
                // speed reached shows it.
                base_wall = wall;
                base_unit = now;
                target = now + 1;
            }
            if (target <= now) {
                // Asleep until the next millisecond is due, but a few wall
                // milliseconds at least: the unit then runs a few
                // milliseconds at a time rather than waking for each; an
                // input waits only for its millisecond.
                const auto due = base_wall + std::chrono::duration_cast<clock::duration>(
                                                 std::chrono::duration<double, std::milli>(double(now + 1 - base_unit) / speed));
                wake_.wait_until(hold, pending_.load(std::memory_order_relaxed) ? due : std::max(due, wall + MIN_SLEEP));
                continue;
            }
        }
        if (budget)
            target = std::min(target, run_until_);
        if (watcher_ && script_end_ > now)
            target = std::min(target, script_end_);
        running_ms_ = true;
        hold.unlock();
        const uint64_t steps_before = stepper_->main_steps();
        while (stepper_->now() < target && !stepper_->stopped()) {
            if (paused_.load(std::memory_order_acquire) && !budget)
                break;
            stepper_->advance(1, before);
            ticks_.store(stepper_->ticks(), std::memory_order_relaxed);
            now_.store(stepper_->now(), std::memory_order_release);
        }
        stale = stale || stepper_->main_steps() != steps_before;
        const uint64_t reached = stepper_->now();
        // The script's end: its last checks, its verdict, and a pause; the
        // unit may run on from there without it.
        bool script_ended = false;
        if (watcher_ && (reached >= script_end_ || exit_seen_)) {
            watcher_->before(reached + 1, stepper_->frame());
            watcher_->finished(reached, exit_seen_);
            watcher_ = nullptr;
            script_.clear();
            script_ended = true;
            if (script_done_)
                script_done_(reached, exit_seen_);
        }
        const clock::time_point after = clock::now();
        if (stale && after - last_kept_ >= KEEP_STALE_AFTER) {
            keep_frame();
            stale = false;
        }
        hold.lock();
        running_ms_ = false;
        if ((budget && run_until_ != 0 && reached >= run_until_) || script_ended)
            pause_self(hold);
        if (after - mark_wall >= SPEED_SPAN) {
            const double wall_ms = std::chrono::duration<double, std::milli>(after - mark_wall).count();
            reached_.store(double(reached - mark_unit) / wall_ms, std::memory_order_relaxed);
            mark_wall = after;
            mark_unit = reached;
        }
        settled_.notify_all();
    }
    running_ms_ = false;
    settled_.notify_all();
}

}  // namespace norvane
