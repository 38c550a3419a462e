// The command channel and the test frames 0x422. Input: byte 0 = number of
// test frames n (low 3 bits), then n x 8 data bytes of test frames, then the
// text of "app_command" (absent when byte 0 has bit 7 set).
#include <cstring>
#include <string>

#include "can/can_port.h"
#include "fuzz/fuzz_support.h"
#include "runtime/events.h"
#include "platform/hal.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string command = norvane::fuzz::unit_folder() + "/rootfs/app/event/app_command";
    hal_set_event_callback(app_event_handler);
    if (size == 0)
        return 0;
    const uint8_t head = data[0];
    ++data;
    --size;
    for (uint8_t n = head & 7; n > 0 && size >= 8; --n, data += 8, size -= 8) {
        can_queue_entry slot{};
        const uint32_t word = 0x422u << 3;
        std::memcpy(slot.bytes, &word, 4);
        slot.bytes[4] = 8 << 4;
        std::memcpy(slot.bytes + 5, data, 8);
        test_message_handler(&slot);
    }
    if (!(head & 0x80))
        norvane::fuzz::write_bytes(command, data, size);
    hal_raise_event(0);
    app_events_poll();
    usb_poll();
    usb_request_eject();
    const char* name = usb_mount_name();
    const size_t length = strnlen(name, USB_MOUNT_NAME_SIZE);
    check(length < USB_MOUNT_NAME_SIZE, "mount name without its end");
    check(!std::strchr(name, '/') && !std::strchr(name, '\\'), "mount name leaves the media folder");
    check(std::strcmp(name, "..") != 0 && std::strcmp(name, ".") != 0, "mount name is a dot folder");
    return 0;
}
