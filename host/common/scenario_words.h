// The words of a scenario line: blanks, words, whole numbers, decimals. The
// scenario's actions (the installation's verbs among them) and its
// expectations read their lines with these.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

// A blank between words: space, tab, or the '\r' of a CRLF line end.
bool is_word_blank(char c);

// `s` without the blanks at either end.
std::string_view trim_blanks(std::string_view s);

// Takes the next blank-separated word off the front of `rest` and the blanks
// after it.
std::string_view take_word(std::string_view& rest);

// Reads a whole number of milliseconds (decimal digits only).
bool parse_ms(std::string_view text, uint64_t& out);

// A whole number from `low` to `high`.
bool parse_small(std::string_view text, int low, int high, int& out);

// A decimal number "12", "12.5" (no sign, no exponent) of at most `high`.
bool parse_decimal(std::string_view text, double high, double& out);

// The shortest decimal that parse_decimal reads back as `v`.
std::string format_decimal(double v);

// A word as messages quote it: 'word'.
std::string quote_word(std::string_view word);

}  // namespace norvane
