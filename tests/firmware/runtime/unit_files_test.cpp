// The unit's files are regular files in its own folders: a symbolic link is
// never followed where the unit writes or deletes, and a FIFO or a device in
// place of a file is refused instead of blocking the unit.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "runtime/events.h"
#include "platform/fs.h"
#include "platform/settings.h"
#include "support/test_os.h"
#include "support/unit_fixture.h"

namespace {

namespace fsys = std::filesystem;
using norvane::testing::read_file;
using norvane::testing::write_file;

class UnitFiles : public norvane::testing::UnitTest {
protected:
    void SetUp() override
    {
        UnitTest::SetUp();
        hal_set_event_callback(app_event_handler);
    }
    fsys::path event_file(const std::string& name) const { return unit_file("rootfs/app/event/" + name); }
    fsys::path outside(const std::string& name) const { return dir_ / name; }

    // Runs `body` on another thread; false when it is still blocked after 10 s
    // (the FIFO is then opened from this side so the thread can end).
    static bool finishes(const std::function<void()>& body, const fsys::path& fifo)
    {
        auto done = std::async(std::launch::async, body);
        if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
            return true;
        std::ofstream(fifo) << "";
        std::ifstream{fifo};
        done.wait();
        return false;
    }
};

// A link as the reply file made the unit overwrite whatever it named.
TEST_F(UnitFiles, ReplyThroughASymbolicLinkIsNotWritten)
{
    write_file(outside("precious.txt"), "keep me");
    NORVANE_MAKE_SYMLINK(outside("precious.txt"), event_file("app_reply"));
    write_file(event_file("app_command"), "USBSTICK_EJECTREADY");
    hal_raise_event(0);
    app_events_poll();
    EXPECT_EQ(read_file(outside("precious.txt")), "keep me");
    EXPECT_TRUE(fsys::is_symlink(event_file("app_reply")));
}

// A link as the command file is not read through: the command it names is
// not taken, the link and its target stay.
TEST_F(UnitFiles, CommandThroughASymbolicLinkIsNotTaken)
{
    write_file(outside("cmd.txt"), "USBSTICK_EJECTREADY");
    NORVANE_MAKE_SYMLINK(outside("cmd.txt"), event_file("app_command"));
    hal_raise_event(0);
    app_events_poll();
    EXPECT_EQ(read_file(outside("cmd.txt")), "USBSTICK_EJECTREADY");
    EXPECT_FALSE(fsys::exists(event_file("app_reply")));
}

TEST_F(UnitFiles, FileOperationsDoNotFollowLinksOrTouchFolders)
{
    write_file(outside("target.txt"), "target");
    NORVANE_MAKE_SYMLINK(outside("target.txt"), event_file("link"));
    EXPECT_EQ(fs_open(4, "link", "w"), nullptr);
    EXPECT_EQ(fs_open(4, "link", "a"), nullptr);
    EXPECT_EQ(fs_open(4, "link", "r"), nullptr);
    EXPECT_EQ(fs_remove(4, "link"), 1);
    EXPECT_FALSE(fsys::is_symlink(event_file("link")));
    EXPECT_EQ(read_file(outside("target.txt")), "target");

    fsys::create_directory(event_file("folder"));
    EXPECT_EQ(fs_open(4, "folder", "r"), nullptr);
    EXPECT_EQ(fs_remove(4, "folder"), 0) << "fs_remove deletes files, not folders";
    EXPECT_TRUE(fsys::is_directory(event_file("folder")));

    // Regular files still work in every mode, and "w" truncates.
    write_file(event_file("plain"), "0123456789");
    fs_stream* f = fs_open(4, "plain", "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fs_write(f, "ab", 2), 2u);
    fs_close(f);
    f = fs_open(4, "plain", "a");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fs_write(f, "c", 1), 1u);
    fs_close(f);
    EXPECT_EQ(read_file(event_file("plain")), "abc");
}

// A FIFO as "eeprom.dat" blocked the start for ever; as a command file it
// blocked the main loop.
TEST_F(UnitFiles, FifoInPlaceOfAFileIsRefusedWithoutBlocking)
{
    const fsys::path eeprom = unit_file("rootfs/app/data/config/eeprom.dat");
    NORVANE_MAKE_FIFO(eeprom);
    ::testing::internal::CaptureStderr();
    const bool loaded = finishes([] { nv_load(); }, eeprom);
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded) << "nv_load waits on a FIFO";
    EXPECT_FALSE(nv_image_valid(nv_image));
    EXPECT_NE(said.find("NV: rootfs/app/data/config/eeprom.dat is not a regular file; not read"),
              std::string::npos)
        << said;

    const fsys::path command = event_file("app_command");
    NORVANE_MAKE_FIFO(command);
    ASSERT_TRUE(finishes(
        [] {
            hal_raise_event(0);
            app_events_poll();
        },
        command))
        << "the command channel waits on a FIFO";
}

}  // namespace
