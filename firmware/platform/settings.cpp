// The 32 KiB non-volatile image and the saved-settings record at its start.
#include "platform/settings.h"

#include <cerrno>
#include <cstring>

#include "platform/fs.h"
#include "platform/hal.h"

constexpr uint8_t NV_ROOT = 2;  // "rootfs/app/data/config"
constexpr const char* NV_FILE = "eeprom.dat";
constexpr const char* NV_FILE_OLD = "eeprom.dat.old";
// The next generation while it is being written; never loaded.
constexpr const char* NV_FILE_NEW = "eeprom.dat.new";

settings_record settings_work;
uint8_t settings_shadow[SETTINGS_SIZE];
std::atomic<uint8_t> settings_dirty{0};
uint8_t nv_image[NV_SIZE];

uint32_t settings_record::u32(uint32_t ofs) const
{
    return uint32_t(byte(ofs)) | uint32_t(byte(ofs + 1)) << 8 | uint32_t(byte(ofs + 2)) << 16 |
           uint32_t(byte(ofs + 3)) << 24;
}

void settings_record::set_u32(uint32_t ofs, uint32_t v)
{
    for (uint32_t i = 0; i < 4; ++i)
        set_byte(ofs + i, uint8_t(v >> (8 * i)));
}

void settings_record::load_from(const uint8_t* src)
{
    for (uint32_t i = 0; i < SETTINGS_SIZE; ++i)
        set_byte(i, src[i]);
}

void settings_record::store_to(uint8_t* dst) const
{
    for (uint32_t i = 0; i < SETTINGS_SIZE; ++i)
        dst[i] = byte(i);
}

namespace {

// Reads a whole image. With `report`, a file that is there but is no regular
// file (a FIFO would block the start, a link is not followed) is said once.
bool read_whole_image(const char* name, uint8_t* image, bool report = false)
{
    fs_stream* f = fs_open(NV_ROOT, name, "r");
    if (!f) {
        if (report && (errno == EINVAL || errno == ELOOP))
            hal_debug_printf("NV: %s/%s is not a regular file; not read\n", fs_root(NV_ROOT), name);
        return false;
    }
    const size_t n = fs_read(f, image, NV_SIZE);
    fs_close(f);
    return n == NV_SIZE;
}

// A second image: what a file holds, looked at before it is trusted.
uint8_t nv_check_image[NV_SIZE];
// A store failed and has not yet succeeded again (it was reported).
bool nv_store_failing = false;
bool settings_unsaved = false;

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int store_failed(const char* step)
{
    if (!nv_store_failing)
        hal_debug_printf("NV: saving the settings failed (%s eeprom.dat); the previous generation is kept, "
                         "the next save tries again\n",
                         step);
    nv_store_failing = true;
    return 0;
}

uint16_t crc_table[256];
bool crc_table_built = false;

void build_crc_table()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t crc = uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        crc_table[i] = crc;
    }
    crc_table_built = true;
}

// CRC of record bytes [from, 48).
uint16_t record_crc(uint32_t from)
{
    uint8_t bytes[SETTINGS_SIZE];
    settings_work.store_to(bytes);
    return settings_crc16(bytes + from, SETTINGS_SIZE - from);
}

uint16_t record_u16(uint32_t ofs)
{
    return uint16_t(settings_work.byte(ofs) | settings_work.byte(ofs + 1) << 8);
}

}  // namespace

bool nv_image_valid(const uint8_t* image)
{
    const uint16_t crc = settings_crc16(image + 4, SETTINGS_SIZE - 4);
    return le32(image + SETTINGS_OFS_CRC) == crc && le32(image + SETTINGS_OFS_MAGIC) == SETTINGS_MAGIC &&
           settings_crc16(image + 2, SETTINGS_SIZE - 2) == le16(image + SETTINGS_OFS_CRC);
}

void nv_load()
{
    nv_store_failing = false;
    if (read_whole_image(NV_FILE, nv_image, true) && nv_image_valid(nv_image))
        return;
    if (read_whole_image(NV_FILE_OLD, nv_check_image, true) && nv_image_valid(nv_check_image)) {
        std::memcpy(nv_image, nv_check_image, NV_SIZE);
        return;
    }
    // Neither holds a valid record: the first complete image, as it is.
    if (read_whole_image(NV_FILE, nv_image))
        return;
    if (read_whole_image(NV_FILE_OLD, nv_image))
        return;
    std::memset(nv_image, 0xFF, NV_SIZE);
}

void nv_read(uint32_t offset, void* destination, uint32_t length)
{
    if (offset > NV_SIZE || length > NV_SIZE - offset)
        return;
    std::memcpy(destination, nv_image + offset, length);
}

int nv_write(uint32_t offset, const void* source, uint32_t length)
{
    if (offset > NV_SIZE || length > NV_SIZE - offset)
        return 0;
    std::memcpy(nv_image + offset, source, length);
    return nv_store();
}

int nv_store()
{
    // 1. The new generation, whole and on the disk, under its own name. Until
    //    it is renamed into place the files the load reads are untouched.
    fs_stream* f = fs_open(NV_ROOT, NV_FILE_NEW, "w");
    if (!f)
        return store_failed("cannot create the new");
    const bool written = fs_write(f, nv_image, NV_SIZE) == NV_SIZE && fs_sync(f);
    fs_close(f);
    if (!written) {
        fs_remove(NV_ROOT, NV_FILE_NEW);
        return store_failed("cannot write the new");
    }
    // 2. The current file becomes the previous generation only when it is a
    //    complete valid image: a short or broken one (left by an earlier
    //    failure) must not push out the good ".old". The rename replaces
    //    ".old" in one step, so there is no moment without it.
    if (read_whole_image(NV_FILE, nv_check_image) && nv_image_valid(nv_check_image))
        fs_rename(NV_ROOT, NV_FILE, NV_ROOT, NV_FILE_OLD);
    // 3. Into place. Between 2 and 3 the load finds ".old", a valid image.
    if (!fs_rename(NV_ROOT, NV_FILE_NEW, NV_ROOT, NV_FILE)) {
        fs_remove(NV_ROOT, NV_FILE_NEW);
        return store_failed("cannot rename into");
    }
    fs_sync_dir(NV_ROOT, "");
    nv_store_failing = false;
    return 1;
}

uint16_t settings_crc16(const uint8_t* data, uint32_t length)
{
    if (!crc_table_built)
        build_crc_table();
    uint16_t crc = 0;
    for (uint32_t i = 0; i < length; ++i)
        crc = uint16_t((crc << 8) ^ crc_table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

void settings_load()
{
    settings_unsaved = false;
    uint8_t bytes[SETTINGS_SIZE];
    nv_read(0, bytes, SETTINGS_SIZE);
    settings_work.load_from(bytes);
    if (record_crc(4) != settings_work.u32(SETTINGS_OFS_CRC))
        settings_defaults();
    if (settings_work.u32(SETTINGS_OFS_MAGIC) != SETTINGS_MAGIC)
        settings_defaults();
    else if (record_crc(2) != record_u16(SETTINGS_OFS_CRC))
        settings_defaults();
}

void settings_defaults()
{
    const uint32_t old_counter = settings_work.u32(SETTINGS_OFS_COUNTER);
    for (uint32_t i = 0; i < SETTINGS_SIZE; ++i)
        settings_work.set_byte(i, 0);
    settings_work.set_u32(SETTINGS_OFS_MAGIC, SETTINGS_MAGIC);
    uint32_t counter = 0;
    if (old_counter == 0xFFFFFFFFu)
        counter = 0;
    else if (old_counter > 500000u)
        counter = 1000;
    settings_work.set_u32(SETTINGS_OFS_COUNTER, counter);
    // A stored check value with byte 2 set can never equal a fresh CRC, so
    // the next save writes the record.
    settings_work.set_byte(2, 4);
    settings_dirty.store(1, std::memory_order_relaxed);
}

void settings_save()
{
    if (record_crc(2) != record_u16(SETTINGS_OFS_CRC))
        settings_dirty.store(1, std::memory_order_relaxed);
    if (settings_dirty.load(std::memory_order_relaxed) &&
        record_crc(4) != settings_work.u32(SETTINGS_OFS_CRC)) {
        settings_work.set_u32(SETTINGS_OFS_COUNTER, settings_work.u32(SETTINGS_OFS_COUNTER) + 1);
        settings_work.set_u32(SETTINGS_OFS_CRC, record_crc(4));
        uint8_t bytes[SETTINGS_SIZE];
        settings_work.store_to(bytes);
        settings_unsaved = !nv_write(0, bytes, SETTINGS_SIZE);
        if (!settings_unsaved)
            std::memcpy(settings_shadow, bytes, SETTINGS_SIZE);
    } else if (settings_unsaved) {
        // The image already holds the record the failed save was given.
        settings_unsaved = !nv_store();
        if (!settings_unsaved)
            std::memcpy(settings_shadow, nv_image, SETTINGS_SIZE);
    }
    settings_dirty.store(0, std::memory_order_relaxed);
}

void settings_reset()
{
    for (auto& byte : settings_work.raw)
        byte.store(0, std::memory_order_relaxed);
    std::memset(settings_shadow, 0, sizeof settings_shadow);
    std::memset(nv_image, 0, sizeof nv_image);
    settings_dirty.store(0, std::memory_order_relaxed);
    settings_unsaved = false;
}

bool settings_save_pending()
{
    return settings_unsaved;
}
