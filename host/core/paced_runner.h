// The unit in the window: the firmware runs in unit time on one thread, in
// the virtual stepper's order (each millisecond its inputs, the
// installation's step, the tick, the main step), and a pacer holds that unit
// time to the wall clock at a chosen speed (1x, 2x, ..., or as fast as the
// machine allows). Whatever a person or a network client does waits in a
// queue and is applied by the unit's thread at the start of a unit
// millisecond, through the session's one path for a scenario's actions, at
// the very point of the millisecond where norvane-run applies a scenario
// line. So each input has the unit time it acted at, and a file of those
// inputs replays exactly in virtual time: a late wall clock makes the unit
// slower, never different.
//
// Threads: the window's thread calls everything here; the hooks and the
// posted work run on the unit's thread. Pausing waits until the unit's thread
// stands between two milliseconds, so while paused the window may read the
// firmware's state (its frame, its outputs) itself.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "host/core/firmware_runner.h"
#include "host/core/scenario.h"
#include "seam/frame.h"

namespace norvane {

class UnitSession;
class VirtualStepper;
class run_watcher;

class PacedRunner {
public:
    // The speed for "as fast as the machine allows".
    static constexpr double AS_FAST_AS_POSSIBLE = 0.0;
    // Unit time the pacer runs at once when it is behind the wall clock;
    // beyond it the lag is dropped rather than run in a burst.
    static constexpr uint64_t CATCH_UP_MS = 250;

    struct hooks {
        // Unit thread, after each main step at unit time `t`: the serial
        // flush.
        std::function<void(uint64_t t)> after_step{};
        // Unit thread: a new frame was kept for the window (frame()).
        std::function<void()> frame_kept{};
        // Unit thread: the runner paused by itself (a Run For ended, the
        // firmware asked to end, a script ended).
        std::function<void()> paused{};
        // Unit thread, once: the firmware asked to end.
        std::function<void(int32_t code)> exit_requested{};
        // Unit thread: an input was applied at unit time action.ms (a press,
        // release, event, frame or plant action).
        std::function<void(const scenario_action& action)> applied{};
    };

    // Boots the firmware in virtual time on this thread (the session's
    // stepper: app_init and app_start; the working folder is prepared).
    PacedRunner(UnitSession& session, hooks h);
    ~PacedRunner();  // stop()
    PacedRunner(const PacedRunner&) = delete;
    PacedRunner& operator=(const PacedRunner&) = delete;

    // Starts the unit's thread, paused.
    void start();
    // Ends the unit's thread; the unit runs no more.
    void stop();

    // Unit milliseconds per wall millisecond, or AS_FAST_AS_POSSIBLE.
    void set_speed(double speed);
    double speed() const { return speed_.load(std::memory_order_relaxed); }
    // The speed the unit reached over the last half second or so of running.
    double speed_reached() const { return reached_.load(std::memory_order_relaxed); }

    // Returns the previous state. Pausing returns once the unit's thread
    // stands between two milliseconds.
    bool set_paused(bool paused);
    bool is_paused() const { return paused_.load(std::memory_order_acquire); }
    // Runs `ms` of unit time at the chosen speed, then pauses (Step: 25, a
    // tick: 10, Run For...). Runs from where the unit stands, paused or not.
    void run_for(uint64_t ms);

    // The unit time the firmware has run to (whole milliseconds done).
    uint64_t now() const { return now_.load(std::memory_order_acquire); }
    RunnerStats stats() const;

    // An input for the unit: applied at the start of the next unit
    // millisecond (its ms is set then). Any thread.
    void post(const scenario_action& action);
    // Work for the unit's thread between two milliseconds, with the unit
    // time done: it may read the firmware and the installation (checks).
    // Runs while paused too. Any thread.
    void post_work(std::function<void(uint64_t now)> work);

    // A script to follow from where the unit stands (while paused, at 0 for
    // a replay): actions applied at their times, the watcher's before() at
    // each millisecond; at `end_ms` (or an exit action's time, or the
    // firmware's exit request) the watcher's last look and finished(), then
    // `ended` on the unit's thread, then a pause. The unit runs on without
    // the script after that.
    void set_script(std::vector<scenario_action> actions, run_watcher* watcher, uint64_t end_ms,
                    std::function<void(uint64_t end_ms, bool firmware_exit)> ended);

    // Copies the newest frame kept for the window; false when none is new
    // since the last copy. The next main step keeps a new one.
    bool take_frame(frame_buffer& out);

private:
    using clock = std::chrono::steady_clock;
    void thread_main();
    void run_ms(uint64_t t);  // the "before" of unit millisecond t
    void run_works_locked(std::unique_lock<std::mutex>& hold);
    void keep_frame();
    void pause_self(std::unique_lock<std::mutex>& hold);

    UnitSession& session_;
    hooks hooks_;
    VirtualStepper* stepper_ = nullptr;
    std::thread thread_;

    std::mutex lock_;  // the state below, the queue and the works
    std::condition_variable wake_;     // the unit's thread waits on it
    std::condition_variable settled_;  // set_paused waits on it
    bool stop_ = false;
    bool running_ms_ = false;  // the unit's thread is inside a chunk
    uint64_t run_until_ = 0;   // run_for's end; 0: none
    bool rebase_ = true;       // the pacer starts counting afresh
    std::vector<scenario_action> inputs_;
    std::vector<std::function<void(uint64_t)>> works_;
    std::atomic<bool> pending_{false};  // inputs_ is not empty

    std::atomic<bool> paused_{true};
    std::atomic<double> speed_{1.0};
    std::atomic<double> reached_{0.0};
    std::atomic<uint64_t> now_{0};
    std::atomic<uint64_t> main_steps_{0};
    std::atomic<uint64_t> ticks_{0};
    bool exit_seen_ = false;

    // Script (Play): unit thread only once started.
    std::vector<scenario_action> script_;
    size_t next_script_ = 0;
    run_watcher* watcher_ = nullptr;
    uint64_t script_end_ = 0;
    std::function<void(uint64_t, bool)> script_done_;

    // The frame for the window.
    std::mutex frame_lock_;
    frame_buffer kept_{};
    bool kept_new_ = false;
    std::atomic<bool> frame_wanted_{true};
    clock::time_point last_kept_{};
};

}  // namespace norvane
