// The window's values as REG_BINARY values of their own sizes in the user's
// registry key Software\Norvane\Simulator. QSettings would store a byte array
// as an "@ByteArray(...)" string, so the registry calls are made here.
#include "host/qt/settings_store.h"

#include <windows.h>

namespace norvane {
namespace {

std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());  // the value names are ASCII
}

std::wstring key_path()
{
    return L"Software\\" + widen(SETTINGS_ORGANISATION) + L"\\" + widen(SETTINGS_APPLICATION);
}

}  // namespace

bool read_setting_bytes(const std::string& name, size_t size, std::vector<uint8_t>& bytes)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    std::vector<uint8_t> stored(size);
    DWORD length = DWORD(size);
    // A value longer than `size` answers ERROR_MORE_DATA and is not taken.
    const LONG status = RegQueryValueExW(key, widen(name).c_str(), nullptr, nullptr, stored.data(), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    stored.resize(length);
    bytes = std::move(stored);
    return true;
}

void write_setting_bytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_path().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, widen(name).c_str(), 0, REG_BINARY, bytes.data(), DWORD(bytes.size()));
    RegCloseKey(key);
}

}  // namespace norvane
