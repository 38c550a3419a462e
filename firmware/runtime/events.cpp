#include "runtime/events.h"

#include <bit>
#include <cstring>
#include <iterator>

#include "can/can_port.h"
#include "runtime/fs.h"

std::atomic<int32_t> usb_state{USB_NO_STICK};
test_value_table test_values{};

namespace {

constexpr uint8_t EVENT_ROOT = 4;
constexpr uint8_t MEDIA_ROOT = 5;
constexpr uint32_t COMMAND_MAX = 1023;

constexpr char INSERTED[] = "USBSTICK_INSERTED";
constexpr char EJECT[] = "USBSTICK_EJECT";
constexpr char EJECT_READY[] = "USBSTICK_EJECTREADY";

std::atomic<hal_event_callback> event_callback{nullptr};
std::atomic<int32_t> pending_event{0};
std::atomic<uint32_t> event_pending{0};

char mount_name[USB_MOUNT_NAME_SIZE];
char command_text[COMMAND_MAX + 1];

bool starts_with(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Creates or truncates a file of the event folder and writes the text without
// a terminator. A failed write is not the unit's concern.
void write_event_file(const char* name, const char* text)
{
    fs_stream* out = fs_open(EVENT_ROOT, name, "w");
    if (!out)
        return;
    fs_write(out, text, std::strlen(text));
    fs_close(out);
}

// The stick's folder name from the text after "USBSTICK_INSERTED": what
// follows the last slash, or without a slash everything after the separator
// character. The name is later joined to "rootfs/media" (where backslashes
// turn into slashes), so anything that could leave that folder is refused.
bool pick_mount_name(const char* after_prefix, char out[USB_MOUNT_NAME_SIZE])
{
    const char* name = std::strrchr(after_prefix, '/');
    if (name)
        ++name;
    else if (*after_prefix == '\0')
        return false;
    else
        name = after_prefix + 1;

    size_t n = strnlen(name, USB_MOUNT_NAME_SIZE - 1);
    // A command written by `echo` ends in a line break that is not part of
    // the name; any other control character is.
    while (n > 0 && (name[n - 1] == '\n' || name[n - 1] == '\r'))
        --n;
    if (n == 0 || std::memchr(name, '/', n) || std::memchr(name, '\\', n))
        return false;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(name[i]) < 0x20 || name[i] == 0x7F)
            return false;
    if ((n == 1 && name[0] == '.') || (n == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    std::memcpy(out, name, n);
    out[n] = '\0';
    return true;
}

// One command of a channel: the command file is read (at most 1023 bytes),
// deleted and answered in the reply file. No command file, no reply; a
// folder or anything else of that name is no command file and stays.
void process_channel(const char* command_file, const char* reply_file)
{
    if (!fs_file_exists(EVENT_ROOT, command_file))
        return;
    fs_stream* in = fs_open(EVENT_ROOT, command_file, "r");
    if (!in)
        return;
    const size_t n = fs_read(in, command_text, COMMAND_MAX);
    command_text[n] = '\0';
    fs_close(in);
    fs_remove(EVENT_ROOT, command_file);

    const char* reply = "KO";
    if (starts_with(command_text, INSERTED)) {
        char name[USB_MOUNT_NAME_SIZE];
        if (pick_mount_name(command_text + sizeof INSERTED - 1, name)) {
            std::memcpy(mount_name, name, sizeof name);
            usb_state.store(USB_INSERTED, std::memory_order_relaxed);
            reply = "OK";
        }
    } else if (starts_with(command_text, EJECT_READY)) {
        usb_state.store(USB_EJECT_READY, std::memory_order_relaxed);
        reply = "OK";
    }
    write_event_file(reply_file, reply);
}

uint32_t read_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

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
    // Clearing the flag before acting lets an event raised meanwhile wait for
    // the next step instead of being lost.
    if (event_pending.exchange(0, std::memory_order_acquire) == 0)
        return;
    if (pending_event.load(std::memory_order_relaxed) == 0)
        process_channel("app_command", "app_reply");
}

int usb_poll()
{
    const int32_t state = usb_state.load(std::memory_order_relaxed);
    if (state == USB_NO_STICK)
        return 0;
    const bool present = fs_dir_exists(MEDIA_ROOT, mount_name) != 0;
    if (state == USB_INSERTED) {
        if (!present)
            return 0;
        usb_state.store(USB_MOUNTED, std::memory_order_relaxed);
        return 1;
    }
    if (!present) {
        usb_state.store(USB_NO_STICK, std::memory_order_relaxed);
        return 0;
    }
    return 1;
}

const char* usb_mount_name()
{
    return mount_name;
}

int usb_eject_ready()
{
    return usb_state.load(std::memory_order_relaxed) == USB_EJECT_READY ? 1 : 0;
}

void usb_request_eject()
{
    if (usb_state.load(std::memory_order_relaxed) != USB_MOUNTED)
        return;
    fs_remove(EVENT_ROOT, "script_reply");
    write_event_file("script_command", EJECT);
    usb_state.store(USB_EJECT_WAITING, std::memory_order_relaxed);
}

void test_message_handler(const can_queue_entry* slot)
{
    if (!slot)
        return;
    const uint8_t* data = slot->bytes + 5;
    const uint8_t length = uint8_t(slot->bytes[4] >> 4);
    const uint8_t type = data[0];
    // A frame too short for its type would read the slot's zero padding as
    // its value: it is ignored.
    if (length < (type == 12 ? 3 : 8))
        return;
    const uint8_t index = data[1];
    const uint32_t payload = read_le32(data + 4);
    const float as_float = std::bit_cast<float>(payload);
    constexpr auto relaxed = std::memory_order_relaxed;

    switch (type) {
    case 5:
        if (index < std::size(test_values.t5_value))
            test_values.t5_value[index].store(as_float, relaxed);
        break;
    case 6:
        test_values.t6_value.store(as_float, relaxed);
        break;
    case 7:
        test_values.t7_value.store(as_float, relaxed);
        break;
    case 8:
        test_values.t8_value.store(as_float, relaxed);
        break;
    case 10:
        if (index < std::size(test_values.t10_value))
            test_values.t10_value[index].store(payload, relaxed);
        break;
    case 11:
        if (index < std::size(test_values.t11_value)) {
            test_values.t11_value[index].store(float(data[4]), relaxed);
            test_values.t11_flag[index].store(uint16_t(data[6] != 0 || data[7] != 0), relaxed);
        }
        break;
    case 12:
        test_values.t12_value.store(data[2], relaxed);
        break;
    default:
        break;
    }
}
