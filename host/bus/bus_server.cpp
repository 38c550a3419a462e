#include "host/bus/bus_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

#include "host/common/printable.h"
#include "seam/can_socketcand_text.h"
#include "seam/can.h"
#include "seam/unit.h"

namespace norvane {

namespace {

// How often the I/O thread looks for the unit's frames when nothing else
// wakes it: a fraction of the unit's 25 ms main step.
constexpr int LOOK_MS = 5;
constexpr size_t PUBLISH_QUEUE = 4096;
// A client's sends are charged as the longest frame (an extended one with
// eight data bytes: 131 bits with the interframe space), so a client never
// sends more than a full bus carries of the bus's own frames. A client may
// send 50 ms of them at once.
constexpr int64_t FRAME_BITS = 131;
constexpr int64_t BURST_US = 50000;
// Lines about clients: ten at once, then one a second.
constexpr int64_t LINE_BURST = 10;
constexpr uint64_t LINE_EVERY_MS = 1000;

uint64_t monotonic_ms()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

uint64_t monotonic_us()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

// Frames carry the unit's time, the one time base of the CAN log, the
// monitor and the scenarios: the unit's milliseconds now, in microseconds.
uint64_t unit_now_us()
{
    return uint64_t(hal_ms_clock()) * 1000u;
}

std::string peer_name(const sockaddr_storage& address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
        return std::string("[") + host + "]:" + std::to_string(port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

bool parse_bus_server_address(std::string_view text, std::string& host, uint16_t& port, std::string& why)
{
    const size_t colon = text.rfind(':');
    std::string_view host_part = colon == std::string_view::npos ? std::string_view() : text.substr(0, colon);
    const std::string_view port_part = colon == std::string_view::npos ? text : text.substr(colon + 1);
    if (host_part.size() >= 2 && host_part.front() == '[' && host_part.back() == ']')
        host_part = host_part.substr(1, host_part.size() - 2);
    if (colon != std::string_view::npos && host_part.empty()) {
        why = std::string("'").append(text) + "': the address before ':' is empty";
        return false;
    }
    uint32_t value = 0;
    bool digits = !port_part.empty() && port_part.size() <= 5;
    for (char c : port_part) {
        if (c < '0' || c > '9')
            digits = false;
        else
            value = value * 10 + uint32_t(c - '0');
    }
    if (!digits || value > 65535) {
        why = std::string("'").append(text) + "': expected [HOST:]PORT with a port of 0 to 65535";
        return false;
    }
    host = host_part.empty() ? "127.0.0.1" : std::string(host_part);
    port = uint16_t(value);
    return true;
}

int bus_server_can_port(const std::string mapping[CAN_PORT_COUNT], const bool user_mapped[CAN_PORT_COUNT],
                        std::string& why)
{
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
        if (mapping[port] == "virtual")
            return port;
    if (!user_mapped[0])
        return 0;
    why = "--bus-server carries a CAN port on the virtual bus, and --can0 maps port 0 to '" + mapping[0] +
          "': leave --can0 out or map a port to virtual";
    return -1;
}

bus_link virtual_bus_link(uint8_t can_port)
{
    bus_link link;
    link.to_bus = [can_port](const can_frame& frame) { return can_virtual_inject(can_port, frame) == 0; };
    link.from_bus = [can_port](can_frame& frame) {
        if (can_virtual_take_sent(can_port, &frame) == 0)
            return false;
        frame.time_us = unit_now_us();  // the unit's frames leave without a time
        return true;
    };
    return link;
}

enum class client_state { no_bus, bcm, raw, closing };

struct BusServer::client {
    int fd = -1;
    uint64_t number = 0;  // in the order of connection
    std::string name;
    client_state state = client_state::no_bus;
    std::string in;     // bytes read, not yet a whole message
    std::string out;    // bytes for the client, not yet written
    std::string held;   // frames during the hold after "< rawmode >"
    uint64_t hold_until_ms = 0;
    uint64_t bad = 0;
    uint64_t refused = 0;  // frames the bus would not take
    uint64_t mode_changes = 0;
    uint64_t since_ms = 0;      // connected, or asked to close
    int64_t credit = 0;         // bit-microseconds it may still send
    uint64_t credit_us = 0;     // when the credit was last topped up
    bool waiting = false;  // a frame in `in` waits for credit; its socket is not read
    bool ended = false;    // the client hung up; what it sent before is taken first
    bool gone = false;  // to be closed after this pass
};

BusServer::BusServer(bus_server_options options, bus_link link, std::function<void(const std::string&)> say)
    : options_(std::move(options)), link_(std::move(link)), say_(std::move(say))
{
    if (!say_)
        say_ = [](const std::string&) {};
}

BusServer::~BusServer()
{
    stop();
}

bool BusServer::start(std::string& why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(options_.port);
    const int rc = getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        why = "bus server address " + options_.host + ": " + gai_strerror(rc);
        return false;
    }
    int fd = -1;
    std::string last_error = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            last_error = std::strerror(errno);
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 16) == 0)
            break;
        last_error = std::strerror(errno);
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        why = "bus server cannot listen on " + options_.host + ":" + service + ": " + last_error;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    bound_port_.store(bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                  : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port),
                      std::memory_order_relaxed);
    wake_fd_.store(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (wake_fd_.load() < 0) {
        why = std::string("bus server: eventfd: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    listen_fd_ = fd;
    stopping_.store(false, std::memory_order_relaxed);
    thread_ = std::thread([this] { run(); });
    return true;
}

void BusServer::stop()
{
    if (!thread_.joinable())
        return;
    stopping_.store(true, std::memory_order_relaxed);
    wake();
    thread_.join();
    ::close(listen_fd_);
    ::close(wake_fd_.exchange(-1));
    listen_fd_ = -1;
}

void BusServer::wake()
{
    const int fd = wake_fd_.load(std::memory_order_relaxed);
    if (fd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

bool BusServer::publish(const can_frame& frame)
{
    {
        std::lock_guard<std::mutex> guard(publish_lock_);
        if (published_.size() >= PUBLISH_QUEUE)
            return false;
        published_.push_back(frame);
    }
    wake();
    return true;
}

bus_server_counts BusServer::counts() const
{
    bus_server_counts c;
    c.clients_now = clients_now_.load(std::memory_order_relaxed);
    c.connections = connections_.load(std::memory_order_relaxed);
    c.frames_from_clients = from_clients_.load(std::memory_order_relaxed);
    c.frames_refused = refused_.load(std::memory_order_relaxed);
    c.frames_to_clients = to_clients_.load(std::memory_order_relaxed);
    c.bad_messages = bad_.load(std::memory_order_relaxed);
    c.idle_closed = idle_closed_.load(std::memory_order_relaxed);
    c.lines_not_said = not_said_.load(std::memory_order_relaxed);
    c.dropped_clients = dropped_.load(std::memory_order_acquire);
    return c;
}

void BusServer::run()
{
    std::vector<pollfd> fds;
    while (!stopping_.load(std::memory_order_relaxed)) {
        fds.clear();
        fds.push_back({listen_fd_, POLLIN, 0});
        fds.push_back({wake_fd_.load(std::memory_order_relaxed), POLLIN, 0});
        for (const auto& c : clients_)
            fds.push_back({c->fd, short((c->waiting ? 0 : POLLIN) | (c->out.empty() ? 0 : POLLOUT)), 0});
        ::poll(fds.data(), fds.size(), LOOK_MS);
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(fds[1].fd, &count, sizeof count);
        }
        if (stopping_.load(std::memory_order_relaxed))
            break;
        // Sockets first, in the order they were polled: clients accepted now
        // have no entry yet and wait for the next pass.
        const size_t polled = fds.size() - 2;
        for (size_t i = 0; i < polled; ++i) {
            client& c = *clients_[i];
            if (c.waiting)
                take_messages(c);
            else if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR))
                read_client(c);
            if (!c.gone && (fds[i + 2].revents & POLLOUT))
                write_client(c);
        }
        if (fds[0].revents & POLLIN)
            accept_clients();

        can_frame frame;
        while (link_.from_bus && link_.from_bus(frame))
            to_clients(frame, nullptr);
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(publish_lock_);
                if (published_.empty())
                    break;
                frame = published_.front();
                published_.pop_front();
            }
            to_clients(frame, nullptr);
        }
        release_held(monotonic_ms());
        close_idle(monotonic_ms());
        // Write what queued up this pass at once; close what ended.
        for (auto& c : clients_)
            if (!c->gone && !c->out.empty())
                write_client(*c);
        for (auto it = clients_.begin(); it != clients_.end();) {
            client& c = **it;
            if (c.gone || (c.state == client_state::closing && c.out.empty())) {
                ::close(c.fd);
                clients_now_.fetch_sub(1, std::memory_order_relaxed);
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
        list_clients();
    }
    for (auto& c : clients_)
        ::close(c->fd);
    clients_now_.fetch_sub(clients_.size(), std::memory_order_relaxed);
    clients_.clear();
    list_clients();
    if (connections_not_said_ > 0)
        say_("bus server: " + std::to_string(connections_not_said_) +
             " line(s) about clients not said (ten at once, then one a second)");
}

void BusServer::list_clients()
{
    // Compared first, so a pass where no client came, went or changed mode
    // neither allocates nor takes the lock.
    bool same = listed_.size() == clients_.size();
    for (size_t i = 0; same && i < clients_.size(); ++i)
        same = listed_[i] == std::pair<uint64_t, int>(clients_[i]->number, int(clients_[i]->state));
    if (same)
        return;
    listed_.clear();
    std::vector<std::string> list;
    for (const auto& c : clients_) {
        listed_.emplace_back(c->number, int(c->state));
        const char* what = "";
        switch (c->state) {
        case client_state::no_bus: what = " (no bus open yet)"; break;
        case client_state::bcm: what = " (BCM mode)"; break;
        case client_state::raw: what = " (raw mode)"; break;
        case client_state::closing: what = " (closing)"; break;
        }
        list.push_back(c->name + what);
    }
    std::lock_guard<std::mutex> guard(client_list_lock_);
    client_list_.swap(list);
}

std::vector<std::string> BusServer::clients() const
{
    std::lock_guard<std::mutex> guard(client_list_lock_);
    return client_list_;
}

std::string BusServer::address() const
{
    const std::string& host = options_.host;
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port());
}

size_t BusServer::open_clients() const
{
    size_t open = 0;
    for (const auto& c : clients_)
        open += !c->gone && (c->state == client_state::bcm || c->state == client_state::raw);
    return open;
}

void BusServer::say_connection(const std::string& line)
{
    // A credit of lines that grows by one a second up to ten.
    const uint64_t now = monotonic_ms();
    if (connection_said_ms_ == 0 || now - connection_said_ms_ >= LINE_EVERY_MS * LINE_BURST)
        connection_said_ms_ = now - LINE_EVERY_MS * LINE_BURST;
    if (now - connection_said_ms_ < LINE_EVERY_MS) {
        ++connections_not_said_;
        not_said_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    connection_said_ms_ += LINE_EVERY_MS;
    say_(line);
}

bool BusServer::may_send(client& c, uint64_t now_us)
{
    const int64_t rate = options_.client_bits_per_second;
    if (rate == 0)
        return true;
    const int64_t cost = FRAME_BITS * 1000000;
    const int64_t most = std::max(cost, rate * BURST_US);
    c.credit = std::min(most, c.credit + int64_t(now_us - c.credit_us) * rate);
    c.credit_us = now_us;
    if (c.credit < cost)
        return false;
    c.credit -= cost;
    return true;
}

void BusServer::close_idle(uint64_t now_ms)
{
    for (auto& c : clients_) {
        if (c->gone || now_ms - c->since_ms < options_.open_within_ms)
            continue;
        if (c->state == client_state::no_bus) {
            queue(*c, "< error no bus opened in time >");
            c->state = client_state::closing;
            c->since_ms = now_ms;
            idle_closed_.fetch_add(1, std::memory_order_relaxed);
            say_connection("bus server: client " + c->name + " closed: no bus opened within " +
                           std::to_string(options_.open_within_ms) + " ms");
        } else if (c->state == client_state::closing) {
            c->gone = true;  // it does not read its last message either
        }
    }
}

void BusServer::accept_clients()
{
    for (;;) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const std::string name = peer_name(address);
        // Connections that have opened no bus have places of their own, so
        // they cannot keep a client off the bus; when those are all taken a
        // newcomer takes the place of the one that has waited longest.
        size_t waiting = 0;
        client* oldest_idle = nullptr;
        for (const auto& c : clients_) {
            if (c->gone || c->state != client_state::no_bus)
                continue;
            ++waiting;
            if (!oldest_idle || c->since_ms < oldest_idle->since_ms)
                oldest_idle = c.get();
        }
        if (waiting >= options_.max_waiting && oldest_idle) {
            oldest_idle->gone = true;
            idle_closed_.fetch_add(1, std::memory_order_relaxed);
            say_connection("bus server: client " + oldest_idle->name + " closed: no bus opened, its place is taken");
        }
        if (open_clients() >= options_.max_clients || clients_.size() >= options_.max_clients + 2 * options_.max_waiting) {
            static constexpr char full[] = "< error too many clients >";
            [[maybe_unused]] const ssize_t n = ::send(fd, full, sizeof full - 1, MSG_NOSIGNAL);
            ::close(fd);
            say_connection("bus server: client " + name + " refused: already " +
                           std::to_string(options_.max_clients) + " clients with the bus open");
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<client>();
        c->fd = fd;
        c->number = connections_.load(std::memory_order_relaxed);
        c->name = name;
        c->since_ms = monotonic_ms();
        c->credit_us = monotonic_us();
        connections_.fetch_add(1, std::memory_order_relaxed);
        clients_now_.fetch_add(1, std::memory_order_relaxed);
        say_connection("bus server: client " + name + " connected");
        queue(*c, "< hi >");
        clients_.push_back(std::move(c));
    }
}

void BusServer::read_client(client& c)
{
    // A flooding client gets a bounded share of each pass.
    char buffer[4096];
    bool ended = false;
    for (int chunk = 0; chunk < 16; ++chunk) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0)
            c.in.append(buffer, size_t(n));
        else
            ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        if (n <= 0 || size_t(n) < sizeof buffer)
            break;
    }
    c.ended = c.ended || ended;
    take_messages(c);
}

void BusServer::take_messages(client& c)
{
    // What arrived before an end is still taken. A frame over the client's
    // rate waits, and the client's socket is not read until it went.
    size_t at = 0;
    c.waiting = false;
    while (!c.gone && at < c.in.size()) {
        const std::string_view rest = std::string_view(c.in).substr(at);
        const can_sockcand_cut cut = can_sockcand_cut_front(rest);
        if (cut.kind == can_sockcand_cut_kind::need_more)
            break;
        if (cut.kind == can_sockcand_cut_kind::message) {
            if (!handle_message(c, rest.substr(0, cut.length))) {
                c.waiting = true;
                break;
            }
        } else if (cut.kind == can_sockcand_cut_kind::garbage) {
            if (c.bad++ == 0)
                say_connection("bus server: client " + c.name + ": " + printable(cut.why) +
                               " (further bad messages only counted)");
            bad_.fetch_add(1, std::memory_order_relaxed);
            queue(c, "< error bad message >");
        }
        at += cut.length;
    }
    c.in.erase(0, at);
    if (c.ended && !c.waiting && !c.gone) {
        c.gone = true;
        std::string line = "bus server: client " + c.name + " disconnected";
        if (!c.in.empty())
            line += " in the middle of a message";
        if (c.bad)
            line += " (" + std::to_string(c.bad) + " bad messages)";
        if (c.refused)
            line += " (" + std::to_string(c.refused) + " frames refused by the unit's full bus)";
        if (c.mode_changes > 1)
            line += " (" + std::to_string(c.mode_changes) + " changes to raw mode)";
        say_connection(line);
    }
}

bool BusServer::handle_message(client& c, std::string_view text)
{
    can_sockcand_message m{};
    const char* why = "";
    if (c.state == client_state::closing)
        return true;
    if (!can_sockcand_parse(text, m, why)) {
        if (c.bad++ == 0)
            say_connection("bus server: client " + c.name + ": '" + printable(text) + "': " + why +
                           " (further bad messages only counted)");
        bad_.fetch_add(1, std::memory_order_relaxed);
        queue(c, std::string("< error ") + why + " >");
        return true;
    }
    switch (m.kind) {
    case can_sockcand_kind::echo:
        queue(c, "< echo >");
        return true;
    case can_sockcand_kind::open:
        if (c.state != client_state::no_bus) {
            queue(c, "< error a bus is open already >");
        } else if (m.text != options_.bus_name) {
            // As socketcand does: an error, then the connection ends.
            queue(c, "< error could not open bus >");
            say_connection("bus server: client " + c.name + " asked for bus '" + printable(m.text) +
                           "'; this server has '" + options_.bus_name + "'");
            c.state = client_state::closing;
            c.since_ms = monotonic_ms();
        } else if (open_clients() >= options_.max_clients) {
            queue(c, "< error too many clients >");
            say_connection("bus server: client " + c.name + " refused: already " +
                           std::to_string(options_.max_clients) + " clients with the bus open");
            c.state = client_state::closing;
            c.since_ms = monotonic_ms();
        } else {
            queue(c, "< ok >");
            c.state = client_state::bcm;
        }
        return true;
    case can_sockcand_kind::rawmode:
    case can_sockcand_kind::bcmmode:
        if (c.state == client_state::no_bus) {
            queue(c, "< error no bus is open >");
            return true;
        }
        queue(c, "< ok >");
        if (m.kind == can_sockcand_kind::rawmode && c.state != client_state::raw) {
            c.state = client_state::raw;
            c.hold_until_ms = monotonic_ms() + options_.raw_hold_ms;
            // Said once: a client that flips modes is counted when it goes.
            if (c.mode_changes++ == 0)
                say_connection("bus server: client " + c.name + " receives the bus in raw mode");
        } else if (m.kind == can_sockcand_kind::bcmmode) {
            c.state = client_state::bcm;
            c.held.clear();
        }
        return true;
    case can_sockcand_kind::send:
        if (c.state == client_state::no_bus) {
            queue(c, "< error no bus is open >");
            return true;
        }
        if (!may_send(c, monotonic_us()))
            return false;  // over the client's rate: the message waits
        if (link_.to_bus && !link_.to_bus(m.frame)) {
            // The unit takes frames more slowly than they come: said once
            // per client, counted always.
            if (c.refused++ == 0)
                say_connection("bus server: client " + c.name + ": the unit's bus is full, its frames are "
                               "refused while it stays full");
            refused_.fetch_add(1, std::memory_order_relaxed);
            return true;  // not on the bus: the other clients do not see it either
        }
        from_clients_.fetch_add(1, std::memory_order_relaxed);
        to_clients(m.frame, &c);
        return true;
    default:
        queue(c, "< error unknown command >");
        if (c.bad++ == 0)
            say_connection("bus server: client " + c.name + ": '" + printable(text) +
                           "' is not for a server (further bad messages only counted)");
        bad_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    return true;
}

void BusServer::to_clients(const can_frame& frame, const client* except)
{
    // A line end before each frame: python-can 4.1 drops the character after
    // the last whole message it read, which loses the '<' of a message cut
    // by its receive; a blank first is safe to lose, and in front (not
    // behind) a receive that ends with a whole message leaves nothing over.
    char text[CAN_SOCKCAND_TEXT_MAX + 1];
    text[0] = '\n';
    // A client's frame has the unit's time at which it reached the bus.
    const uint64_t time_us = frame.time_us != 0 ? frame.time_us : unit_now_us();
    const size_t n = 1 + can_sockcand_format_frame(frame, time_us, text + 1, sizeof text - 1);
    const std::string_view line(text, n);
    const uint64_t now = monotonic_ms();
    for (auto& c : clients_) {
        if (c.get() == except || c->gone || c->state != client_state::raw)
            continue;
        if (now < c->hold_until_ms) {
            if (c->held.size() + n > options_.client_queue_bytes)
                drop(*c, std::to_string(c->held.size() / 1024) + " KiB of frames waiting");
            else
                c->held.append(line);
        } else {
            queue(*c, line);
        }
        to_clients_.fetch_add(1, std::memory_order_relaxed);
    }
}

void BusServer::release_held(uint64_t now_ms)
{
    for (auto& c : clients_)
        if (!c->held.empty() && now_ms >= c->hold_until_ms) {
            queue(*c, c->held);
            c->held.clear();
        }
}

void BusServer::queue(client& c, std::string_view text)
{
    if (c.gone)
        return;
    // Full: what the socket takes now makes room; a client whose socket
    // takes nothing more is too slow for the bus.
    if (c.out.size() + text.size() > options_.client_queue_bytes)
        write_client(c);
    if (c.gone)
        return;
    if (c.out.size() + text.size() > options_.client_queue_bytes) {
        drop(c, std::to_string(c.out.size() / 1024) + " KiB of frames waiting");
        return;
    }
    c.out.append(text);
}

void BusServer::drop(client& c, const std::string& why)
{
    if (c.gone)
        return;
    c.gone = true;
    // The line comes before the count, so whoever sees the count can also
    // find the line that says why.
    say_("bus server: client " + c.name + " dropped: it does not take its frames (" + why + ")");
    dropped_.fetch_add(1, std::memory_order_release);
}

void BusServer::write_client(client& c)
{
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.out.erase(0, size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        c.gone = true;
        say_connection("bus server: client " + c.name + " disconnected");
        return;
    }
}

std::unique_ptr<BusServer> start_bus_server(const std::string& host, uint16_t port, uint8_t can_port, bus_link link,
                                            std::function<void(const std::string&)> say, std::string& why)
{
    bus_server_options options;
    options.host = host;
    options.port = port;
    options.bus_name = "can" + std::to_string(can_port);
    auto server = std::make_unique<BusServer>(options, std::move(link), say);
    if (!server->start(why))
        return nullptr;
    if (say)
        say("bus server: listening on " + host + ":" + std::to_string(server->port()) +
            " (socketcand raw mode, bus " + options.bus_name + " = CAN port " + std::to_string(can_port) + ")");
    return server;
}

std::unique_ptr<BusServer> start_virtual_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                                                    std::function<void(const std::string&)> say, std::string& why)
{
    return start_bus_server(host, port, can_port, virtual_bus_link(can_port), std::move(say), why);
}

}  // namespace norvane
