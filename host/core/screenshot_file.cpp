// Screenshots as files: the window's bitmap or a PNG.
#include "host/core/headless_run.h"

#include "host/core/bitmap_file.h"
#include "host/core/frame_convert.h"
#include "host/core/png_file.h"

namespace norvane {

bool write_screenshot(const std::string& file, const frame_buffer& frame, std::string& why)
{
    std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool ok = ext == ".png" ? write_png(file, frame_to_rgb(frame), why)
                                  : write_bitmap_file(file, frame, why);
    if (!ok)
        why = "cannot write screenshot '" + file + "': " + why;
    return ok;
}

}  // namespace norvane
