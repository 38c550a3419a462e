#include "host/core/bitmap_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/core/frame_convert.h"

namespace norvane {
namespace {

void put_u16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> bitmap_file_bytes(const uint8_t* bottom_up_image)
{
    std::vector<uint8_t> b(BITMAP_FILE_SIZE, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_u32(b, 2, BITMAP_FILE_SIZE);
    put_u32(b, 10, 54);
    put_u32(b, 14, 40);
    put_u32(b, 18, GFX_WIDTH);
    put_u32(b, 22, GFX_HEIGHT);
    put_u16(b, 26, 1);
    put_u16(b, 28, 32);
    std::memcpy(b.data() + 54, bottom_up_image, SCREEN_IMAGE_BYTES);
    return b;
}

bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    const size_t n = std::fwrite(bytes.data(), 1, bytes.size(), f);
    const int write_errno = errno;
    if (std::fclose(f) != 0 || n != bytes.size()) {
        why = std::strerror(n != bytes.size() ? write_errno : errno);
        return false;
    }
    return true;
}

bool write_bitmap_file(const std::string& path, const frame_buffer& frame, std::string& why)
{
    std::vector<uint8_t> image(SCREEN_IMAGE_BYTES);
    convert_frame_bottom_up(frame.pixels, image.data());
    return write_file_bytes(path, bitmap_file_bytes(image.data()), why);
}

}  // namespace norvane
