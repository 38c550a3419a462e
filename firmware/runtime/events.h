// Application events: the test events raised by the host, the command files of
// the event folder, the USB-stick handshake and the 0x422 test frames.
#pragma once
#include <atomic>
#include <cstdint>

#include "seam/events.h"  // hal_raise_event

using hal_event_callback = void (*)(int32_t event);
void hal_set_event_callback(hal_event_callback callback);

void app_event_handler(int32_t event);
void app_events_poll();  // main loop
void events_reset();     // no event pending, no stick, the test values 0

// The USB-stick handshake with the other side of the event folder.
constexpr int32_t USB_NO_STICK = 0;
constexpr int32_t USB_INSERTED = 1;       // announced by "USBSTICK_INSERTED"
constexpr int32_t USB_MOUNTED = 2;        // its folder is in "rootfs/media"
constexpr int32_t USB_EJECT_WAITING = 3;  // "USBSTICK_EJECT" sent, no answer yet
constexpr int32_t USB_EJECT_READY = 4;    // "USBSTICK_EJECTREADY" received
constexpr uint32_t USB_MOUNT_NAME_SIZE = 256;

extern std::atomic<int32_t> usb_state;
int usb_poll();                  // 1 while the stick's folder is there
const char* usb_mount_name();    // folder name under "rootfs/media"
int usb_eject_ready();           // 1 in USB_EJECT_READY
void usb_request_eject();        // only while mounted

// Values set by the 0x422 test frames on port 0, raw bits as received. The
// main loop writes them; the host may read them from any thread.
struct test_value_table {
    std::atomic<float> t5_value[8];
    std::atomic<float> t6_value;
    std::atomic<float> t7_value;
    std::atomic<float> t8_value;
    std::atomic<uint32_t> t10_value[5];
    std::atomic<float> t11_value[3];
    std::atomic<uint16_t> t11_flag[3];
    std::atomic<uint32_t> t12_value;
};
extern test_value_table test_values;

constexpr uint32_t APP_TEST_MESSAGE_ID = 0x422;

struct can_queue_entry;
void test_message_handler(const can_queue_entry* slot);
