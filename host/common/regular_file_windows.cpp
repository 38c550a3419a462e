#include "host/common/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace norvane {

namespace {

// The C library's words for the common failures, as Linux gives them;
// Windows' own for the rest.
std::string system_text(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return std::strerror(ENOENT);
    case ERROR_ACCESS_DENIED:
        return std::strerror(EACCES);
    default:
        break;
    }
    char text[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

}  // namespace

bool read_regular_file(const std::string& path, uint64_t max_bytes, std::string& text, std::string& why)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(size > 0 ? size : 1), L'\0');
    if (size <= 0 || MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size) <= 0) {
        why = "not a valid file name";
        return false;
    }
    // A folder opens only with backup semantics, so it is told apart; a
    // device or a pipe opens without waiting and is refused by its type.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = system_text(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    const uint64_t bytes = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = "a folder";
        ok = false;
    } else if (!ok) {
        why = "not a regular file";
    } else if (bytes > max_bytes) {
        why = std::to_string(bytes) + " bytes, more than the " + std::to_string(max_bytes) + " allowed";
        ok = false;
    } else {
        text.resize(size_t(bytes));
        size_t have = 0;
        while (have < text.size()) {
            DWORD n = 0;
            const DWORD want = DWORD(std::min<size_t>(text.size() - have, 1u << 30));
            if (!ReadFile(handle, text.data() + have, want, &n, nullptr)) {
                why = system_text(GetLastError());
                ok = false;
                break;
            }
            if (n == 0)
                break;  // the file shrank while read: what was there is what it holds
            have += n;
        }
        text.resize(have);
    }
    CloseHandle(handle);
    return ok;
}

int create_for_writing(const std::string& path)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(size > 0 ? size : 1), L'\0');
    if (size <= 0 || MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size) <= 0) {
        errno = ENOENT;
        return -1;
    }
    return ::_wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

}  // namespace norvane
