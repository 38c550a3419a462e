#include "seam/can_candump.h"

#include <cstdint>

int can_hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool can_hex_value(std::string_view digits, size_t max_digits, uint32_t& out)
{
    if (digits.empty() || digits.size() > max_digits || max_digits > 8)
        return false;
    out = 0;
    for (char c : digits) {
        const int v = can_hex_digit(c);
        if (v < 0)
            return false;
        out = out << 4 | uint32_t(v);
    }
    return true;
}

bool can_decimal_value(std::string_view digits, size_t max_digits, uint64_t& out)
{
    if (digits.empty() || digits.size() > max_digits || max_digits > 19)
        return false;
    out = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + uint64_t(c - '0');
    }
    return true;
}

bool can_parse_candump(std::string_view text, can_frame& out, std::string& why)
{
    out = can_frame{};
    const size_t hash = text.find('#');
    if (hash == std::string_view::npos) {
        why = "expected ID#DATA, no '#' found";
        return false;
    }
    const std::string_view id = text.substr(0, hash);
    std::string_view data = text.substr(hash + 1);
    if (!data.empty() && data[0] == '#') {
        why = "CAN FD frame (ID##FLAGS DATA); the bus is classic CAN";
        return false;
    }
    uint32_t value = 0;
    if ((id.size() != 3 && id.size() != 8) || !can_hex_value(id, 8, value)) {
        why = "identifier must be 3 hex digits (standard) or 8 (extended)";
        return false;
    }
    if (id.size() == 3 && value > 0x7FF) {
        why = "standard identifier above 7FF";
        return false;
    }
    if (id.size() == 8 && value > 0x1FFFFFFF) {
        why = "extended identifier above 1FFFFFFF";
        return false;
    }
    out.id = value;
    out.ext = id.size() == 8 ? 1 : 0;
    if (!data.empty() && (data[0] == 'R' || data[0] == 'r')) {
        out.rtr = 1;
        data.remove_prefix(1);
        if (data.size() == 1 && data[0] >= '0' && data[0] <= '8') {
            out.len = uint8_t(data[0] - '0');
            return true;
        }
        if (!data.empty()) {
            why = "remote frame takes at most a length digit after 'R'";
            return false;
        }
        return true;
    }
    if (data.size() % 2 != 0) {
        why = "data must be whole bytes (an even number of hex digits)";
        return false;
    }
    if (data.size() > 16) {
        why = "more than 8 data bytes";
        return false;
    }
    for (size_t i = 0; i < data.size(); i += 2) {
        uint32_t byte = 0;
        if (!can_hex_value(data.substr(i, 2), 2, byte)) {
            why = "data is not hex";
            return false;
        }
        out.data[i / 2] = uint8_t(byte);
    }
    out.len = uint8_t(data.size() / 2);
    return true;
}

bool can_parse_candump_line(std::string_view line, can_frame& out, std::string& iface, std::string& why)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    if (line.size() < 2 || line[0] != '(') {
        why = "expected '(' and a time in seconds";
        return false;
    }
    const size_t close = line.find(')');
    if (close == std::string_view::npos) {
        why = "no ')' after the time";
        return false;
    }
    const std::string_view time = line.substr(1, close - 1);
    const size_t dot = time.find('.');
    uint64_t seconds = 0;
    uint64_t micros = 0;
    if (dot == std::string_view::npos || !can_decimal_value(time.substr(0, dot), 19, seconds) ||
        time.size() - dot - 1 != 6 || !can_decimal_value(time.substr(dot + 1), 19, micros)) {
        why = "time must be SECONDS.MICROSECONDS with six digits after the point";
        return false;
    }
    // Times are kept as 64-bit microseconds: a later time would wrap.
    if (seconds > (UINT64_MAX - micros) / 1000000u) {
        why = "time above 18446744073709.551615 seconds (64-bit microseconds)";
        return false;
    }
    std::string_view rest = line.substr(close + 1);
    if (rest.empty() || rest[0] != ' ') {
        why = "expected a blank and an interface name after the time";
        return false;
    }
    rest.remove_prefix(1);
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || blank == 0) {
        why = "expected an interface name and a frame";
        return false;
    }
    iface.assign(rest.substr(0, blank));
    std::string_view frame = rest.substr(blank + 1);
    // candump -L may add a flags field after the frame (" T" / " R"); ignore it.
    const size_t extra = frame.find(' ');
    if (extra != std::string_view::npos)
        frame = frame.substr(0, extra);
    if (!can_parse_candump(frame, out, why))
        return false;
    out.time_us = seconds * 1000000u + micros;
    return true;
}

bool can_candump_is_fd(std::string_view text)
{
    const size_t hash = text.find("##");
    if (hash == std::string_view::npos)
        return false;
    // The identifier before "##" is the last word before it.
    const size_t blank = text.rfind(' ', hash);
    const std::string_view id = text.substr(blank == std::string_view::npos ? 0 : blank + 1,
                                            hash - (blank == std::string_view::npos ? 0 : blank + 1));
    uint32_t value = 0;
    return (id.size() == 3 || id.size() == 8) && can_hex_value(id, 8, value);
}

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

// Writes `value` in decimal with at least `width` digits (zeros in front)
// at `at`; returns the end. At most 20 digits.
char* put_decimal(char* at, uint64_t value, int width)
{
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; n < width; --width)
        *at++ = '0';
    while (n > 0)
        *at++ = digits[--n];
    return at;
}

// "ID#DATA" at `at` (at most 26 characters); returns the end.
char* put_frame(char* at, const can_frame& frame)
{
    const uint32_t id = frame.ext ? frame.id & 0x1FFFFFFF : frame.id & 0x7FF;
    for (int shift = frame.ext ? 28 : 8; shift >= 0; shift -= 4)
        *at++ = HEX[(id >> shift) & 0x0F];
    *at++ = '#';
    if (frame.rtr) {
        *at++ = 'R';
        return at;
    }
    const uint8_t len = frame.len > 8 ? 8 : frame.len;
    for (uint8_t i = 0; i < len; ++i) {
        *at++ = HEX[frame.data[i] >> 4];
        *at++ = HEX[frame.data[i] & 0x0F];
    }
    return at;
}

}  // namespace

// By hand rather than through printf: a CAN log formats every frame on the
// bus, thousands a second of unit time.
void can_append_candump(std::string& out, const can_frame& frame)
{
    char text[32];
    out.append(text, size_t(put_frame(text, frame) - text));
}

void can_append_candump_line(std::string& out, uint64_t time_us, std::string_view iface, const can_frame& frame)
{
    char time[40];
    char* end = time;
    *end++ = '(';
    end = put_decimal(end, time_us / 1000000u, 10);
    *end++ = '.';
    end = put_decimal(end, time_us % 1000000u, 6);
    *end++ = ')';
    *end++ = ' ';
    out.append(time, size_t(end - time));
    out.append(iface);
    out += ' ';
    can_append_candump(out, frame);
}

std::string can_format_candump(const can_frame& frame)
{
    std::string out;
    can_append_candump(out, frame);
    return out;
}

std::string can_format_candump_line(uint64_t time_us, std::string_view iface, const can_frame& frame)
{
    std::string out;
    out.reserve(48 + iface.size());
    can_append_candump_line(out, time_us, iface, frame);
    return out;
}
