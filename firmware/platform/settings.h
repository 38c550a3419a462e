// Non-volatile memory (32 KiB image in "eeprom.dat") and the 48-byte settings
// record at its start.
#pragma once
#include <atomic>
#include <cstdint>

constexpr uint32_t NV_SIZE = 32768;
constexpr uint32_t SETTINGS_SIZE = 48;
constexpr uint32_t SETTINGS_MAGIC = 0x1287B439;

constexpr uint32_t SETTINGS_OFS_CRC = 0;
constexpr uint32_t SETTINGS_OFS_COUNTER = 4;
constexpr uint32_t SETTINGS_OFS_MAGIC = 8;
constexpr uint32_t SETTINGS_OFS_FLAG_A = 12;
constexpr uint32_t SETTINGS_OFS_FLAG_B = 14;
constexpr uint32_t SETTINGS_OFS_CIRCUIT_REQUEST = 16;
constexpr uint32_t SETTINGS_OFS_SWITCH_SNAPSHOT = 34;
constexpr uint32_t CIRCUIT_REQUEST_COUNT = 18;
constexpr uint32_t SWITCH_SNAPSHOT_COUNT = 12;

// The working copy of the record, little-endian, byte by byte. The screens
// (main loop) write circuit requests, the model (tick) writes the switch
// snapshot and the once-per-second save reads it all: every byte is atomic.
struct settings_record {
    std::atomic<uint8_t> raw[SETTINGS_SIZE];

    uint8_t byte(uint32_t ofs) const { return raw[ofs].load(std::memory_order_relaxed); }
    void set_byte(uint32_t ofs, uint8_t v) { raw[ofs].store(v, std::memory_order_relaxed); }
    uint32_t u32(uint32_t ofs) const;
    void set_u32(uint32_t ofs, uint32_t v);
    void load_from(const uint8_t* src);
    void store_to(uint8_t* dst) const;
};
static_assert(sizeof(settings_record) == SETTINGS_SIZE);

extern settings_record settings_work;
extern uint8_t settings_shadow[SETTINGS_SIZE];
extern std::atomic<uint8_t> settings_dirty;

// Views into the record: the model's circuit requests and switch snapshot.
inline std::atomic<uint8_t>* const circuit_request = &settings_work.raw[SETTINGS_OFS_CIRCUIT_REQUEST];
inline std::atomic<uint8_t>* const switch_snapshot = &settings_work.raw[SETTINGS_OFS_SWITCH_SNAPSHOT];

extern uint8_t nv_image[NV_SIZE];
// hal_init: "eeprom.dat", else "eeprom.dat.old", else erased. A complete
// image whose settings record is valid wins over one whose record is not.
void nv_load();
void nv_read(uint32_t offset, void* destination, uint32_t length);
// Copies into the image and stores the whole image as a new generation of
// "eeprom.dat": written under a temporary name and flushed to the disk, the
// current file moved to "eeprom.dat.old" only when it is a complete valid
// image, then the new one renamed into place. A crash at any moment leaves
// at least one valid generation. Returns 1 when the image was stored; a
// failure is reported with one line on the debug output (once, until a
// store succeeds again).
int nv_write(uint32_t offset, const void* source, uint32_t length);
// Stores the image as nv_write does, without changing it.
int nv_store();
// True for a 32 KiB image whose settings record passes the load's checks.
bool nv_image_valid(const uint8_t* image);

void settings_load();
// The once-per-second save. A save that could not store the image is tried
// again at the next call, whether or not the record changed since.
void settings_save();
bool settings_save_pending();
void settings_defaults();
void settings_reset();  // the record, its shadow and the NV image all zero, nothing to save
uint16_t settings_crc16(const uint8_t* data, uint32_t length);
