#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "seam/frame.h"

namespace norvane {

// An 8-bit RGB picture, rows top first.
struct rgb_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3
};

// The frame as the window shows it (the same conversion as the bitmap file).
rgb_image frame_to_rgb(const frame_buffer& frame);

bool write_png(const std::string& path, const rgb_image& image, std::string& why);
// Reads a PNG file (a regular file of at most 16 MiB, its picture at most
// 64 MiB of pixels). With only_width and only_height, a picture of another
// size is not decoded: `image` has its size and no pixels.
bool read_png(const std::string& path, rgb_image& image, std::string& why, int only_width = 0, int only_height = 0);

}  // namespace norvane
