#include "host/core/host_settings.h"

#include <algorithm>

namespace norvane {
namespace {

void put_i32(std::vector<uint8_t>& out, int32_t v)
{
    const uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(u >> (8 * i)));
}

int32_t get_i32(const std::vector<uint8_t>& in, size_t at)
{
    uint32_t u = 0;
    for (size_t i = 0; i < 4; ++i)
        u |= uint32_t(in[at + i]) << (8 * i);
    return int32_t(u);
}

std::vector<uint8_t> i32_bytes(int32_t v)
{
    std::vector<uint8_t> out;
    put_i32(out, v);
    return out;
}

}  // namespace

std::vector<SettingValue> encode_host_settings(const HostSettings& s)
{
    std::vector<uint8_t> position;
    put_i32(position, s.left);
    put_i32(position, s.top);
    return {
        {"MainWindowTopLeft", position},
        {"ZoomFactor", i32_bytes(s.zoom)},
        {"GridEnabled", i32_bytes(s.grid_enabled)},
        {"GridWidth", i32_bytes(s.grid_width)},
        {"COMPort", {s.com_port}},
        {"COMPortConnected", i32_bytes(s.com_connected)},
    };
}

bool decode_host_setting(HostSettings& s, const std::string& name, const std::vector<uint8_t>& bytes)
{
    if (name == "MainWindowTopLeft" && bytes.size() == 8) {
        s.left = get_i32(bytes, 0);
        s.top = get_i32(bytes, 4);
    } else if (name == "COMPort" && bytes.size() == 1) {
        s.com_port = bytes[0];
    } else if (bytes.size() != 4) {
        return false;
    } else if (name == "ZoomFactor") {
        s.zoom = get_i32(bytes, 0);
    } else if (name == "GridEnabled") {
        s.grid_enabled = get_i32(bytes, 0);
    } else if (name == "GridWidth") {
        s.grid_width = get_i32(bytes, 0);
    } else if (name == "COMPortConnected") {
        s.com_connected = get_i32(bytes, 0);
    } else {
        return false;
    }
    return true;
}

bool valid_zoom(int32_t zoom)
{
    return zoom == 1 || zoom == 2 || zoom == 4;
}

bool valid_grid_width(int32_t grid_width)
{
    return grid_width == 40 || grid_width == 20 || grid_width == 10 || grid_width == 5;
}

std::vector<std::string> sanitize_host_settings(HostSettings& s, const std::vector<PanelRect>& screens)
{
    const HostSettings defaults;
    std::vector<std::string> replaced;
    if (!valid_zoom(s.zoom)) {
        s.zoom = defaults.zoom;
        replaced.push_back("ZoomFactor");
    }
    if (s.grid_enabled != 0 && s.grid_enabled != 1) {
        s.grid_enabled = 1;
        replaced.push_back("GridEnabled");
    }
    if (!valid_grid_width(s.grid_width)) {
        s.grid_width = defaults.grid_width;
        replaced.push_back("GridWidth");
    }
    if (s.com_port > 10) {
        s.com_port = defaults.com_port;
        replaced.push_back("COMPort");
    }
    if (s.left != DEFAULT_WINDOW_POSITION && s.top != DEFAULT_WINDOW_POSITION) {
        // Enough of the title bar to grab: 100 x 30 pixels from the top-left.
        const int64_t left = s.left, top = s.top;
        const bool reachable = std::any_of(screens.begin(), screens.end(), [&](const PanelRect& r) {
            return left < r.right && r.left < left + 100 && top < r.bottom && r.top < top + 30;
        });
        if (!reachable) {
            s.left = s.top = DEFAULT_WINDOW_POSITION;
            replaced.push_back("MainWindowTopLeft");
        }
    }
    return replaced;
}

}  // namespace norvane
