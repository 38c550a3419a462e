// The window's values in the registry: REG_BINARY of each value's own size
// under Software\Norvane\Simulator, read back as written; a value of another
// size or type is not taken. The current user's hive is redirected to a
// scratch key for each case, so the user's own settings are never touched.
#include "host/qt/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "host/core/host_settings.h"

namespace norvane {
namespace {

class SettingsStoreWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = L"Software\\Norvane\\SettingsStoreTest" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root_), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (root_) {
            RegCloseKey(root_);
            RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
        }
    }

    // The stored type and size of a value of the window's key; type 0 when absent.
    static std::pair<DWORD, DWORD> stored(const std::string& name)
    {
        DWORD type = 0, size = 0;
        RegGetValueW(HKEY_CURRENT_USER, L"Software\\Norvane\\Simulator", std::wstring(name.begin(), name.end()).c_str(),
                     RRF_RT_ANY, &type, nullptr, &size);
        return {type, size};
    }
    static void store_raw(const std::string& name, DWORD type, const std::string& bytes)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Norvane\\Simulator", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, std::wstring(name.begin(), name.end()).c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
        RegCloseKey(key);
    }

    std::wstring scratch_;
    HKEY root_ = nullptr;
};

TEST_F(SettingsStoreWindows, EachValueIsBinaryOfItsOwnSizeAndReadsBack)
{
    HostSettings written;
    written.left = -8;
    written.top = 120;
    written.zoom = 2;
    written.grid_enabled = 1;
    written.grid_width = 20;
    written.com_port = 3;
    written.com_connected = 1;
    for (const SettingValue& v : encode_host_settings(written))
        write_setting_bytes(v.name, v.bytes);

    const std::pair<const char*, DWORD> sizes[] = {{"MainWindowTopLeft", 8}, {"ZoomFactor", 4}, {"GridEnabled", 4},
                                                   {"GridWidth", 4},         {"COMPort", 1},    {"COMPortConnected", 4}};
    for (const auto& [name, size] : sizes)
        EXPECT_EQ(stored(name), std::make_pair(DWORD(REG_BINARY), size)) << name;

    HostSettings read;
    for (const SettingValue& v : encode_host_settings(read)) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(read_setting_bytes(v.name, v.bytes.size(), bytes)) << v.name;
        EXPECT_TRUE(decode_host_setting(read, v.name, bytes)) << v.name;
    }
    EXPECT_EQ(read, written);
}

TEST_F(SettingsStoreWindows, AbsentOrLongerValuesAreNotTaken)
{
    std::vector<uint8_t> bytes{9};
    EXPECT_FALSE(read_setting_bytes("ZoomFactor", 4, bytes));  // no key at all yet
    store_raw("GridWidth", REG_BINARY, std::string(8, '\x14'));
    EXPECT_FALSE(read_setting_bytes("GridWidth", 4, bytes));
    EXPECT_FALSE(read_setting_bytes("ZoomFactor", 4, bytes));  // the key, but not the value
    EXPECT_EQ(bytes, std::vector<uint8_t>{9});

    // A shorter value is read as it is; the settings' decoder refuses its size.
    store_raw("COMPortConnected", REG_DWORD, std::string("\x01\x00", 2));
    ASSERT_TRUE(read_setting_bytes("COMPortConnected", 4, bytes));
    EXPECT_EQ(bytes.size(), 2u);
    HostSettings s;
    EXPECT_FALSE(decode_host_setting(s, "COMPortConnected", bytes));
}

}  // namespace
}  // namespace norvane
