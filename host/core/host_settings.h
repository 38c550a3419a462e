// The window's own settings, kept per user between runs: six raw binary
// values with fixed names and sizes. No Qt here; the window stores the bytes
// through host/qt/settings_store.h (the registry on Windows).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/front_panel.h"

namespace norvane {

constexpr int32_t DEFAULT_WINDOW_POSITION = INT32_MIN;  // 0x80000000: let the window system place it

struct HostSettings {
    int32_t left = DEFAULT_WINDOW_POSITION;
    int32_t top = DEFAULT_WINDOW_POSITION;
    int32_t zoom = 1;
    int32_t grid_enabled = 0;
    int32_t grid_width = 10;
    uint8_t com_port = 0;
    int32_t com_connected = 0;
    bool operator==(const HostSettings&) const = default;
};

struct SettingValue {
    std::string name;
    std::vector<uint8_t> bytes;
};

// "MainWindowTopLeft" (8 bytes), "ZoomFactor", "GridEnabled", "GridWidth"
// (4 bytes each), "COMPort" (1 byte), "COMPortConnected" (4 bytes), little-
// endian, in this order.
std::vector<SettingValue> encode_host_settings(const HostSettings& s);

// Takes one stored value into `s`. A value of another size than its own, or
// an unknown name, leaves `s` as it was and returns false.
bool decode_host_setting(HostSettings& s, const std::string& name, const std::vector<uint8_t>& bytes);

bool valid_zoom(int32_t zoom);              // 1, 2 or 4
bool valid_grid_width(int32_t grid_width);  // 40, 20, 10 or 5

// Makes stored values safe to use: a zoom or grid width outside the menu's
// choices falls back to its default, the grid flag becomes 0 or 1, a port
// number above 10 becomes 0, and a window position whose title bar would lie
// off every screen (`screens`, in desktop pixels) becomes the default
// position. Returns the names of the values it replaced.
std::vector<std::string> sanitize_host_settings(HostSettings& s, const std::vector<PanelRect>& screens);

}  // namespace norvane
