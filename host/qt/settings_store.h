// Where the window keeps its own values between runs, per user: the raw
// bytes of each value under the organisation "Norvane", application
// "Simulator". On Windows they are REG_BINARY values of their own sizes in
// the registry key HKEY_CURRENT_USER\Software\Norvane\Simulator; elsewhere
// QSettings keeps them in its per-user file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvane {

constexpr const char* SETTINGS_ORGANISATION = "Norvane";
constexpr const char* SETTINGS_APPLICATION = "Simulator";

// The stored bytes of `name` into `bytes`, at most `size` of them; false
// when the value is absent, cannot be read or holds more than `size` bytes.
bool read_setting_bytes(const std::string& name, size_t size, std::vector<uint8_t>& bytes);

// Stores `bytes` as the value `name`; a value that cannot be written is
// skipped.
void write_setting_bytes(const std::string& name, const std::vector<uint8_t>& bytes);

}  // namespace norvane
