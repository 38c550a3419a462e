// The serial link on a Windows COM port (\\.\COMn): overlapped reads and
// writes on one I/O thread, which waits on them and on a wake event at once.
#include "host/core/serial_link.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <windows.h>

#include "seam/uart.h"

namespace norvane {
namespace {

std::string system_text(DWORD code)
{
    char text[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

std::wstring widen(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 1), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    return wide;
}

// Raw transfer at the firmware's settings: no flow control, no character
// translation, DTR and RTS on.
bool apply_line_settings(HANDLE port, const hal_uart_config& config)
{
    if (config.baud_index >= std::size(SerialLink::BAUD_RATES))
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = SerialLink::BAUD_RATES[config.baud_index];
    dcb.fBinary = TRUE;
    dcb.fParity = config.parity == 1 || config.parity == 2;
    dcb.Parity = config.parity == 1 ? ODDPARITY : config.parity == 2 ? EVENPARITY : NOPARITY;
    dcb.ByteSize = config.data_bits_flag ? 8 : 7;
    dcb.StopBits = config.stop_bits_flag == 1 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(port, &dcb) != 0;
}

}  // namespace

std::string SerialLink::default_device_path(int n)
{
    return "\\\\.\\COM" + std::to_string(n);
}

std::vector<std::string> list_serial_devices(const std::string&)
{
    // The ports the system knows, from the registry's SERIALCOMM map.
    std::vector<std::pair<long, std::string>> found;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD name_length = 256;
            wchar_t value[64];
            DWORD value_bytes = sizeof value - sizeof(wchar_t);
            DWORD type = 0;
            if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(value),
                              &value_bytes) != ERROR_SUCCESS)
                break;
            if (type != REG_SZ)
                continue;
            value[value_bytes / sizeof(wchar_t)] = L'\0';
            if (wcsncmp(value, L"COM", 3) != 0)
                continue;
            const long number = wcstol(value + 3, nullptr, 10);
            if (number > 0)
                found.emplace_back(number, "\\\\.\\COM" + std::to_string(number));
        }
        RegCloseKey(key);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& f : found)
        paths.push_back(f.second);
    return paths;
}

int SerialLink::open()
{
    hal_uart_config config{};
    if (const int refused = begin_open(config); refused != OPEN_OK)
        return refused;
    const std::string path = device_path(port_number());
    // Not shared: no other program opens the port while we hold it.
    HANDLE port = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        open_error_ = path + ": " + system_text(GetLastError());
        return OPEN_DEVICE_FAILED;
    }
    if (!apply_line_settings(port, config)) {
        open_error_ = path + ": the line settings were refused (" + system_text(GetLastError()) + ")";
        CloseHandle(port);
        return OPEN_LINE_SETTINGS_REFUSED;
    }
    // A read returns as soon as a byte is there, and waits for one otherwise.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = MAXDWORD - 1;
    if (!SetCommTimeouts(port, &timeouts)) {
        open_error_ = path + ": the time-outs were refused (" + system_text(GetLastError()) + ")";
        CloseHandle(port);
        return OPEN_TIMEOUTS_REFUSED;
    }
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!wake) {
        open_error_ = "no event for the I/O thread: " + system_text(GetLastError());
        CloseHandle(port);
        return OPEN_NO_EVENTS;
    }
    wake_ = reinterpret_cast<intptr_t>(wake);
    {
        std::lock_guard<std::mutex> lock(pending_lock_);
        pending_.clear();
    }
    open_device_ = path;
    stop_.store(false, std::memory_order_relaxed);
    open_.store(true, std::memory_order_release);
    io_ = std::thread([this, port, entry = config.rx_entry] { io_thread(reinterpret_cast<intptr_t>(port), entry); });
    return OPEN_OK;
}

void SerialLink::wake()
{
    if (wake_ != -1)
        SetEvent(reinterpret_cast<HANDLE>(wake_));
}

void SerialLink::close()
{
    if (io_.joinable()) {
        stop_.store(true, std::memory_order_release);
        wake();
        io_.join();
    }
    if (wake_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(wake_));
        wake_ = -1;
    }
}

void SerialLink::io_thread(intptr_t device, void (*rx_entry)(const uint8_t*, uint32_t))
{
    const HANDLE port = reinterpret_cast<HANDLE>(device);
    uint8_t read_buffer[CHUNK];
    uint8_t write_buffer[CHUNK];
    size_t write_length = 0;  // bytes of the write in progress
    OVERLAPPED reading{};
    OVERLAPPED writing{};
    reading.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writing.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool read_pending = false;
    bool write_pending = false;
    bool failed = !reading.hEvent || !writing.hEvent;
    while (!failed && !stop_.load(std::memory_order_acquire)) {
        if (!read_pending) {
            const DWORD want = DWORD(read_size_.load(std::memory_order_relaxed));
            ResetEvent(reading.hEvent);
            DWORD got = 0;
            if (ReadFile(port, read_buffer, want, &got, &reading)) {
                if (got > 0 && rx_entry)
                    rx_entry(read_buffer, uint32_t(got));
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                failed = true;  // the device went away
                continue;
            }
            read_pending = true;
        }
        if (!write_pending) {
            // Next write: up to 256 bytes from the front of what is waiting.
            {
                std::lock_guard<std::mutex> lock(pending_lock_);
                write_length = std::min(pending_.size(), CHUNK);
                std::copy_n(pending_.begin(), write_length, write_buffer);
                pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(write_length));
            }
            if (write_length > 0) {
                ResetEvent(writing.hEvent);
                if (!WriteFile(port, write_buffer, DWORD(write_length), nullptr, &writing) &&
                    GetLastError() != ERROR_IO_PENDING) {
                    failed = true;
                    continue;
                }
                write_pending = true;
            }
        }
        HANDLE waits[3] = {reading.hEvent, reinterpret_cast<HANDLE>(wake_), writing.hEvent};
        const DWORD woke = WaitForMultipleObjects(write_pending ? 3 : 2, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            DWORD got = 0;
            read_pending = false;
            if (!GetOverlappedResult(port, &reading, &got, FALSE))
                failed = true;
            else if (got > 0 && rx_entry)
                rx_entry(read_buffer, uint32_t(got));
        } else if (woke == WAIT_OBJECT_0 + 2) {
            DWORD put = 0;
            write_pending = false;
            if (!GetOverlappedResult(port, &writing, &put, FALSE))
                failed = true;
            else if (put < write_length) {
                // The rest goes first in the next write.
                std::lock_guard<std::mutex> lock(pending_lock_);
                pending_.insert(pending_.begin(), write_buffer + put, write_buffer + write_length);
            }
        } else if (woke == WAIT_FAILED) {
            failed = true;
        }
    }
    CancelIo(port);
    DWORD ignored = 0;
    if (read_pending)
        GetOverlappedResult(port, &reading, &ignored, TRUE);
    if (write_pending)
        GetOverlappedResult(port, &writing, &ignored, TRUE);
    if (reading.hEvent)
        CloseHandle(reading.hEvent);
    if (writing.hEvent)
        CloseHandle(writing.hEvent);
    CloseHandle(port);
    open_.store(false, std::memory_order_release);
}

}  // namespace norvane
