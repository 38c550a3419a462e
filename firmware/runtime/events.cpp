#include "runtime/events.h"

#include <atomic>

namespace {
std::atomic<hal_event_callback> event_callback{nullptr};
std::atomic<int32_t> pending_event{0};
std::atomic<uint32_t> event_pending{0};
}  // namespace

void hal_set_event_callback(hal_event_callback callback)
{
    event_callback.store(callback, std::memory_order_relaxed);
}

void hal_raise_event(int32_t event)
{
    if (event > 1)
        return;
    if (hal_event_callback cb = event_callback.load(std::memory_order_relaxed))
        cb(event);
}

void app_event_handler(int32_t event)
{
    // The number first, then the flag: the main loop reads them the other way.
    pending_event.store(event, std::memory_order_relaxed);
    event_pending.store(1, std::memory_order_release);
}

void app_events_poll()
{
    if (event_pending.exchange(0, std::memory_order_acquire) == 0)
        return;
    (void)pending_event.load(std::memory_order_relaxed);
}

void test_message_handler(const can_queue_entry*) {}
