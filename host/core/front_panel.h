// The window's geometry without a window: where the screen sits in the bezel,
// which bezel button a point hits, the coordinate tooltip and the pixel grid.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvane {

constexpr int BEZEL_WIDTH = 407;
constexpr int BEZEL_HEIGHT = 421;
constexpr int FULL_SCREEN_ZOOM = 4;  // this zoom and above: no bezel, the screen fills the client

struct PanelRect {
    int left = 0;
    int top = 0;
    int right = 0;  // exclusive
    int bottom = 0;  // exclusive
    bool operator==(const PanelRect&) const = default;
};

struct PanelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PanelSize&) const = default;
};

// 407 x 421 times the zoom below zoom 4; 1280 x 960 (the screen alone) at 4.
PanelSize client_size(int zoom);

// The screen's rectangle in a client of w x h: the bezel's window scaled to
// the client below zoom 4, the whole client at 4.
PanelRect screen_rect(int w, int h, int zoom);

// The bezel button (1..5) under client point (x, y), 0 for none. The zones are
// fractions of the client size, so they apply at every zoom.
int button_at(int w, int h, int x, int y);

// The zone of bezel button n (1..5) in a client of w x h, as button_at sees
// it; an empty rectangle for other numbers.
PanelRect button_rect(int w, int h, int n);

// The tooltip over bezel button n: "Button N (FN)".
std::string button_tooltip_text(int n);

struct ScreenPoint {
    int x = 0;
    int y = 0;
};
// The unit's screen pixel under client point (x, y), if it lies on the screen.
std::optional<ScreenPoint> screen_pixel_at(const PanelRect& screen, int zoom, int x, int y);

// "X:%d Y:%d"
std::string tooltip_text(ScreenPoint p);

constexpr uint32_t GRID_PIXEL = 0x7F7F7F7Fu;  // premultiplied grey at alpha 127

// The pixel-grid overlay for `zoom` and a grid width of `grid_width` screen
// pixels: (320 zoom) x (240 zoom) premultiplied ARGB pixels, rows top first.
// Horizontal lines are counted from the bottom edge; the top row and the last
// column carry no grid pixels.
std::vector<uint32_t> grid_image(int zoom, int grid_width);

}  // namespace norvane
