#include "seam/can_socketcand_text.h"

#include <cstdio>

#include "seam/can_candump.h"

namespace {

constexpr size_t FIELDS_MAX = 12;  // "send", id, length and 8 bytes, and one to spare

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool read_identifier(std::string_view field, can_frame& frame, const char*& why)
{
    uint32_t id = 0;
    if (!can_hex_value(field, 8, id)) {
        why = "identifier must be 1 to 8 hex digits";
        return false;
    }
    if (id > 0x1FFFFFFF) {
        why = "identifier above 1FFFFFFF";
        return false;
    }
    frame.id = id;
    frame.ext = field.size() == 8 || id > 0x7FF ? 1 : 0;
    return true;
}

// "SECONDS.MICROSECONDS", 1 to 6 digits after the point.
bool read_time(std::string_view field, uint64_t& time_us)
{
    const size_t dot = field.find('.');
    uint64_t seconds = 0;
    uint64_t fraction = 0;
    if (dot == std::string_view::npos || !can_decimal_value(field.substr(0, dot), 12, seconds) ||
        !can_decimal_value(field.substr(dot + 1), 6, fraction))
        return false;
    for (size_t digits = field.size() - dot - 1; digits < 6; ++digits)
        fraction *= 10;
    time_us = seconds * 1000000u + fraction;
    return true;
}

bool parse_send(const std::string_view* field, size_t count, can_frame& frame, const char*& why)
{
    if (count < 3) {
        why = "send needs an identifier and a length";
        return false;
    }
    if (!read_identifier(field[1], frame, why))
        return false;
    uint32_t len = 0;
    if (!can_hex_value(field[2], 1, len) || len > 8) {
        why = "length must be 0 to 8";
        return false;
    }
    if (count - 3 != len) {
        why = "the number of data bytes differs from the length";
        return false;
    }
    for (size_t i = 0; i < len; ++i) {
        uint32_t byte = 0;
        if (!can_hex_value(field[3 + i], 2, byte)) {
            why = "a data byte must be 1 or 2 hex digits";
            return false;
        }
        frame.data[i] = uint8_t(byte);
    }
    frame.len = uint8_t(len);
    return true;
}

// The data is one hex field (socketcand) or one field per byte (its
// protocol description); every field holds whole bytes.
bool parse_frame(const std::string_view* field, size_t count, can_frame& frame, const char*& why)
{
    if (count < 3) {
        why = "frame needs an identifier and a time";
        return false;
    }
    if (!read_identifier(field[1], frame, why))
        return false;
    if (!read_time(field[2], frame.time_us)) {
        why = "time must be SECONDS.MICROSECONDS";
        return false;
    }
    size_t len = 0;
    for (size_t f = 3; f < count; ++f) {
        const std::string_view hex = field[f];
        if (hex.size() % 2 != 0) {
            why = "data must be whole bytes (an even number of hex digits)";
            return false;
        }
        if (len + hex.size() / 2 > 8) {
            why = "more than 8 data bytes";
            return false;
        }
        for (size_t i = 0; i < hex.size(); i += 2) {
            uint32_t byte = 0;
            if (!can_hex_value(hex.substr(i, 2), 2, byte)) {
                why = "data is not hex";
                return false;
            }
            frame.data[len++] = uint8_t(byte);
        }
    }
    frame.len = uint8_t(len);
    return true;
}

struct keyword {
    const char* word;
    can_sockcand_kind kind;
};
constexpr keyword ALONE[] = {
    {"hi", can_sockcand_kind::hi},           {"ok", can_sockcand_kind::ok},
    {"echo", can_sockcand_kind::echo},       {"rawmode", can_sockcand_kind::rawmode},
    {"bcmmode", can_sockcand_kind::bcmmode},
};

}  // namespace

can_sockcand_cut can_sockcand_cut_front(std::string_view input)
{
    if (input.empty())
        return {can_sockcand_cut_kind::need_more, 0, nullptr};
    if (is_blank(input[0])) {
        size_t n = 1;
        while (n < input.size() && is_blank(input[n]))
            ++n;
        return {can_sockcand_cut_kind::blank, n, nullptr};
    }
    if (input[0] != '<') {
        const size_t next = input.find('<');
        return {can_sockcand_cut_kind::garbage, next == std::string_view::npos ? input.size() : next,
                "text outside '<' and '>'"};
    }
    const size_t limit = input.size() < CAN_SOCKCAND_MESSAGE_MAX ? input.size() : CAN_SOCKCAND_MESSAGE_MAX;
    for (size_t i = 1; i < limit; ++i) {
        if (input[i] == '>')
            return {can_sockcand_cut_kind::message, i + 1, nullptr};
        if (input[i] == '<')
            return {can_sockcand_cut_kind::garbage, i, "a message without its '>'"};
    }
    if (limit == CAN_SOCKCAND_MESSAGE_MAX)
        return {can_sockcand_cut_kind::garbage, limit, "a message longer than 128 characters"};
    return {can_sockcand_cut_kind::need_more, 0, nullptr};
}

bool can_sockcand_parse(std::string_view text, can_sockcand_message& out, const char*& why)
{
    out = can_sockcand_message{};
    if (text.size() < 2 || text.front() != '<' || text.back() != '>') {
        why = "a message is '<', fields and '>'";
        return false;
    }
    const std::string_view inner = text.substr(1, text.size() - 2);
    std::string_view field[FIELDS_MAX];
    size_t count = 0;
    for (size_t i = 0; i < inner.size();) {
        if (is_blank(inner[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < inner.size() && !is_blank(inner[end]))
            ++end;
        if (count == FIELDS_MAX) {
            why = "too many fields";
            return false;
        }
        field[count++] = inner.substr(i, end - i);
        i = end;
    }
    if (count == 0) {
        why = "empty message";
        return false;
    }
    const std::string_view word = field[0];
    for (const keyword& k : ALONE)
        if (word == k.word) {
            if (count != 1) {
                why = "this command takes no fields";
                return false;
            }
            out.kind = k.kind;
            return true;
        }
    if (word == "open") {
        if (count != 2 || field[1].size() > CAN_SOCKCAND_BUS_NAME_MAX) {
            why = "open takes one bus name of 1 to 16 characters";
            return false;
        }
        out.kind = can_sockcand_kind::open;
        out.text = field[1];
        return true;
    }
    if (word == "send") {
        out.kind = can_sockcand_kind::send;
        return parse_send(field, count, out.frame, why);
    }
    if (word == "frame") {
        out.kind = can_sockcand_kind::frame;
        return parse_frame(field, count, out.frame, why);
    }
    if (word == "error") {
        out.kind = can_sockcand_kind::error;
        // The rest of the message as the peer wrote it.
        if (count > 1) {
            const size_t from = size_t(field[1].data() - inner.data());
            const size_t to = size_t(field[count - 1].data() + field[count - 1].size() - inner.data());
            out.text = inner.substr(from, to - from);
        }
        return true;
    }
    why = "unknown command";
    return false;
}

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

int format_identifier(const can_frame& frame, char* out, size_t size)
{
    return frame.ext ? std::snprintf(out, size, "%08X", unsigned(frame.id & 0x1FFFFFFF))
                     : std::snprintf(out, size, "%03X", unsigned(frame.id & 0x7FF));
}

// Appends `text` when it fits with the zero; the length so far either way.
size_t append(char* out, size_t size, size_t at, std::string_view text)
{
    if (at + text.size() + 1 > size)
        return at;
    for (char c : text)
        out[at++] = c;
    out[at] = 0;
    return at;
}

}  // namespace

size_t can_sockcand_format_frame(const can_frame& frame, uint64_t time_us, char* out, size_t size)
{
    if (!out || size < CAN_SOCKCAND_TEXT_MAX) {
        if (out && size)
            out[0] = 0;
        return 0;
    }
    char id[12];
    format_identifier(frame, id, sizeof id);
    int n = std::snprintf(out, size, "< frame %s %llu.%06llu ", id,
                          static_cast<unsigned long long>(time_us / 1000000u % 1000000000000u),
                          static_cast<unsigned long long>(time_us % 1000000u));
    size_t at = size_t(n);
    const uint8_t len = frame.len > 8 ? 8 : frame.len;
    for (uint8_t i = 0; i < len; ++i) {
        const char byte[2] = {HEX[frame.data[i] >> 4], HEX[frame.data[i] & 0x0F]};
        at = append(out, size, at, std::string_view(byte, 2));
    }
    return append(out, size, at, " >");
}

size_t can_sockcand_format_send(const can_frame& frame, char* out, size_t size)
{
    if (!out || size < CAN_SOCKCAND_TEXT_MAX) {
        if (out && size)
            out[0] = 0;
        return 0;
    }
    char id[12];
    format_identifier(frame, id, sizeof id);
    const uint8_t len = frame.len > 8 ? 8 : frame.len;
    size_t at = size_t(std::snprintf(out, size, "< send %s %u", id, unsigned(len)));
    for (uint8_t i = 0; i < len; ++i) {
        const char byte[3] = {' ', HEX[frame.data[i] >> 4], HEX[frame.data[i] & 0x0F]};
        at = append(out, size, at, std::string_view(byte, 3));
    }
    return append(out, size, at, " >");
}
