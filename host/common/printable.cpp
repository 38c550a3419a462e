#include "host/common/printable.h"

#include <cstdio>

namespace norvane {

namespace {

// The length of the well-formed UTF-8 sequence at the front of `text`
// (2 to 4 bytes), 0 when there is none.
size_t utf8_length(std::string_view text)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
            ++i;
            continue;
        }
        const size_t length = c >= 0x80 ? utf8_length(text.substr(i)) : 0;
        if (length > 0) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
        out += hex;
        ++i;
    }
    return out;
}

}  // namespace norvane
