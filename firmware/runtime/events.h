// Application events: the test events raised by the host, the command files of
// the event folder, the USB-stick handshake and the 0x422 test frames.
#pragma once
#include <cstdint>

using hal_event_callback = void (*)(int32_t event);
void hal_set_event_callback(hal_event_callback callback);
void hal_raise_event(int32_t event);  // host UI thread

void app_event_handler(int32_t event);
void app_events_poll();  // main loop

struct can_queue_entry;
void test_message_handler(const can_queue_entry* slot);
