#pragma once
#include <atomic>
#include <memory>

#include "gfx/gfx.h"

namespace norvane {

// The frame the window shows, kept so that a frame equal to it need not be
// converted and painted again: the window would draw and send the very same
// picture. Such a frame still counts as taken, so the hand-over goes on one
// presentation behind as ever.
class ShownFrame {
public:
    ShownFrame() : frame_(std::make_unique<frame_buffer>()) {}
    // For each frame the window takes: true when `front` differs from the frame
    // last shown (or the window asked to show the next one anyway); it is then
    // the one kept.
    bool changed(const frame_buffer& front);
    // Any thread: the next frame is shown whatever it holds (the window painted
    // something else meanwhile: it was paused, resized or rebuilt).
    void show_next() { show_next_.store(true, std::memory_order_relaxed); }

private:
    std::unique_ptr<frame_buffer> frame_;  // black, as a new window's screen
    std::atomic<bool> show_next_{true};
};

}  // namespace norvane
