#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "seam/frame.h"

namespace norvane {

constexpr uint32_t BITMAP_FILE_SIZE = 307254;  // 14 + 40 + 320 * 240 * 4

// The Save Screen file: "BM" header, 40-byte info header (320 x 240, 32 bits,
// rows bottom-up) and the converted screen image. Neither bezel nor grid.
std::vector<uint8_t> bitmap_file_bytes(const uint8_t* bottom_up_image);

// Writes the frame as that bitmap. Returns false with the reason on failure.
bool write_bitmap_file(const std::string& path, const frame_buffer& frame, std::string& why);

// Writes any buffer to a file; false with the reason (strerror) on failure.
bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why);

}  // namespace norvane
