// socketcand back end: a port on a socketcand server's bus over TCP
// ("socketcand:HOST:PORT:CHANNEL"): a remote gateway, or another simulator's
// bus server. The main loop's receive and send calls drive the connection
// without ever waiting: connect, "< hi >", "< open CHANNEL >", "< ok >",
// "< rawmode >", "< ok >", then frames both ways. When the server goes away
// the port tries again every second, by the host's steady clock (a network
// peer keeps wall time, whatever clock the unit runs on). Each change of state is one line on the
// debug output; a failure that repeats is said once.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "can/can_backend.h"
#include "os/os_tcp.h"
#include "os/os_time.h"
#include "seam/can_socketcand_text.h"
#include "platform/hal.h"

namespace {

constexpr uint64_t RETRY_MS = 1000;
constexpr uint64_t HANDSHAKE_MS = 3000;  // a server that does not answer is left
constexpr size_t IN_BYTES = 1024;
constexpr size_t OUT_BYTES = 4096;  // about 100 frames waiting for the socket

enum class link_state : uint8_t { closed, waiting, connecting, greeting, opening, raw_asked, raw };

struct sockcand_port {
    link_state state = link_state::closed;
    int fd = -1;
    os_tcp_address address{};
    char where[CAN_DEVICE_MAX] = {};  // "HOST:PORT"
    char channel[CAN_SOCKCAND_BUS_NAME_MAX + 1] = {};
    uint64_t due_ms = 0;  // next attempt (waiting) or end of the handshake
    char in[IN_BYTES] = {};
    size_t in_used = 0;
    char out[OUT_BYTES] = {};
    size_t out_used = 0;
    uint32_t bad = 0;  // bad messages on this connection
    char last_failure[96] = {};
};

sockcand_port links[CAN_PORT_COUNT];

// Splits "HOST:PORT:CHANNEL" from the right, so an IPv6 host keeps its
// colons ("[::1]:29536:can0" or "::1:29536:can0").
bool split_device(std::string_view device, std::string_view& host, std::string_view& port,
                  std::string_view& channel)
{
    const size_t last = device.rfind(':');
    if (last == std::string_view::npos || last == 0)
        return false;
    const size_t middle = device.rfind(':', last - 1);
    if (middle == std::string_view::npos)
        return false;
    host = device.substr(0, middle);
    port = device.substr(middle + 1, last - middle - 1);
    channel = device.substr(last + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return true;
}

const char* check_device(std::string_view device)
{
    std::string_view host, port, channel;
    if (!split_device(device, host, port, channel) || host.empty())
        return "expected HOST:PORT:CHANNEL, for example 127.0.0.1:29536:can0";
    uint32_t value = 0;
    bool digits = !port.empty() && port.size() <= 5;
    for (char c : port) {
        digits = digits && c >= '0' && c <= '9';
        value = value * 10 + uint32_t(c - '0');
    }
    if (!digits || value == 0 || value > 65535)
        return "the socketcand port must be a number from 1 to 65535";
    if (channel.empty() || channel.size() > CAN_SOCKCAND_BUS_NAME_MAX ||
        channel.find_first_of(" <>\t") != std::string_view::npos)
        return "the socketcand channel must be 1 to 16 characters without blanks or '<' '>'";
    return nullptr;
}

void say(uint8_t port, const char* what)
{
    const sockcand_port& l = links[port];
    hal_debug_printf("SOCKETCAND: CAN port %d: %s (%s, bus %s)\n", port, what, l.where, l.channel);
}

// Closes the connection and waits before the next attempt. The reason is
// said when it differs from the last one, so a server that stays away is
// one line, not one a second.
void lose(uint8_t port, const char* reason)
{
    sockcand_port& l = links[port];
    os_tcp_close(l.fd);
    l.fd = -1;
    l.in_used = l.out_used = 0;
    l.state = link_state::waiting;
    l.due_ms = os_monotonic_ms() + RETRY_MS;
    if (std::strcmp(reason, l.last_failure) != 0) {
        std::snprintf(l.last_failure, sizeof l.last_failure, "%s", reason);
        char line[192];
        if (l.bad)
            std::snprintf(line, sizeof line, "%s; %u bad messages were refused; trying again every second", reason,
                          unsigned(l.bad));
        else
            std::snprintf(line, sizeof line, "%s; trying again every second", reason);
        say(port, line);
    }
    l.bad = 0;
}

void lose_errno(uint8_t port, const char* what)
{
    char reason[96];
    std::snprintf(reason, sizeof reason, "%s: %s", what, errno ? std::strerror(errno) : "closed by the server");
    lose(port, reason);
}

// Appends a message for the server and writes what the socket takes.
bool put(uint8_t port, const char* text, size_t length)
{
    sockcand_port& l = links[port];
    if (l.out_used + length > OUT_BYTES)
        return false;
    std::memcpy(l.out + l.out_used, text, length);
    l.out_used += length;
    const long n = os_tcp_write(l.fd, l.out, l.out_used);
    if (n < 0) {
        lose_errno(port, "connection lost");
        return true;  // the frame went the way of the connection
    }
    std::memmove(l.out, l.out + n, l.out_used - size_t(n));
    l.out_used -= size_t(n);
    return true;
}

void put_text(uint8_t port, std::string_view text)
{
    put(port, text.data(), text.size());
}

void start_connect(uint8_t port)
{
    sockcand_port& l = links[port];
    l.fd = os_tcp_connect(l.address);
    if (l.fd < 0) {
        lose_errno(port, "cannot connect");
        return;
    }
    l.state = link_state::connecting;
    l.due_ms = os_monotonic_ms() + HANDSHAKE_MS;
}

// One message of the handshake, or a frame, or something the port refuses.
// True with `frame` filled when a frame arrived.
bool take_message(uint8_t port, std::string_view text, can_frame* frame)
{
    sockcand_port& l = links[port];
    can_sockcand_message m{};
    const char* why = "";
    if (!can_sockcand_parse(text, m, why)) {
        ++l.bad;
        return false;
    }
    switch (l.state) {
    case link_state::greeting:
        if (m.kind == can_sockcand_kind::hi) {
            char open[CAN_SOCKCAND_TEXT_MAX];
            const int n = std::snprintf(open, sizeof open, "< open %s >", l.channel);
            put(port, open, size_t(n));
            l.state = link_state::opening;
            return false;
        }
        break;
    case link_state::opening:
    case link_state::raw_asked:
        if (m.kind == can_sockcand_kind::ok) {
            if (l.state == link_state::opening) {
                put_text(port, "< rawmode >");
                l.state = link_state::raw_asked;
            } else {
                l.state = link_state::raw;
                l.last_failure[0] = 0;
                say(port, "connected, raw mode");
            }
            return false;
        }
        if (m.kind == can_sockcand_kind::error) {
            lose(port, l.state == link_state::opening ? "the server refused the bus" : "the server refused raw mode");
            return false;
        }
        break;
    case link_state::raw:
        if (m.kind == can_sockcand_kind::frame) {
            *frame = m.frame;
            frame->time_us = hal_us_clock();
            return true;
        }
        if (m.kind == can_sockcand_kind::echo || m.kind == can_sockcand_kind::ok)
            return false;
        break;
    default:
        break;
    }
    ++l.bad;  // an error report or a message out of turn
    return false;
}

// Moves the connection on as far as it goes without waiting.
void advance(uint8_t port)
{
    sockcand_port& l = links[port];
    const uint64_t now = os_monotonic_ms();
    if (l.state == link_state::waiting && now >= l.due_ms)
        start_connect(port);
    if (l.state == link_state::connecting) {
        const int result = os_tcp_connect_result(l.fd);
        if (result < 0)
            lose_errno(port, "cannot connect");
        else if (result > 0)
            l.state = link_state::greeting;
    }
    if (l.state != link_state::raw && l.state != link_state::waiting && l.state != link_state::closed &&
        now >= l.due_ms)
        lose(port, "the server did not complete the handshake");
}

// Reads what the socket has while the input has room.
void fill(uint8_t port)
{
    sockcand_port& l = links[port];
    if (l.fd < 0 || l.state == link_state::connecting || l.in_used == IN_BYTES)
        return;
    const long n = os_tcp_read(l.fd, l.in + l.in_used, IN_BYTES - l.in_used);
    if (n < 0)
        lose_errno(port, "connection lost");
    else
        l.in_used += size_t(n);
}

// The next frame in the input, handling every other message before it.
bool next_frame(uint8_t port, can_frame* frame)
{
    sockcand_port& l = links[port];
    size_t at = 0;
    bool found = false;
    while (!found && l.fd >= 0 && at < l.in_used) {
        const std::string_view rest(l.in + at, l.in_used - at);
        const can_sockcand_cut cut = can_sockcand_cut_front(rest);
        if (cut.kind == can_sockcand_cut_kind::need_more)
            break;
        if (cut.kind == can_sockcand_cut_kind::garbage)
            ++l.bad;
        if (cut.kind == can_sockcand_cut_kind::message)
            found = take_message(port, rest.substr(0, cut.length), frame);
        at += cut.length;
    }
    if (l.fd < 0)  // lost while reading: the input is gone with it
        return false;
    std::memmove(l.in, l.in + at, l.in_used - at);
    l.in_used -= at;
    return found;
}

int sockcand_open(uint8_t port)
{
    sockcand_port& l = links[port];
    if (l.state != link_state::closed)
        return 0;
    const char* device = can_port_device(port);
    std::string_view host, tcp_port, channel;
    const char* why = device ? check_device(device) : "no HOST:PORT:CHANNEL given";
    if (why || !split_device(device, host, tcp_port, channel)) {
        can_port_fail_reason(port, why);
        return -1;
    }
    char host_text[CAN_DEVICE_MAX];
    char port_text[8];
    std::snprintf(host_text, sizeof host_text, "%.*s", int(host.size()), host.data());
    std::snprintf(port_text, sizeof port_text, "%.*s", int(tcp_port.size()), tcp_port.data());
    if (os_tcp_resolve(host_text, port_text, l.address, why) != 0) {
        char reason[CAN_REASON_MAX];
        std::snprintf(reason, sizeof reason, "socketcand server %.80s: %.50s", host_text, why);
        can_port_fail_reason(port, reason);
        return -1;
    }
    std::snprintf(l.where, sizeof l.where, "%.200s:%.6s", host_text, port_text);
    std::snprintf(l.channel, sizeof l.channel, "%.*s", int(channel.size()), channel.data());
    l.last_failure[0] = 0;
    l.bad = 0;
    say(port, "connecting");
    start_connect(port);
    return 0;
}

int sockcand_set_bitrate(uint8_t, uint32_t)
{
    return 0;  // the server's bus has its own rate
}

int sockcand_send(uint8_t port, const can_frame* frame)
{
    sockcand_port& l = links[port];
    advance(port);
    if (l.state != link_state::raw)
        return -1;
    char text[CAN_SOCKCAND_TEXT_MAX];
    const size_t n = can_sockcand_format_send(*frame, text, sizeof text);
    return put(port, text, n) ? 0 : -1;
}

int sockcand_receive(uint8_t port, can_frame* frame)
{
    sockcand_port& l = links[port];
    advance(port);
    if (l.fd < 0)
        return -1;
    if (l.out_used)
        put(port, "", 0);
    if (next_frame(port, frame))
        return 0;
    fill(port);
    return next_frame(port, frame) ? 0 : -1;
}

void sockcand_reset()
{
    for (sockcand_port& l : links) {
        os_tcp_close(l.fd);
        l = sockcand_port{};
    }
}

}  // namespace

extern const can_backend can_backend_socketcand = {
    .name = "socketcand",
    .form = "socketcand:HOST:PORT:CHANNEL",
    .help = "a socketcand server over TCP (a gateway, or another simulator's --bus-server)",
    .arg = CAN_ARG_REQUIRED,
    .check_arg = check_device,
    .open = sockcand_open,
    .set_bitrate = sockcand_set_bitrate,
    .send = sockcand_send,
    .receive = sockcand_receive,
    .reset = sockcand_reset,
};
