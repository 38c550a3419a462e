#include "host/core/screen_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/core/png_file.h"

namespace norvane {
namespace {

// The failed picture: the screen as seen on the left; on the right the same
// screen dim and grey with every pixel that differs from the reference in
// magenta.
rgb_image difference_picture(const rgb_image& seen, const rgb_image& reference)
{
    rgb_image out;
    out.width = seen.width * 2;
    out.height = seen.height;
    out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
    for (int y = 0; y < seen.height; ++y)
        for (int x = 0; x < seen.width; ++x) {
            const size_t from = (size_t(y) * size_t(seen.width) + size_t(x)) * 3;
            uint8_t* left = &out.rgb[(size_t(y) * size_t(out.width) + size_t(x)) * 3];
            uint8_t* right = left + size_t(seen.width) * 3;
            std::copy(&seen.rgb[from], &seen.rgb[from] + 3, left);
            const bool differs = std::equal(&seen.rgb[from], &seen.rgb[from] + 3, &reference.rgb[from]) == false;
            const uint8_t grey =
                uint8_t((seen.rgb[from] * 30 + seen.rgb[from + 1] * 59 + seen.rgb[from + 2] * 11) / 100);
            // Magenta as bright as the seen pixel, so shapes stay readable.
            right[0] = differs ? uint8_t(0x80 + grey / 2) : uint8_t(grey / 3);
            right[1] = differs ? 0x00 : uint8_t(grey / 3);
            right[2] = differs ? uint8_t(0x80 + grey / 2) : uint8_t(grey / 3);
        }
    return out;
}

}  // namespace

screen_check_result check_screen(const frame_buffer& screen, const screen_check_options& options)
{
    const rgb_image seen = frame_to_rgb(screen);
    rgb_image reference;
    std::string why;
    const bool have_reference = read_png(options.reference, reference, why, seen.width, seen.height);
    const bool same = have_reference && reference.width == seen.width && reference.height == seen.height;
    const std::filesystem::path err(options.err_file);
    std::error_code ec;

    screen_check_result result;
    const rgb_image* picture = &seen;
    rgb_image difference;
    if (!have_reference) {
        result.detail = "cannot read the reference '" + options.reference + "' (" + why + ")";
        if (!options.missing_hint.empty())
            result.detail += "; " + options.missing_hint;
    } else if (!same) {
        result.detail = "the reference '" + options.reference + "' is " + std::to_string(reference.width) + " x " +
                        std::to_string(reference.height) + ", the screen " + std::to_string(seen.width) + " x " +
                        std::to_string(seen.height);
    } else {
        size_t differing = 0;
        size_t first = 0;
        for (size_t p = 0; p < seen.rgb.size() / 3; ++p)
            if (!std::equal(&seen.rgb[p * 3], &seen.rgb[p * 3] + 3, &reference.rgb[p * 3]))
                first = differing++ ? first : p;
        if (differing <= options.max_diff) {
            result.state = screen_check_state::passed;
            // A picture left by an earlier run is stale now.
            if (options.remove_stale_err)
                std::filesystem::remove(err, ec);
            return result;
        }
        result.detail = std::to_string(differing) + " pixels differ from '" + options.reference + "'" +
                        (options.max_diff ? " (at most " + std::to_string(options.max_diff) + " allowed)"
                                          : std::string()) +
                        ", the first at x " + std::to_string(first % size_t(seen.width)) + " y " +
                        std::to_string(first / size_t(seen.width));
        difference = difference_picture(seen, reference);
        picture = &difference;
    }
    if (err.has_parent_path())
        std::filesystem::create_directories(err.parent_path(), ec);
    if (write_png(err.string(), *picture, why)) {
        result.err_written = true;
        result.detail += picture == &seen ? "; the screen is in " + err.string()
                                          : "; seen and difference in " + err.string();
    } else {
        result.detail += "; cannot write " + err.string() + ": " + why;
    }
    return result;
}

screen_check_result update_screen_reference(const frame_buffer& screen, const std::string& reference)
{
    const rgb_image seen = frame_to_rgb(screen);
    rgb_image old;
    std::string why;
    screen_check_result result;
    if (read_png(reference, old, why, seen.width, seen.height) && old.width == seen.width &&
        old.height == seen.height && old.rgb == seen.rgb) {
        result.state = screen_check_state::passed;
        return result;
    }
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(reference).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ec);
    if (!write_png(reference, seen, why)) {
        result.detail = "cannot write the reference '" + reference + "': " + why;
        return result;
    }
    result.state = screen_check_state::written;
    result.detail = "wrote " + reference;
    return result;
}

}  // namespace norvane
