#include "host/core/shown_frame.h"

#include <cstring>

namespace norvane {

bool ShownFrame::changed(const frame_buffer& front)
{
    if (!show_next_.exchange(false, std::memory_order_relaxed) &&
        std::memcmp(front.pixels, frame_->pixels, sizeof front.pixels) == 0)
        return false;
    std::memcpy(frame_->pixels, front.pixels, sizeof front.pixels);
    return true;
}

}  // namespace norvane
