// The settings load over any non-volatile image: a valid record is taken as
// it is, anything else gives the defaults; the save after it does not crash.
// Byte 0 = 0xA5 loads the image from an "eeprom.dat" file instead of memory:
// the bytes after byte 1, padded with 0xFF to a whole image when byte 1 is not
// 0 (so short inputs make complete files too).
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/fs.h"
#include "platform/settings.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string eeprom = norvane::fuzz::unit_folder() + "/rootfs/app/data/config/eeprom.dat";
    if (size > 1 && data[0] == 0xA5) {
        fs_set_fault_hook(nullptr);
        static uint8_t file[NV_SIZE];
        const size_t n = size - 2 < NV_SIZE ? size - 2 : NV_SIZE;
        std::memset(file, 0xFF, NV_SIZE);
        std::memcpy(file, data + 2, n);
        norvane::fuzz::write_bytes(eeprom, file, data[1] ? NV_SIZE : n);
        nv_load();
    } else {
        std::memset(nv_image, 0xFF, NV_SIZE);
        std::memcpy(nv_image, data, size < NV_SIZE ? size : NV_SIZE);
    }
    const bool valid = nv_image_valid(nv_image);
    settings_dirty = 0;
    settings_load();
    check(valid == (settings_dirty.load() == 0), "the load and the validity check disagree");
    check(settings_work.u32(SETTINGS_OFS_MAGIC) == SETTINGS_MAGIC, "a loaded record without the magic");
    // The save runs with a disk that refuses every file: no file traffic.
    fs_set_fault_hook([](fs_step) { return true; });
    settings_save();
    settings_save();
    fs_set_fault_hook(nullptr);
    return 0;
}
