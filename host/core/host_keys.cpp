#include "host/core/host_keys.h"

#include <mutex>

#include "runtime/keys.h"

namespace norvane {
namespace {

// The window's thread and the tick thread both change these; the one short
// lock keeps a press, its unsampled mark and a waiting release consistent.
std::mutex host_keys_lock;
uint8_t held = 0;             // what the host holds down
uint8_t unsampled = 0;        // presses no complete tick has sampled yet
uint8_t waiting_release = 0;  // releases held back for that sample
uint8_t sampling = 0;         // the unsampled presses the running tick sees

constexpr auto relaxed = std::memory_order_relaxed;

void release_locked(uint8_t bits)
{
    held = uint8_t(held & ~bits);
    const uint8_t later = uint8_t(bits & unsampled);
    waiting_release = uint8_t(waiting_release | later);
    key_input_mask.fetch_and(uint8_t(~(bits & ~later)), relaxed);
}

}  // namespace

void host_key_set(int button, bool down)
{
    if (button < 1 || button > KEY_COUNT)
        return;
    const uint8_t bit = uint8_t(1u << (button - 1));
    std::lock_guard<std::mutex> guard(host_keys_lock);
    if (down) {
        held = uint8_t(held | bit);
        waiting_release = uint8_t(waiting_release & ~bit);
        if (!(key_input_mask.load(relaxed) & bit))
            unsampled = uint8_t(unsampled | bit);
        key_input_mask.fetch_or(bit, relaxed);
    } else {
        release_locked(bit);
    }
}

void host_keys_release_all()
{
    std::lock_guard<std::mutex> guard(host_keys_lock);
    release_locked(held);
}

uint8_t host_keys_held()
{
    std::lock_guard<std::mutex> guard(host_keys_lock);
    return held;
}

void host_keys_before_tick()
{
    std::lock_guard<std::mutex> guard(host_keys_lock);
    sampling = unsampled;
}

void host_keys_after_tick()
{
    std::lock_guard<std::mutex> guard(host_keys_lock);
    unsampled = uint8_t(unsampled & ~sampling);
    sampling = 0;
    const uint8_t now = uint8_t(waiting_release & ~unsampled);
    waiting_release = uint8_t(waiting_release & ~now);
    key_input_mask.fetch_and(uint8_t(~now), relaxed);
}

void host_keys_reset()
{
    std::lock_guard<std::mutex> guard(host_keys_lock);
    held = unsampled = waiting_release = sampling = 0;
    key_input_mask.store(0, relaxed);
}

}  // namespace norvane
