#include "host/core/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>

#include "host/common/regular_file.h"
#include "host/core/frame_convert.h"

namespace norvane {

rgb_image frame_to_rgb(const frame_buffer& frame)
{
    rgb_image image;
    image.width = GFX_WIDTH;
    image.height = GFX_HEIGHT;
    image.rgb.resize(size_t(GFX_WIDTH) * GFX_HEIGHT * 3);
    for (size_t i = 0; i < size_t(GFX_WIDTH) * GFX_HEIGHT; ++i) {
        const uint32_t bgra = convert_pixel(frame.pixels[i]);
        image.rgb[i * 3 + 0] = uint8_t(bgra >> 16);
        image.rgb[i * 3 + 1] = uint8_t(bgra >> 8);
        image.rgb[i * 3 + 2] = uint8_t(bgra);
    }
    return image;
}

bool write_png(const std::string& path, const rgb_image& image, std::string& why)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGB;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    const int ok = png_image_write_to_stdio(&png, f, 0, image.rgb.data(), 0, nullptr);
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        why = ok ? std::strerror(errno) : png.message;
        return false;
    }
    return true;
}

bool read_png(const std::string& path, rgb_image& image, std::string& why, int only_width, int only_height)
{
    // A picture file of the unit's screen is a few hundred kilobytes.
    constexpr uint64_t MAX_FILE_BYTES = 16u << 20;
    constexpr uint64_t MAX_PIXEL_BYTES = 64u << 20;
    std::string bytes;
    if (!read_regular_file(path, MAX_FILE_BYTES, bytes, why))
        return false;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
        why = png.message;
        return false;
    }
    image.width = int(png.width);
    image.height = int(png.height);
    image.rgb.clear();
    // The header's size is checked before anything is allocated: a small
    // file may claim billions of pixels.
    if ((only_width || only_height) && (png.width != png_uint_32(only_width) || png.height != png_uint_32(only_height))) {
        png_image_free(&png);
        return true;
    }
    const uint64_t size = uint64_t(png.width) * png.height * 3;
    if (png.width > 0x7FFFFFFF || png.height > 0x7FFFFFFF || size > MAX_PIXEL_BYTES) {
        why = std::to_string(png.width) + " x " + std::to_string(png.height) + " pixels, more than a picture of "
              "the screen can be";
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image.rgb.assign(size_t(size), 0);
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        why = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace norvane
