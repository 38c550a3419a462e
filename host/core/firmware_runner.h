#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "seam/frame.h"

namespace norvane {

// What the runner asks of its host. Every hook runs on the firmware thread and
// must not block on the host's own thread (post the work there instead): the
// host may be inside stop() waiting for this very thread.
struct RunnerHooks {
    // After each main step: the window should repaint (and take the frame).
    std::function<void()> repaint{};
    // Once, after the main step in which the firmware asked to end; the
    // firmware thread steps no more. The host closes (and calls stop()).
    std::function<void(int32_t code)> exit_requested{};
    // After each main step, before the repaint request: the serial flush.
    std::function<void()> after_step{};
    // When set, the runner takes every frame itself right after the step (no
    // window: the headless real-time mode) and hands it here.
    std::function<void(const frame_buffer& frame)> take_frame{};
};

// Counters of the two contexts, for tests and the pacing tool.
struct RunnerStats {
    uint64_t main_steps = 0;
    uint64_t ticks = 0;
    uint64_t lost_ticks = 0;  // expirations beyond the catch-up limit
};

enum class ImageRows { bottom_up, top_down };

// The firmware's two execution contexts on the host: a firmware thread that
// runs app_main_step every 25 ms and a tick thread that runs sys_tick every
// 10 ms, each paced by a periodic timer on CLOCK_MONOTONIC with absolute
// expiries. Pausing disarms both timers; playing re-arms them from now.
class FirmwareRunner {
public:
    static constexpr int FRAME_PERIOD_MS = 25;
    static constexpr int TICK_PERIOD_MS = 10;
    static constexpr int WAIT_LIMIT_MS = 100;  // how soon a thread sees the stop flag
    // Late tick expirations are run back to back up to this many at a time;
    // beyond it they are counted as lost rather than bursting the model.
    static constexpr uint64_t TICK_CATCH_UP = 10;

    explicit FirmwareRunner(RunnerHooks hooks = {});
    ~FirmwareRunner();  // stop()
    FirmwareRunner(const FirmwareRunner&) = delete;
    FirmwareRunner& operator=(const FirmwareRunner&) = delete;

    // Host thread, once: creates the six roots of the unit's file system in the
    // platform's base folder, selects the monotonic clock and runs app_init.
    void init();
    // Starts the firmware thread, which starts the tick thread and runs
    // app_start. Created paused: nothing runs until set_paused(false).
    void start();
    // Returns the previous state. Always releases a main step that waits for
    // the host to take its frame.
    bool set_paused(bool paused);
    bool is_paused() const { return paused_.load(std::memory_order_acquire); }
    // Ends both threads (each sees the flag within 100 ms) and joins them.
    // Without effect when not initialised or already stopped.
    void stop();

    // Whether the tick thread asks for SCHED_FIFO (default true). Before start().
    void set_realtime_priority(bool on) { realtime_priority_ = on; }

    // Converts the front output buffer into a 320 x 240 32-bit image (B, G, R,
    // A) and tells the firmware the frame was taken.
    static void present(uint8_t* image, ImageRows rows = ImageRows::bottom_up);

    RunnerStats stats() const;

private:
    void firmware_thread();
    void tick_thread();
    void arm(int fd, int period_ms);

    RunnerHooks hooks_;
    std::atomic<bool> initialised_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{true};
    bool realtime_priority_ = true;
    int frame_timer_ = -1;
    int tick_timer_ = -1;
    std::thread firmware_;
    std::atomic<uint64_t> main_steps_{0};
    std::atomic<uint64_t> ticks_{0};
    std::atomic<uint64_t> lost_ticks_{0};
};

// Waits for a periodic timerfd for at most `limit_ms`; returns the number of
// expirations since the last read (0 on time-out or while disarmed).
uint64_t wait_timer(int fd, int limit_ms);

// Asks for SCHED_FIFO for the calling thread. On refusal the thread stays at
// normal priority and one line goes to standard error (once per process).
bool raise_thread_priority();

}  // namespace norvane
