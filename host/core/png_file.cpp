#include "host/core/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>

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

bool read_png(const std::string& path, rgb_image& image, std::string& why)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        why = png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image.width = int(png.width);
    image.height = int(png.height);
    image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        why = png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace norvane
