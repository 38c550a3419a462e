// The unit's file system: roots, path forming and the file operations.
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/unit_fixture.h"

namespace {

TEST(PathForming, FollowsTheUnitsRules)
{
    struct path_case {
        uint8_t root;
        std::string name;
        std::string path;
    };
    const path_case cases[] = {
        {0, "app.bin", "rootfs/app/bin/app.bin"},
        {4, "app_command", "rootfs/app/event/app_command"},
        {5, "", "rootfs/media"},
        {5, "stick1\\docs\\", "rootfs/media/stick1/docs"},
        {5, "stick1//", "rootfs/media/stick1"},
        {2, "sub\\eeprom.dat", "rootfs/app/data/config/sub/eeprom.dat"},
        {3, std::string(300, 'x'), "rootfs/app/data/log/" + std::string(259 - 20, 'x')},
    };
    for (const path_case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[FS_PATH_MAX];
        ASSERT_EQ(fs_form_path(c.root, c.name.c_str(), out), 1);
        EXPECT_EQ(std::string(out), c.path);
    }
    char out[FS_PATH_MAX];
    EXPECT_EQ(fs_form_path(6, "x", out), 0);
}

class FileSystem : public norvane::testing::UnitTest {};

TEST_F(FileSystem, RootsExistAndSubFoldersAreFound)
{
    for (uint8_t root = 0; root < FS_ROOT_COUNT; ++root)
        EXPECT_EQ(fs_dir_exists(root, ""), 1) << int(root);
    EXPECT_EQ(fs_dir_exists(5, "stick1\\docs\\"), 0);
    std::filesystem::create_directories(dir_.path() / "rootfs/media/stick1/docs");
    EXPECT_EQ(fs_dir_exists(5, "stick1\\docs\\"), 1);
    EXPECT_EQ(fs_dir_exists(5, "stick1/docs/file"), 0);
}

TEST_F(FileSystem, MkdirAllCreatesEveryMissingParent)
{
    std::filesystem::remove_all(dir_.path() / "rootfs");
    EXPECT_EQ(fs_dir_exists(3, ""), 0);
    EXPECT_EQ(fs_mkdir_all(3, ""), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "rootfs/app/data/log"));
}

TEST_F(FileSystem, FilesRoundTripInBinaryAndRename)
{
    fs_stream* f = fs_open(1, "data.bin", "w");
    ASSERT_NE(f, nullptr);
    const char bytes[] = {'a', '\n', '\0', 'b'};
    EXPECT_EQ(fs_write(f, bytes, sizeof bytes), sizeof bytes);
    fs_close(f);
    EXPECT_EQ(fs_rename(1, "data.bin", 3, "moved.bin"), 1);
    EXPECT_EQ(fs_open(1, "data.bin", "r"), nullptr);
    f = fs_open(3, "moved.bin", "r");
    ASSERT_NE(f, nullptr);
    char back[8] = {};
    EXPECT_EQ(fs_read(f, back, sizeof back), sizeof bytes);
    fs_close(f);
    EXPECT_EQ(std::memcmp(back, bytes, sizeof bytes), 0);
    EXPECT_EQ(fs_remove(3, "moved.bin"), 1);
    EXPECT_EQ(fs_remove(3, "moved.bin"), 0);
    EXPECT_EQ(fs_open(9, "x", "r"), nullptr);
}

}  // namespace
