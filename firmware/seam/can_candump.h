// candump syntax, as can-utils writes it: "ID#DATA" with 3 hex digits for a
// standard identifier and 8 for an extended one, and log lines
// "(SSSSSSSSSS.UUUUUU) iface ID#DATA".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "seam/can.h"

// The value of one hex digit, either case; -1 for any other character.
int can_hex_digit(char c);
// The value of 1 to `max_digits` (at most 8) hex digits; false for anything else.
bool can_hex_value(std::string_view digits, size_t max_digits, uint32_t& out);
// The value of 1 to `max_digits` (at most 19) decimal digits; false for anything else.
bool can_decimal_value(std::string_view digits, size_t max_digits, uint64_t& out);

// Parses "18FF0380#0D01010000000000". Returns false with a reason for
// anything else; never reads past `text`. Remote frames ("123#R") are taken
// with rtr set and no data.
bool can_parse_candump(std::string_view text, can_frame& out, std::string& why);

// Parses a log line "(1700000000.123456) can0 18FF0380#0D01". The time goes
// to out.time_us; the interface name to `iface`.
bool can_parse_candump_line(std::string_view line, can_frame& out, std::string& iface, std::string& why);

// True for a CAN FD frame ("123##1AABB") or a log line that holds one. The
// unit's bus is classic CAN: trace playback and the trace tool both leave such
// lines out and count them.
bool can_candump_is_fd(std::string_view text);

// Formats "ID#DATA" (upper-case hex).
std::string can_format_candump(const can_frame& frame);
// Formats a log line with the time in microseconds and the interface name.
std::string can_format_candump_line(uint64_t time_us, std::string_view iface, const can_frame& frame);
// The same two, appended to `out`: a writer of many lines keeps one buffer.
void can_append_candump(std::string& out, const can_frame& frame);
void can_append_candump_line(std::string& out, uint64_t time_us, std::string_view iface, const can_frame& frame);
