// Key engine. key_sample (tick) turns button levels into press, hold and
// release events; key_scan (main loop) hands at most one of them per step to
// the page's handler.
#include "screens/keys.h"

#include "screens/panel.h"

softkey hmi_softkeys[KEY_COUNT];
std::atomic<uint8_t> key_hold_time[KEY_COUNT] = {
    KEY_DEFAULT_HOLD_TIME, KEY_DEFAULT_HOLD_TIME, KEY_DEFAULT_HOLD_TIME,
    KEY_DEFAULT_HOLD_TIME, KEY_DEFAULT_HOLD_TIME};

std::atomic<uint8_t> key_input_mask{0};
uint8_t key_prev = 0;
std::atomic<uint8_t> key_new{0};
std::atomic<uint8_t> key_taken{0};
std::atomic<uint8_t> key_long{0};
std::atomic<uint8_t> key_released{0};
std::atomic<uint8_t> key_hold_timer[KEY_COUNT];
uint8_t key_hold_armed = 1;

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr uint8_t KEY_COMBINATION = 0x0F;  // buttons 0..3 down, button 4 up

void set_bits(std::atomic<uint8_t>& mask, uint8_t bits)
{
    mask.fetch_or(bits, relaxed);
}

void clear_bits(std::atomic<uint8_t>& mask, uint8_t bits)
{
    mask.fetch_and(uint8_t(~bits), relaxed);
}

int lowest_button(uint8_t mask)
{
    for (uint8_t i = 0; i < KEY_COUNT; ++i)
        if (mask & (1u << i))
            return i;
    return -1;
}

}  // namespace

void key_sample()
{
    const uint8_t cur = key_input_mask.load(relaxed);
    for (uint8_t i = 0; i < KEY_COUNT; ++i) {
        const uint8_t d = uint8_t(1u << i);
        const bool down = cur & d;
        const bool press_edge = down && !(key_prev & d);
        if (press_edge)
            key_hold_timer[i].store(key_hold_time[i].load(relaxed), relaxed);
        if (key_hold_timer[i].load(relaxed) == 1 && down)
            set_bits(key_long, d);
        if (press_edge && !(key_taken.load(relaxed) & d))
            set_bits(key_new, d);
        if (key_long.load(relaxed) & d) {
            // A long press ends without a release event.
            if (!down)
                clear_bits(key_long, d);
        } else if (!down && (key_prev & d)) {
            set_bits(key_released, d);
            key_hold_timer[i].store(0, relaxed);
        }
        if ((key_taken.load(relaxed) & d) && !down)
            clear_bits(key_taken, d);
    }
    key_prev = cur;
}

void key_hold_countdown()
{
    // key_scan restarts a timer from the main loop: a compare-exchange keeps
    // a restart that comes between the read and the write.
    for (auto& timer : key_hold_timer) {
        uint8_t t = timer.load(relaxed);
        while (t != 0 && !timer.compare_exchange_weak(t, uint8_t(t - 1), relaxed)) {
        }
    }
}

void key_scan()
{
    const uint8_t taken = key_taken.load(relaxed);
    const uint8_t fresh = key_new.load(relaxed);

    if (uint8_t(taken | fresh) == KEY_COMBINATION) {
        // Four buttons together restore the brightness; nothing is dispatched.
        clear_bits(key_new, KEY_COMBINATION);
        set_bits(key_taken, KEY_COMBINATION);
        keypad_level.store(2, relaxed);
        display_level.store(10, relaxed);
        return;
    }

    if (const uint8_t held = key_long.load(relaxed)) {
        key_released.store(0, relaxed);
        const int i = lowest_button(held);
        const key_handler hold = hmi_softkeys[i].on_hold.load(relaxed);
        if (hold && key_hold_armed == 1) {
            hold();
            key_hold_timer[i].store(key_hold_time[i].load(relaxed), relaxed);
            key_hold_armed = 0;
        }
        return;
    }

    if (const uint8_t waiting = uint8_t(fresh & ~taken)) {
        key_hold_armed = 1;
        const int i = lowest_button(waiting);
        const uint8_t d = uint8_t(1u << i);
        set_bits(key_taken, d);
        clear_bits(key_new, d);
        if (const key_handler press = hmi_softkeys[i].on_press.load(relaxed)) {
            press();
        } else if (key_released.load(relaxed) & d) {
            // Pressed and released within one step: the release is due now.
            if (const key_handler release = hmi_softkeys[i].on_release.load(relaxed)) {
                clear_bits(key_released, d);
                release();
            }
        }
        return;
    }

    if (const uint8_t released = key_released.load(relaxed)) {
        const int i = lowest_button(released);
        clear_bits(key_released, uint8_t(1u << i));
        if (const key_handler release = hmi_softkeys[i].on_release.load(relaxed))
            release();
    }
}

void key_reset_state()
{
    key_released.store(0, relaxed);
    key_new.store(0, relaxed);
    key_taken.store(0, relaxed);
    key_long.store(0, relaxed);
    key_prev = 0;
}

void key_set_press_handler(key_handler handler, key_code key)
{
    if (key < KEY_COUNT)
        hmi_softkeys[key].on_press.store(handler, relaxed);
}

void key_set_release_handler(key_handler handler, key_code key)
{
    if (key < KEY_COUNT)
        hmi_softkeys[key].on_release.store(handler, relaxed);
}

void key_set_hold_handler(key_handler handler, key_code key, uint8_t hold_time)
{
    if (key >= KEY_COUNT)
        return;
    key_hold_time[key].store(hold_time, relaxed);
    hmi_softkeys[key].on_hold.store(handler, relaxed);
}

void key_clear_handlers()
{
    for (uint8_t i = 0; i < KEY_COUNT; ++i) {
        hmi_softkeys[i].on_press.store(nullptr, relaxed);
        hmi_softkeys[i].on_release.store(nullptr, relaxed);
        hmi_softkeys[i].on_hold.store(nullptr, relaxed);
        key_hold_time[i].store(KEY_DEFAULT_HOLD_TIME, relaxed);
    }
}

void key_set_label(const gfx_image* label, key_code key)
{
    if (key < KEY_COUNT)
        hmi_softkeys[key].label.store(label, relaxed);
}

uint8_t key_host_levels()
{
    return key_input_mask.load(relaxed);
}

void key_host_press(uint8_t buttons)
{
    key_input_mask.fetch_or(buttons, relaxed);
}

void key_host_release(uint8_t buttons)
{
    key_input_mask.fetch_and(uint8_t(~buttons), relaxed);
}

void key_host_clear()
{
    key_input_mask.store(0, relaxed);
}

void key_reset()
{
    for (softkey& key : hmi_softkeys) {
        key.on_press.store(nullptr, relaxed);
        key.on_release.store(nullptr, relaxed);
        key.on_hold.store(nullptr, relaxed);
        key.label.store(nullptr, relaxed);
    }
    for (auto& time : key_hold_time)
        time.store(KEY_DEFAULT_HOLD_TIME, relaxed);
    for (auto& timer : key_hold_timer)
        timer.store(0, relaxed);
    key_input_mask.store(0, relaxed);
    key_prev = 0;
    key_new.store(0, relaxed);
    key_taken.store(0, relaxed);
    key_long.store(0, relaxed);
    key_released.store(0, relaxed);
    key_hold_armed = 1;
}
