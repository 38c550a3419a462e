#include "host/core/front_panel.h"

#include <cstdio>

#include "gfx/gfx.h"

namespace norvane {
namespace {

// The zones as the unit's host keeps them: 32-bit floats, fractions of the
// client width (x) and height (y). The comparisons use the products in double.
struct zone {
    float x_from, x_to;
};
constexpr zone ZONES[5] = {
    {0.1621621549f, 0.2432432473f}, {0.3144963086f, 0.3955774009f}, {0.4619164765f, 0.5429975390f},
    {0.6142506003f, 0.6953316927f}, {0.7641277909f, 0.8452088237f},
};
constexpr float ZONE_Y_FROM = 0.8503562808f;
constexpr float ZONE_Y_TO = 0.9144893289f;

}  // namespace

PanelSize client_size(int zoom)
{
    if (zoom >= FULL_SCREEN_ZOOM)
        return {GFX_WIDTH * FULL_SCREEN_ZOOM, GFX_HEIGHT * FULL_SCREEN_ZOOM};
    return {BEZEL_WIDTH * zoom, BEZEL_HEIGHT * zoom};
}

PanelRect screen_rect(int w, int h, int zoom)
{
    if (zoom >= FULL_SCREEN_ZOOM)
        return {0, 0, w, h};
    return {w * 43 / BEZEL_WIDTH, h * 60 / BEZEL_HEIGHT, w * 363 / BEZEL_WIDTH, h * 300 / BEZEL_HEIGHT};
}

int button_at(int w, int h, int x, int y)
{
    const double W = w;
    const double H = h;
    const int y_from = int(H * double(ZONE_Y_FROM));
    const int y_to = int(H * double(ZONE_Y_TO));
    if (!(y_from < y && y < y_to))
        return 0;
    for (int n = 0; n < 5; ++n) {
        const int x_from = int(W * double(ZONES[n].x_from));
        if (x_from < x && double(x) < W * double(ZONES[n].x_to))
            return n + 1;
    }
    return 0;
}

PanelRect button_rect(int w, int h, int n)
{
    if (n < 1 || n > 5)
        return {};
    const double W = w;
    const double H = h;
    const zone& z = ZONES[n - 1];
    // button_at takes x_from < x < x_to and y_from < y < y_to.
    const int x_to = int(W * double(z.x_to));
    const double x_to_exact = W * double(z.x_to);
    return {int(W * double(z.x_from)) + 1, int(H * double(ZONE_Y_FROM)) + 1,
            double(x_to) < x_to_exact ? x_to + 1 : x_to, int(H * double(ZONE_Y_TO))};
}

std::string button_tooltip_text(int n)
{
    if (n < 1 || n > 5)
        return {};
    return "Button " + std::to_string(n) + " (F" + std::to_string(n) + ")";
}

std::optional<ScreenPoint> screen_pixel_at(const PanelRect& screen, int zoom, int x, int y)
{
    if (zoom < 1 || x < screen.left || x >= screen.right || y < screen.top || y >= screen.bottom)
        return std::nullopt;
    return ScreenPoint{(x - screen.left) / zoom, (y - screen.top) / zoom};
}

std::string tooltip_text(ScreenPoint p)
{
    char text[32];
    std::snprintf(text, sizeof text, "X:%d Y:%d", p.x, p.y);
    return text;
}

std::vector<uint32_t> grid_image(int zoom, int grid_width)
{
    const int wg = GFX_WIDTH * zoom;
    const int hg = GFX_HEIGHT * zoom;
    std::vector<uint32_t> image(size_t(wg) * size_t(hg), 0);
    const int cell = grid_width * zoom;
    if (cell <= 0)
        return image;
    // The rows are laid out bottom-up in memory (row r is image row hg-1-r):
    // dotted horizontal lines every cell, dotted vertical lines on even rows.
    for (int r = 0; r < hg - 1; ++r) {
        uint32_t* row = &image[size_t(hg - 1 - r) * size_t(wg)];
        if (r % cell == 0) {
            for (int c = 0; c < wg - 1; c += 2)
                row[c] = GRID_PIXEL;
        } else if (r % 2 == 0) {
            for (int c = 0; c < wg - 1; c += cell)
                row[c] = GRID_PIXEL;
        }
    }
    return image;
}

}  // namespace norvane
