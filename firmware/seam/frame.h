// The seam: taking the unit's screen. The firmware composes each frame into
// one of two output buffers and waits until the host took the last one.
#pragma once
#include <cstdint>

using gfx_color = uint16_t;  // RGB565

constexpr int GFX_WIDTH = 320;
constexpr int GFX_HEIGHT = 240;

struct alignas(64) frame_buffer {
    gfx_color pixels[GFX_WIDTH * GFX_HEIGHT];
};

const frame_buffer* gfx_front_buffer();  // the newest composed frame
void gfx_frame_taken();                  // the host is done with it
// The host tells the next gfx_present that nobody will look at its frame: that
// presentation waits and flips as usual but composes nothing, so the output
// buffer keeps an older picture. The window takes every frame and never asks
// this; the virtual-time runner does for frames no screenshot will show.
void gfx_skip_next_compose();
