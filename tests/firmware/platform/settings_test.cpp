// The non-volatile image in "eeprom.dat" and the saved-settings record.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/settings.h"
#include "support/unit_fixture.h"

namespace {

namespace fsys = std::filesystem;

std::vector<uint8_t> read_file(const fsys::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fsys::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A valid image whose record carries `request0` as circuit request 0.
std::vector<uint8_t> valid_image(uint8_t request0, uint32_t counter = 7)
{
    std::vector<uint8_t> image(NV_SIZE, 0xFF);
    std::memset(image.data(), 0, SETTINGS_SIZE);
    image[4] = uint8_t(counter);
    image[5] = uint8_t(counter >> 8);
    image[6] = uint8_t(counter >> 16);
    image[7] = uint8_t(counter >> 24);
    image[8] = 0x39;
    image[9] = 0xB4;
    image[10] = 0x87;
    image[11] = 0x12;
    image[SETTINGS_OFS_CIRCUIT_REQUEST] = request0;
    const uint16_t crc = settings_crc16(image.data() + 4, SETTINGS_SIZE - 4);
    image[0] = uint8_t(crc);
    image[1] = uint8_t(crc >> 8);
    return image;
}

class Settings : public norvane::testing::UnitTest {
protected:
    fsys::path config() const { return dir_.path() / "rootfs/app/data/config"; }
    fsys::path eeprom() const { return config() / "eeprom.dat"; }
    fsys::path eeprom_old() const { return config() / "eeprom.dat.old"; }
};

TEST(SettingsCrc, IsXmodem)
{
    const char* check = "123456789";
    EXPECT_EQ(settings_crc16(reinterpret_cast<const uint8_t*>(check), 9), 0x31C3);
    EXPECT_EQ(settings_crc16(nullptr, 0), 0);
}

TEST_F(Settings, ErasedImageGivesDefaultsSavedWithinASecond)
{
    norvane::VirtualStepper& unit = start();
    EXPECT_EQ(settings_work.u32(SETTINGS_OFS_MAGIC), SETTINGS_MAGIC);
    unit.advance(1000);
    const std::vector<uint8_t> file = read_file(eeprom());
    ASSERT_EQ(file.size(), NV_SIZE);
    const uint8_t magic[4] = {0x39, 0xB4, 0x87, 0x12};
    EXPECT_EQ(std::memcmp(file.data() + 8, magic, 4), 0);
    EXPECT_EQ(file[4], 1);  // save counter
    EXPECT_EQ(file[5] | file[6] | file[7], 0);
    const uint16_t crc = settings_crc16(file.data() + 4, SETTINGS_SIZE - 4);
    EXPECT_EQ(file[0] | file[1] << 8, crc);
    EXPECT_EQ(file[2] | file[3], 0);
}

TEST_F(Settings, UnchangedSettingsNeverWrite)
{
    norvane::VirtualStepper& unit = start();
    unit.advance(1000);
    const auto first_write = fsys::last_write_time(eeprom());
    ASSERT_TRUE(fsys::exists(eeprom()));
    fsys::remove(eeprom_old());
    unit.advance(30000);
    EXPECT_FALSE(fsys::exists(eeprom_old()));  // every write rotates the old file in
    EXPECT_EQ(fsys::last_write_time(eeprom()), first_write);
    EXPECT_EQ(settings_work.u32(SETTINGS_OFS_COUNTER), 1u);
}

TEST_F(Settings, ChangedRequestIsSavedAndSurvivesARestart)
{
    write_file(eeprom(), valid_image(0));
    norvane::VirtualStepper& unit = start();
    EXPECT_EQ(circuit_request[0].load(), 0);
    circuit_request[5] = 1;
    unit.advance(1000);
    const std::vector<uint8_t> file = read_file(eeprom());
    ASSERT_EQ(file.size(), NV_SIZE);
    EXPECT_EQ(file[SETTINGS_OFS_CIRCUIT_REQUEST + 5], 1);
    EXPECT_EQ(file[4], 8);  // counter 7 + 1
    EXPECT_EQ(read_file(eeprom_old()), valid_image(0));

    // A second start reads what the first wrote.
    std::memset(nv_image, 0xFF, NV_SIZE);
    circuit_request[5] = 0;
    nv_load();
    settings_load();
    EXPECT_EQ(circuit_request[5].load(), 1);
}

TEST_F(Settings, ShortFileFallsBackToThePreviousGeneration)
{
    std::vector<uint8_t> short_image = valid_image(1);
    short_image.resize(NV_SIZE - 1);
    write_file(eeprom(), short_image);
    write_file(eeprom_old(), valid_image(42));
    start();
    EXPECT_EQ(circuit_request[0].load(), 42);
}

TEST_F(Settings, BadRecordsGiveDefaults)
{
    struct bad_case {
        const char* what;
        size_t offset;
        uint8_t value;
    };
    const bad_case cases[] = {
        {"wrong crc", 0, 0x00},
        {"wrong magic", 8, 0x38},
        {"stored check with a high half", 2, 0x04},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image = valid_image(9);
        image[c.offset] = c.value;
        if (c.offset == 8) {  // keep the CRC right so only the magic is off
            const uint16_t crc = settings_crc16(image.data() + 4, SETTINGS_SIZE - 4);
            image[0] = uint8_t(crc);
            image[1] = uint8_t(crc >> 8);
        }
        std::memcpy(nv_image, image.data(), NV_SIZE);
        settings_load();
        EXPECT_EQ(circuit_request[0].load(), 0);
        EXPECT_EQ(settings_work.u32(SETTINGS_OFS_MAGIC), SETTINGS_MAGIC);
        EXPECT_EQ(settings_dirty.load(), 1);
    }
}

TEST(SettingsDefaults, CounterRules)
{
    struct counter_case {
        uint32_t old_counter;
        uint32_t new_counter;
    };
    const counter_case cases[] = {
        {0, 0}, {7, 0}, {500000, 0}, {500001, 1000}, {0xFFFFFFFEu, 1000}, {0xFFFFFFFFu, 0},
    };
    for (const counter_case& c : cases) {
        SCOPED_TRACE(c.old_counter);
        settings_work.set_u32(SETTINGS_OFS_COUNTER, c.old_counter);
        settings_work.set_byte(SETTINGS_OFS_CIRCUIT_REQUEST, 1);
        settings_dirty = 0;
        settings_defaults();
        EXPECT_EQ(settings_work.u32(SETTINGS_OFS_COUNTER), c.new_counter);
        EXPECT_EQ(settings_work.byte(SETTINGS_OFS_CIRCUIT_REQUEST), 0);
        EXPECT_EQ(settings_work.byte(2), 4);
        EXPECT_EQ(settings_work.u32(SETTINGS_OFS_MAGIC), SETTINGS_MAGIC);
        EXPECT_EQ(settings_dirty.load(), 1);
    }
}

TEST_F(Settings, UnwritableFolderDoesNotStopTheUnit)
{
    norvane::VirtualStepper& unit = start();
    // Take the folder away under the running unit: saves fail quietly.
    fsys::remove_all(config());
    circuit_request[1] = 1;
    unit.advance(3000);
    EXPECT_FALSE(fsys::exists(eeprom()));
    EXPECT_EQ(fs_open(2, "eeprom.dat", "r"), nullptr);
    EXPECT_EQ(fs_remove(2, "eeprom.dat"), 0);
    EXPECT_EQ(unit.main_steps(), 120u);
}

}  // namespace
