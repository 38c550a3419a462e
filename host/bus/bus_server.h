// The unit's virtual bus on the network: a socketcand server in raw mode.
// Every frame on the bus (the unit's, a host participant's, another
// client's) goes to every client in raw mode; a client's frames go onto the
// bus and to the other clients. One I/O thread serves every socket without
// blocking, so a client that sends garbage, stalls or goes away never holds
// up the unit or the other clients: each client has a bounded queue, and a
// client that does not take its frames is dropped with a line saying so.
// A client's sends are held to the rate of a full bus, and a connection
// that opens no bus soon is closed, so no client can crowd out the others.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "seam/can.h"

namespace norvane {

constexpr uint16_t BUS_SERVER_DEFAULT_PORT = 29536;  // socketcand's

// "[HOST:]PORT" as --bus-server takes it; the host defaults to 127.0.0.1,
// a port of 0 lets the system choose. False with a reason for anything else.
bool parse_bus_server_address(std::string_view text, std::string& host, uint16_t& port, std::string& why);

// Which CAN port a server carries: the first port mapped to "virtual"; else
// port 0 when the user left it unmapped (the caller maps it to "virtual").
// -1 with a reason when port 0 is mapped elsewhere and port 1 is not virtual.
int bus_server_can_port(const std::string mapping[CAN_PORT_COUNT], const bool user_mapped[CAN_PORT_COUNT],
                        std::string& why);

// Where the server's frames meet the bus. Both are called on the I/O thread.
struct bus_link {
    // A client's frame onto the bus; false when the bus refuses it (full).
    std::function<bool(const can_frame&)> to_bus;
    // The next frame the unit sent on the bus; false when there is none.
    std::function<bool(can_frame&)> from_bus;
};
// The firmware's virtual bus of one CAN port.
bus_link virtual_bus_link(uint8_t can_port);

struct bus_server_options {
    std::string host = "127.0.0.1";
    uint16_t port = BUS_SERVER_DEFAULT_PORT;
    std::string bus_name = "can0";       // what a client names in "< open ... >"
    size_t client_queue_bytes = 64 * 1024;  // about 1400 frames
    size_t max_clients = 16;  // with the bus open
    // Connections that have not opened the bus yet have places of their
    // own: one is closed when it has not opened the bus this long after
    // "< hi >", or when all are taken and a new connection comes (the one
    // that waited longest).
    size_t max_waiting = 64;
    uint32_t open_within_ms = 5000;
    // What one client may put on the bus, in bits a second (a full
    // 250 kbit/s bus); its further messages wait in its socket. 0: no limit.
    uint32_t client_bits_per_second = 250000;
    // After "< ok >" to "< rawmode >" the first frames wait this long, so a
    // client that reads the reply with one receive gets it on its own.
    uint32_t raw_hold_ms = 50;
};

struct bus_server_counts {
    uint64_t clients_now = 0;
    uint64_t connections = 0;
    uint64_t frames_from_clients = 0;  // taken onto the bus
    uint64_t frames_refused = 0;       // the bus was full
    uint64_t frames_to_clients = 0;    // queued for a client, one per client
    uint64_t bad_messages = 0;         // from every client so far
    uint64_t dropped_clients = 0;      // too slow to take their frames
    uint64_t idle_closed = 0;          // closed for opening no bus in time
    uint64_t lines_not_said = 0;       // connection lines over the rate, counted
};

class BusServer {
public:
    // `say` gets one line per event (a client came, went, was dropped, sent
    // something wrong); it is called on the I/O thread. Connections come
    // and go at most once a second each in words, a client's mode changes
    // once per client; what was not said is counted in a line at stop().
    BusServer(bus_server_options options, bus_link link, std::function<void(const std::string&)> say);
    ~BusServer();  // stop()
    BusServer(const BusServer&) = delete;
    BusServer& operator=(const BusServer&) = delete;

    // Binds, listens and starts the I/O thread; false with a reason.
    bool start(std::string& why);
    // Closes every connection and joins the I/O thread.
    void stop();
    // The port it listens on (the system's choice when asked for 0).
    uint16_t port() const { return bound_port_.load(std::memory_order_relaxed); }

    // A frame another host participant put on the bus: to every client.
    // Any thread; false when the hand-over queue is full.
    bool publish(const can_frame& frame);
    // Wakes the I/O thread to look for the unit's frames now. publish and
    // wake are for the time between start() and stop().
    void wake();

    bus_server_counts counts() const;
    // Where it listens, "HOST:PORT" (IPv6 hosts in brackets).
    std::string address() const;
    // The clients connected now, in the order they came, each as its
    // address and what it does: "127.0.0.1:40312 (raw mode)". Any thread;
    // the I/O thread writes the list only when a client comes, goes or
    // changes mode.
    std::vector<std::string> clients() const;

private:
    struct client;
    void run();
    void accept_clients();
    void read_client(client& c);
    // False when the message must wait: a frame over the client's rate.
    bool handle_message(client& c, std::string_view text);
    void write_client(client& c);
    void to_clients(const can_frame& frame, const client* except);
    void queue(client& c, std::string_view text);
    void drop(client& c, const std::string& why);
    void release_held(uint64_t now_ms);
    void take_messages(client& c);
    bool may_send(client& c, uint64_t now_us);
    void close_idle(uint64_t now_ms);
    size_t open_clients() const;
    void say_connection(const std::string& line);
    void list_clients();

    bus_server_options options_;
    bus_link link_;
    std::function<void(const std::string&)> say_;
    int listen_fd_ = -1;
    std::atomic<int> wake_fd_{-1};
    std::atomic<uint16_t> bound_port_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::deque<std::unique_ptr<client>> clients_;  // the I/O thread's own

    std::mutex publish_lock_;  // guards published_
    std::deque<can_frame> published_;

    // What clients() gives, and what it was made from (the I/O thread's).
    mutable std::mutex client_list_lock_;  // guards client_list_
    std::vector<std::string> client_list_;
    std::vector<std::pair<uint64_t, int>> listed_;  // each client's number and state

    std::atomic<uint64_t> clients_now_{0}, connections_{0}, from_clients_{0}, refused_{0}, to_clients_{0},
        bad_{0}, dropped_{0}, idle_closed_{0}, not_said_{0};
    uint64_t connection_said_ms_ = 0;  // when the last connection line was said
    uint64_t connections_not_said_ = 0;  // since then
};

// A server for the bus of `can_port` (bus name "canN") reached through
// `link`, started; it says where it listens through `say`. nullptr with a
// reason.
std::unique_ptr<BusServer> start_bus_server(const std::string& host, uint16_t port, uint8_t can_port, bus_link link,
                                            std::function<void(const std::string&)> say, std::string& why);
// The same over the firmware's virtual bus of `can_port` (virtual_bus_link).
std::unique_ptr<BusServer> start_virtual_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                                                    std::function<void(const std::string&)> say, std::string& why);

}  // namespace norvane
