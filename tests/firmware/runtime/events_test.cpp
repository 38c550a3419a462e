#include "runtime/events.h"

#include <bit>
#include <cstring>
#include <iterator>

#include "can/can_port.h"
#include "support/unit_fixture.h"

namespace {

using norvane::testing::UnitTest;

class Events : public UnitTest {
protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        hal_set_event_callback(app_event_handler);
    }

    std::filesystem::path event_file(const std::string& name) const
    {
        return unit_file("rootfs/app/event/" + name);
    }
    void write_event_file(const std::string& name, const std::string& text) const
    {
        norvane::testing::write_file(event_file(name), text);
    }
    std::string read_event_file(const std::string& name) const
    {
        return norvane::testing::read_file(event_file(name));
    }
    // Writes "app_command", raises Event 1 (event 0) and runs the main loop's poll.
    std::string command(const std::string& text)
    {
        write_event_file("app_command", text);
        hal_raise_event(0);
        app_events_poll();
        EXPECT_FALSE(std::filesystem::exists(event_file("app_command")));
        return read_event_file("app_reply");
    }
    void make_stick_folder(const std::string& name) const
    {
        std::filesystem::create_directories(unit_file("rootfs/media/" + name));
    }
};

TEST_F(Events, OtherEventsAndMissingCommandFileWriteNothing)
{
    hal_raise_event(0);  // no command file
    app_events_poll();
    EXPECT_FALSE(std::filesystem::exists(event_file("app_reply")));

    write_event_file("app_command", "USBSTICK_EJECTREADY");
    hal_raise_event(1);  // Event 2
    app_events_poll();
    app_events_poll();  // no event pending: nothing either
    EXPECT_TRUE(std::filesystem::exists(event_file("app_command")));
    EXPECT_FALSE(std::filesystem::exists(event_file("app_reply")));
    EXPECT_EQ(usb_state.load(), USB_NO_STICK);
}

TEST_F(Events, RaiseIgnoresEventsAboveOne)
{
    static int32_t seen;
    static int calls;
    seen = -99;
    calls = 0;
    hal_set_event_callback([](int32_t e) {
        seen = e;
        ++calls;
    });
    hal_raise_event(2);
    hal_raise_event(7);
    EXPECT_EQ(calls, 0);
    hal_raise_event(1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, 1);
}

struct CommandCase {
    const char* text;
    const char* reply;
    int32_t state;       // after the command, starting mounted on "old"
    const char* mount;
};

// Every case starts with the stick "old" mounted, so a refused command shows
// that it left both the state and the name alone.
const CommandCase kCommands[] = {
    {"USBSTICK_INSERTED /media/usb/stick1", "OK", USB_INSERTED, "stick1"},
    {"USBSTICK_INSERTED:stick2", "OK", USB_INSERTED, "stick2"},
    {"USBSTICK_INSERTED stick with blanks", "OK", USB_INSERTED, "stick with blanks"},
    {"USBSTICK_EJECTREADY", "OK", USB_EJECT_READY, "old"},
    {"USBSTICK_EJECTREADY and more", "OK", USB_EJECT_READY, "old"},
    {"USBSTICK_EJECT", "KO", USB_MOUNTED, "old"},
    {"HELLO", "KO", USB_MOUNTED, "old"},
    {"", "KO", USB_MOUNTED, "old"},
    // Nothing after the prefix: no separator, no name.
    {"USBSTICK_INSERTED", "KO", USB_MOUNTED, "old"},
    // Names that would leave "rootfs/media" or name no folder at all.
    {"USBSTICK_INSERTED ", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/..", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/.", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED ..", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED ..\\..\\etc", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED \\stick", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/...", "OK", USB_INSERTED, "..."},
    // Written by echo: the line break ends the name and is not part of it.
    {"USBSTICK_INSERTED /media/stick3\n", "OK", USB_INSERTED, "stick3"},
    {"USBSTICK_INSERTED /media/stick4\r\n", "OK", USB_INSERTED, "stick4"},
    {"USBSTICK_INSERTED /media/\n", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/st\tick", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/st\nick", "KO", USB_MOUNTED, "old"},
    {"USBSTICK_INSERTED /media/stick\x7f", "KO", USB_MOUNTED, "old"},
};

TEST_F(Events, CommandChannelAnswersAndMovesTheStickState)
{
    for (const CommandCase& c : kCommands) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(command("USBSTICK_INSERTED /m/old"), "OK");
        make_stick_folder("old");
        ASSERT_EQ(usb_poll(), 1);
        ASSERT_EQ(usb_state.load(), USB_MOUNTED);

        EXPECT_EQ(command(c.text), c.reply);
        EXPECT_EQ(usb_state.load(), c.state);
        EXPECT_STREQ(usb_mount_name(), c.mount);
    }
}

// A folder (or anything else that is not a file) named like the command file
// is no command: it stays, and nothing is answered.
TEST_F(Events, CommandNameThatIsNoFileIsLeftAloneAndUnanswered)
{
    std::filesystem::create_directories(event_file("app_command"));
    hal_raise_event(0);
    app_events_poll();
    EXPECT_TRUE(std::filesystem::is_directory(event_file("app_command")));
    EXPECT_FALSE(std::filesystem::exists(event_file("app_reply")));
}

TEST_F(Events, CommandFileIsReadUpTo1023Bytes)
{
    EXPECT_EQ(command("USBSTICK_EJECTREADY" + std::string(2000 - 19, 'x')), "OK");
    EXPECT_EQ(usb_state.load(), USB_EJECT_READY);

    // The last slash within the first 1023 bytes picks the name; the one
    // beyond them is never seen. The name keeps its first 255 characters.
    const std::string head = "USBSTICK_INSERTED /a/";
    EXPECT_EQ(command(head + std::string(1100, 'b') + "/far"), "OK");
    EXPECT_EQ(std::string(usb_mount_name()), std::string(255, 'b'));
}

TEST_F(Events, StickWalksThroughItsStatesWithTheFolder)
{
    EXPECT_EQ(usb_poll(), 0);
    EXPECT_EQ(usb_state.load(), USB_NO_STICK);
    make_stick_folder("stick1");
    usb_request_eject();  // not mounted: nothing is asked
    EXPECT_FALSE(std::filesystem::exists(event_file("script_command")));

    ASSERT_EQ(command("USBSTICK_INSERTED /media/stick1"), "OK");
    EXPECT_EQ(usb_state.load(), USB_INSERTED);
    std::filesystem::remove(unit_file("rootfs/media/stick1"));
    EXPECT_EQ(usb_poll(), 0);  // announced, folder not there yet
    EXPECT_EQ(usb_state.load(), USB_INSERTED);

    make_stick_folder("stick1");
    EXPECT_EQ(usb_poll(), 1);
    EXPECT_EQ(usb_state.load(), USB_MOUNTED);
    EXPECT_EQ(usb_eject_ready(), 0);

    write_event_file("script_reply", "OK");
    usb_request_eject();
    EXPECT_EQ(usb_state.load(), USB_EJECT_WAITING);
    EXPECT_EQ(read_event_file("script_command"), "USBSTICK_EJECT");
    EXPECT_FALSE(std::filesystem::exists(event_file("script_reply")));
    EXPECT_EQ(usb_poll(), 1);

    EXPECT_EQ(command("USBSTICK_EJECTREADY"), "OK");
    EXPECT_EQ(usb_eject_ready(), 1);
    EXPECT_EQ(usb_poll(), 1);

    std::filesystem::remove(unit_file("rootfs/media/stick1"));
    EXPECT_EQ(usb_poll(), 0);
    EXPECT_EQ(usb_state.load(), USB_NO_STICK);
    EXPECT_EQ(usb_eject_ready(), 0);
}

TEST_F(Events, MainLoopAnswersTheCommandOfARaisedEvent)
{
    auto& unit = start();
    write_event_file("app_command", "USBSTICK_INSERTED /media/stick1");
    hal_raise_event(0);
    unit.advance(25);
    EXPECT_EQ(read_event_file("app_reply"), "OK");
    EXPECT_EQ(usb_state.load(), USB_INSERTED);
}

can_queue_entry test_slot(uint8_t type, uint8_t index, uint8_t b2, uint32_t payload)
{
    can_queue_entry slot{};
    const uint32_t id = APP_TEST_MESSAGE_ID << 3;
    std::memcpy(slot.bytes, &id, 4);
    slot.bytes[4] = 8 << 4;
    const uint8_t data[8] = {type,
                             index,
                             b2,
                             0,
                             uint8_t(payload),
                             uint8_t(payload >> 8),
                             uint8_t(payload >> 16),
                             uint8_t(payload >> 24)};
    std::memcpy(slot.bytes + 5, data, 8);
    return slot;
}

uint32_t bits(const std::atomic<float>& value)
{
    return std::bit_cast<uint32_t>(value.load());
}

TEST(TestMessages, StoreEachTypeInItsTable)
{
    const uint32_t one = std::bit_cast<uint32_t>(1.0f);
    const uint32_t nan_bits = 0x7FC00123;  // kept bit for bit
    auto send = [](can_queue_entry slot) { test_message_handler(&slot); };

    send(test_slot(5, 7, 0, nan_bits));
    send(test_slot(6, 0, 0, one));
    send(test_slot(7, 0, 0, one + 1));
    send(test_slot(8, 0, 0, one + 2));
    send(test_slot(10, 4, 0, 0xDEADBEEF));
    send(test_slot(11, 2, 0, 0x000000C8));  // byte 4 = 200, bytes 6 and 7 zero
    send(test_slot(11, 1, 0, 0x01000005));  // byte 7 set
    send(test_slot(11, 0, 0, 0x00010000));  // byte 6 set
    send(test_slot(12, 0, 0x5A, 0xFFFFFFFF));

    EXPECT_EQ(bits(test_values.t5_value[7]), nan_bits);
    EXPECT_EQ(bits(test_values.t6_value), one);
    EXPECT_EQ(bits(test_values.t7_value), one + 1);
    EXPECT_EQ(bits(test_values.t8_value), one + 2);
    EXPECT_EQ(test_values.t10_value[4].load(), 0xDEADBEEFu);
    EXPECT_EQ(test_values.t11_value[2].load(), 200.0f);
    EXPECT_EQ(test_values.t11_flag[2].load(), 0);
    EXPECT_EQ(test_values.t11_value[1].load(), 5.0f);
    EXPECT_EQ(test_values.t11_flag[1].load(), 1);
    EXPECT_EQ(test_values.t11_value[0].load(), 0.0f);
    EXPECT_EQ(test_values.t11_flag[0].load(), 1);
    EXPECT_EQ(test_values.t12_value.load(), 0x5Au);
}

// A frame shorter than its type needs carries no value: the slot's zero
// padding is not read as one.
TEST(TestMessages, IgnoreFramesTooShortForTheirType)
{
    struct ShortCase {
        uint8_t type, index, length;
    };
    const ShortCase cases[] = {{5, 0, 7}, {6, 0, 4}, {7, 0, 1}, {8, 0, 0}, {10, 0, 7}, {11, 0, 5}, {12, 0, 2}};
    for (const ShortCase& c : cases) {
        SCOPED_TRACE(int(c.type));
        can_queue_entry slot = test_slot(c.type, c.index, 0x5A, 0x3F800000);
        slot.bytes[4] = uint8_t(c.length << 4);
        test_message_handler(&slot);
    }
    const auto* raw = reinterpret_cast<const unsigned char*>(&test_values);
    for (size_t i = 0; i < sizeof test_values; ++i)
        ASSERT_EQ(raw[i], 0) << "byte " << i << " of test_values changed";

    can_queue_entry enough = test_slot(12, 0, 0x5A, 0);
    enough.bytes[4] = 3 << 4;
    test_message_handler(&enough);
    EXPECT_EQ(test_values.t12_value.load(), 0x5Au);
    test_values.t12_value.store(0);
}

TEST(TestMessages, IgnoreUnknownTypesAndIndexesBeyondTheirTable)
{
    const uint8_t unknown_types[] = {0, 4, 9, 13, 255};
    for (uint8_t type : unknown_types)
        for (uint8_t index = 0; index < 2; ++index) {
            const can_queue_entry slot = test_slot(type, index, 1, 0x3F800000);
            test_message_handler(&slot);
        }
    const can_queue_entry beyond[] = {test_slot(5, 8, 0, 1), test_slot(10, 5, 0, 1),
                                      test_slot(11, 3, 0, 0x01010101), test_slot(5, 255, 0, 1)};
    for (const can_queue_entry& slot : beyond)
        test_message_handler(&slot);
    test_message_handler(nullptr);

    const auto* raw = reinterpret_cast<const unsigned char*>(&test_values);
    for (size_t i = 0; i < sizeof test_values; ++i)
        ASSERT_EQ(raw[i], 0) << "byte " << i << " of test_values changed";
}

}  // namespace
