// Frames per second through the socketcand bus server over loopback with
// three clients, without loss. Goal: at least a fully loaded 250 kbit/s bus
// (1908 extended 8-byte frames a second) for one client sending while two
// others and the bus take every frame, and for the bus's frames reaching all
// three clients.
//   client_to_bus_and_others: one client sends as fast as TCP takes it; the
//     bus and both other clients must receive every frame.
//   bus_to_three_clients: the bus's frames (as the unit sends them) reach
//     all three clients.
// Each iteration moves a burst of 2000 frames (about a second of a full bus);
// a lost frame or a dropped client ends the run with an error.
#include <benchmark/benchmark.h>

#include "bench_report.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "seam/can_socketcand_text.h"
#include "host/bus/bus_server.h"

namespace {

constexpr double FULL_BUS_FRAMES_PER_S = 1908.0;
constexpr int BURST = 2000;

std::vector<std::pair<std::string, double>> rates;

// A raw-mode client on loopback that counts the frames it receives.
struct Client {
    int fd = -1;
    std::atomic<uint64_t> frames{0};
    std::atomic<bool> closed{false};
    std::thread reader;
    std::atomic<bool> stop{false};

    bool open(uint16_t port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return false;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::string seen;
        auto expect = [&](const char* text) {
            while (seen.find(text) == std::string::npos) {
                char buffer[256];
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 2000) <= 0)
                    return false;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return false;
                seen.append(buffer, size_t(n));
            }
            seen.clear();
            return true;
        };
        if (!expect("< hi >") || ::send(fd, "< open can0 >", 13, 0) != 13 || !expect("< ok >") ||
            ::send(fd, "< rawmode >", 11, 0) != 11 || !expect("< ok >"))
            return false;
        reader = std::thread([this] {
            char buffer[16384];
            while (!stop.load(std::memory_order_relaxed)) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    closed.store(true);
                    return;
                }
                uint64_t ends = 0;
                for (ssize_t i = 0; i < n; ++i)
                    ends += buffer[i] == '>';
                frames.fetch_add(ends, std::memory_order_relaxed);
            }
        });
        return true;
    }
    ~Client()
    {
        stop.store(true);
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            ::close(fd);
    }
};

// Waits (bounded) until every client in `clients` has `count` frames.
bool all_received(const std::vector<Client*>& clients, uint64_t count)
{
    for (int spins = 0; spins < 20000; ++spins) {
        bool done = true;
        for (Client* c : clients) {
            if (c->closed.load())
                return false;
            done = done && c->frames.load() >= count;
        }
        if (done)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

struct Rig {
    std::atomic<uint64_t> on_bus{0};
    std::unique_ptr<norvane::BusServer> server;
    Client clients[3];

    bool start()
    {
        norvane::bus_server_options options;
        options.port = 0;
        options.raw_hold_ms = 0;
        options.client_bits_per_second = 0;  // the server's own speed, not the bus's
        norvane::bus_link link;
        link.to_bus = [this](const can_frame&) {
            on_bus.fetch_add(1, std::memory_order_relaxed);
            return true;
        };
        link.from_bus = [](can_frame&) { return false; };
        server = std::make_unique<norvane::BusServer>(options, link, nullptr);
        std::string why;
        if (!server->start(why))
            return false;
        for (Client& c : clients)
            if (!c.open(server->port()))
                return false;
        return true;
    }
};

can_frame full_frame(uint32_t i)
{
    can_frame f{};
    f.id = 0x18FF0380;
    f.ext = 1;
    f.len = 8;
    for (int b = 0; b < 8; ++b)
        f.data[b] = uint8_t(i >> (b % 4 * 8));
    return f;
}

void report(benchmark::State& state, uint64_t frames, const char* name)
{
    state.counters["frames_per_s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["x_full_bus"] =
        benchmark::Counter(double(frames) / FULL_BUS_FRAMES_PER_S, benchmark::Counter::kIsRate);
    (void)name;
}

void client_to_bus_and_others(benchmark::State& state)
{
    Rig rig;
    if (!rig.start()) {
        state.SkipWithError("the server or a client did not start");
        return;
    }
    std::string burst;
    char text[CAN_SOCKCAND_TEXT_MAX];
    for (int i = 0; i < BURST; ++i) {
        const size_t n = can_sockcand_format_send(full_frame(uint32_t(i)), text, sizeof text);
        burst.append(text, n);
    }
    uint64_t sent = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < burst.size();) {
            const ssize_t n = ::send(rig.clients[0].fd, burst.data() + at, burst.size() - at, MSG_NOSIGNAL);
            if (n <= 0) {
                state.SkipWithError("the sender's connection failed");
                return;
            }
            at += size_t(n);
        }
        sent += BURST;
        if (!all_received({&rig.clients[1], &rig.clients[2]}, sent) || rig.on_bus.load() < sent) {
            state.SkipWithError("frames were lost or a client was dropped");
            return;
        }
    }
    if (rig.clients[0].frames.load() != 0)
        state.SkipWithError("the sender got its own frames back");
    report(state, sent, "client");
}

void bus_to_three_clients(benchmark::State& state)
{
    Rig rig;
    if (!rig.start()) {
        state.SkipWithError("the server or a client did not start");
        return;
    }
    uint64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < BURST;) {
            if (rig.server->publish(full_frame(uint32_t(i))))
                ++i;
            else
                std::this_thread::yield();  // the hand-over queue is full: the I/O thread catches up
        }
        sent += BURST;
        if (!all_received({&rig.clients[0], &rig.clients[1], &rig.clients[2]}, sent)) {
            state.SkipWithError("frames were lost or a client was dropped");
            return;
        }
    }
    report(state, sent, "bus");
}

BENCHMARK(client_to_bus_and_others)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(bus_to_three_clients)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void note_runs(const std::vector<bench_run>& runs)
{
    for (const bench_run& run : runs) {
        const auto it = run.counters.find("frames_per_s");
        if (it != run.counters.end() && !run.error_occurred)
            rates.emplace_back(run.benchmark_name(), double(it->second));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bench_run_all(argc, argv, note_runs);
    for (const auto& [name, rate] : rates)
        std::printf("%s / full 250 kbit/s bus = %.1f (%.0f frames/s without loss, three clients; goal >= 1)\n",
                    name.c_str(), rate / FULL_BUS_FRAMES_PER_S, rate);
    return 0;
}
