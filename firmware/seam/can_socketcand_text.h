// socketcand's text protocol in raw mode, both directions: cutting a byte
// stream into "< ... >" messages, reading one message, and writing the
// messages a client or a server sends. No heap: the reasons are fixed texts
// and the formatters write into the caller's buffer.
//
// As socketcand writes them: "< hi >", "< ok >", "< open can0 >",
// "< rawmode >", "< send 18FF0380 3 D 1 1 >" (bytes as hex, one field each),
// "< frame 18FF0380 1700000000.123456 0D0101 >" (data as one hex field), the
// identifier with 3 hex digits for a standard frame and 8 for an extended one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "seam/can.h"

// Longest message taken from a peer, "<" to ">" (a full send or frame is
// about 50 characters).
constexpr size_t CAN_SOCKCAND_MESSAGE_MAX = 128;
// Room for any message the formatters write, with its zero.
constexpr size_t CAN_SOCKCAND_TEXT_MAX = 64;
// Longest bus name an "open" carries.
constexpr size_t CAN_SOCKCAND_BUS_NAME_MAX = 16;

// What the front of a received byte stream holds.
enum class can_sockcand_cut_kind : uint8_t {
    message,    // a whole "< ... >" message of `length` bytes
    blank,      // `length` blanks or line ends between messages
    garbage,    // `length` bytes that are no message; `why` says what they are
    need_more,  // the start of a message whose end has not arrived
};
struct can_sockcand_cut {
    can_sockcand_cut_kind kind;
    size_t length;
    const char* why;
};

// Looks at the front of `input` only. A message starts at '<' and ends at the
// next '>'; a '<' before that '>' ends a half message as garbage, and so does
// a message that grows past CAN_SOCKCAND_MESSAGE_MAX without its '>'.
can_sockcand_cut can_sockcand_cut_front(std::string_view input);

enum class can_sockcand_kind : uint8_t {
    hi,
    ok,
    echo,
    open,     // text: the bus name
    rawmode,
    bcmmode,
    send,     // frame
    frame,    // frame, with time_us
    error,    // text: what the peer says went wrong (may be empty)
};
struct can_sockcand_message {
    can_sockcand_kind kind;
    can_frame frame;
    std::string_view text;  // points into the parsed message
};

// Reads one message as can_sockcand_cut_front delimits it ("< send 80 1 1 >").
// Fields are separated by one or more blanks. An identifier is extended when
// written with 8 hex digits or when its value does not fit 11 bits (a client
// that writes identifiers without padding, such as python-can 4.1, sends
// 0x0CFF0480 as "CFF0480"). Returns false with a reason for anything else;
// never reads past `text`.
bool can_sockcand_parse(std::string_view text, can_sockcand_message& out, const char*& why);

// "< frame ID SECONDS.MICROSECONDS DATA >" with the data as one upper-case hex
// field; two blanks before '>' when there is no data, as socketcand writes it.
// Returns the length written (without the zero), at most CAN_SOCKCAND_TEXT_MAX - 1.
size_t can_sockcand_format_frame(const can_frame& frame, uint64_t time_us, char* out, size_t size);
// "< send ID LEN B0 B1 ... >" with two hex digits per byte.
size_t can_sockcand_format_send(const can_frame& frame, char* out, size_t size);
