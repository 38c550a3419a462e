#include "host/common/scenario_words.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace norvane {

bool is_word_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim_blanks(std::string_view s)
{
    while (!s.empty() && is_word_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_word_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view take_word(std::string_view& rest)
{
    rest = trim_blanks(rest);
    size_t end = 0;
    while (end < rest.size() && !is_word_blank(rest[end]))
        ++end;
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    rest = trim_blanks(rest);
    return word;
}

bool parse_ms(std::string_view text, uint64_t& out)
{
    if (text.empty() || text.size() > 18)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + uint64_t(c - '0');
    }
    out = v;
    return true;
}

bool parse_small(std::string_view text, int low, int high, int& out)
{
    uint64_t v = 0;
    if (!parse_ms(text, v) || v < uint64_t(low) || v > uint64_t(high))
        return false;
    out = int(v);
    return true;
}

bool parse_decimal(std::string_view text, double high, double& out)
{
    if (text.empty() || text.size() > 12 || text.front() == '.' || text.back() == '.' ||
        std::count(text.begin(), text.end(), '.') > 1)
        return false;
    for (char c : text)
        if (c != '.' && (c < '0' || c > '9'))
            return false;
    const double v = std::strtod(std::string(text).c_str(), nullptr);
    if (v > high)
        return false;
    out = v;
    return true;
}

std::string format_decimal(double v)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

std::string quote_word(std::string_view word)
{
    return "'" + std::string(word) + "'";
}

}  // namespace norvane
