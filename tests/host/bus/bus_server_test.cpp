// The bus server over loopback with real sockets: the handshake, frames both
// ways between clients and the bus, and clients that misbehave while a good
// client goes on being served.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "seam/can_socketcand_text.h"
#include "seam/unit.h"
#include "host/bus/bus_server.h"
#include "fake_bus.h"
#include "host/bus/bus_peer.h"

namespace norvane {
namespace {

using clock_type = std::chrono::steady_clock;

using Peer = testing::BusPeer;
using testing::FakeBus;
using testing::frame;

struct Server {
    FakeBus bus;
    std::mutex said_lock;
    std::vector<std::string> said;
    std::unique_ptr<BusServer> server;
    explicit Server(bus_server_options options = {})
    {
        options.port = 0;
        options.raw_hold_ms = 0;
        server = std::make_unique<BusServer>(options, bus.link(), [this](const std::string& line) {
            std::lock_guard<std::mutex> g(said_lock);
            said.push_back(line);
        });
        std::string why;
        EXPECT_TRUE(server->start(why)) << why;
    }
    uint16_t port() const { return server->port(); }
    bool said_something_with(const std::string& part)
    {
        std::lock_guard<std::mutex> g(said_lock);
        for (const std::string& line : said)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
};

TEST(BusServer, AddressIsHostAndPortOrAPortAlone)
{
    std::string host, why;
    uint16_t port = 1;
    ASSERT_TRUE(parse_bus_server_address("29536", host, port, why));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 29536);
    ASSERT_TRUE(parse_bus_server_address("0.0.0.0:0", host, port, why));
    EXPECT_EQ(host, "0.0.0.0");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(parse_bus_server_address("[::1]:7", host, port, why));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"", "host:", ":80", "65536", "12a", "localhost:-1"})
        EXPECT_FALSE(parse_bus_server_address(bad, host, port, why)) << bad;
}

TEST(BusServer, CarriesThePortOnTheVirtualBusOrPortZeroWhenUnmapped)
{
    const struct {
        const char* port0;
        const char* port1;
        bool mapped0, mapped1;
        int expected;
    } cases[] = {
        {"virtual", "virtual", true, true, 0},  // norvane-run's default
        {"kvaser", "virtual", true, true, 1},
        {"kvaser", "kvaser", false, false, 0},  // the window's default: port 0 becomes virtual
        {"kvaser", "trace:x.ctb", false, true, 0},
        {"kvaser", "kvaser", true, false, -1},  // --can0 kvaser, nothing virtual
    };
    for (const auto& c : cases) {
        const std::string mapping[CAN_PORT_COUNT] = {c.port0, c.port1};
        const bool mapped[CAN_PORT_COUNT] = {c.mapped0, c.mapped1};
        std::string why;
        EXPECT_EQ(bus_server_can_port(mapping, mapped, why), c.expected) << c.port0 << " " << c.port1;
        EXPECT_EQ(why.empty(), c.expected >= 0) << why;
    }
}

// Who is on the served bus, for the window: each client by its address with
// what it does, in the order they came, as they come, change mode and go.
TEST(BusServer, ListsItsClientsWithWhatTheyDo)
{
    Server s;
    EXPECT_EQ(s.server->address(), "127.0.0.1:" + std::to_string(s.port()));
    EXPECT_TRUE(s.server->clients().empty());
    // The I/O thread updates the list after the pass that changed it.
    const auto list_becomes = [&s](const std::vector<std::string>& want) {
        const auto end = clock_type::now() + std::chrono::seconds(3);
        while (s.server->clients() != want && clock_type::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return s.server->clients() == want;
    };
    const auto text = [](const std::vector<std::string>& list) {
        std::string out;
        for (const std::string& line : list)
            out += line + "; ";
        return out;
    };
    Peer a(s.port());
    ASSERT_TRUE(a.wait_for("< hi >"));
    Peer b(s.port());
    ASSERT_TRUE(b.wait_for("< hi >"));
    const std::string name_a = a.local_address(), name_b = b.local_address();
    EXPECT_TRUE(list_becomes({name_a + " (no bus open yet)", name_b + " (no bus open yet)"}))
        << text(s.server->clients());
    a.send("< open can0 >");
    ASSERT_TRUE(a.wait_for("< ok >"));
    ASSERT_TRUE(b.open_raw());
    EXPECT_TRUE(list_becomes({name_a + " (BCM mode)", name_b + " (raw mode)"})) << text(s.server->clients());
    a.close();
    EXPECT_TRUE(list_becomes({name_b + " (raw mode)"})) << text(s.server->clients());
    s.server->stop();
    EXPECT_TRUE(s.server->clients().empty());
}

TEST(BusServer, RawClientsSeeTheUnitAndEachOtherButNotThemselves)
{
    Server s;
    Peer a(s.port()), b(s.port());
    ASSERT_TRUE(a.open_raw());
    ASSERT_TRUE(b.open_raw());

    s.bus.unit_sends(frame(0x18FF0380, 1, {0x0D, 1, 1}));
    s.server->wake();
    EXPECT_TRUE(a.wait_for("< frame 18FF0380 ")) << a.seen();
    EXPECT_TRUE(b.wait_for(" 0D0101 >")) << b.seen();
    EXPECT_TRUE(b.seen().find("\n< frame 18FF0380 ") != std::string::npos) << b.seen();

    // python-can 4.1's form: unpadded identifier and bytes.
    a.send("< send CFF0480 2 1 a >");
    EXPECT_TRUE(b.wait_for("< frame 0CFF0480 ")) << b.seen();
    EXPECT_TRUE(b.wait_for(" 010A >"));
    a.send("< send 80 0 >");
    EXPECT_TRUE(b.wait_for("< frame 080 ")) << b.seen();
    EXPECT_EQ(s.bus.taken(), 2u);
    {
        std::lock_guard<std::mutex> g(s.bus.lock);
        EXPECT_EQ(s.bus.on_bus[0].id, 0x0CFF0480u);
        EXPECT_EQ(s.bus.on_bus[0].ext, 1);
        EXPECT_EQ(s.bus.on_bus[1].ext, 0);
    }
    // A full bus refuses the frame, says so once and counts it; what the
    // bus refused is on no bus, so the other clients do not see it either.
    {
        std::lock_guard<std::mutex> g(s.bus.lock);
        s.bus.full = true;
    }
    a.send("< send 123 0 >< send 124 0 >< echo >");
    EXPECT_TRUE(a.wait_for("< echo >"));
    EXPECT_EQ(s.server->counts().frames_refused, 2u);
    EXPECT_TRUE(s.said_something_with("the unit's bus is full"));
    {
        std::lock_guard<std::mutex> g(s.bus.lock);
        s.bus.full = false;
    }
    a.send("< send 125 0 >");
    EXPECT_TRUE(b.wait_for("< frame 125 ")) << b.seen();
    EXPECT_EQ(b.seen().find("< frame 123 "), std::string::npos) << "a refused frame reached another client";
    EXPECT_EQ(b.seen().find("< frame 124 "), std::string::npos) << "a refused frame reached another client";
    EXPECT_EQ(a.seen().find("< frame 0CFF0480"), std::string::npos) << "the sender got its own frame back";
    EXPECT_EQ(s.server->counts().frames_from_clients, 3u);
}

// Frames go to clients with the unit's time, the time base of the CAN log
// and the monitor (not the wall clock): the unit's at the time it sent them,
// a client's at the time it reached the bus.
TEST(BusServer, FramesCarryTheUnitsTime)
{
    hal_set_clock_source([]() -> uint64_t { return 4321; });
    char unit_time[32];
    std::snprintf(unit_time, sizeof unit_time, " %u.%03u000 ", hal_ms_clock() / 1000, hal_ms_clock() % 1000);
    Server s;
    Peer a(s.port()), b(s.port());
    ASSERT_TRUE(a.open_raw());
    ASSERT_TRUE(b.open_raw());
    s.bus.unit_sends(frame(0x18FF0380, 1, {0x0D, 1, 1}));
    s.server->wake();
    EXPECT_TRUE(a.wait_for(std::string("< frame 18FF0380") + unit_time + "0D0101 >")) << a.seen();
    a.send("< send 125 1 7 >");
    EXPECT_TRUE(b.wait_for(std::string("< frame 125") + unit_time + "07 >")) << b.seen();
    hal_set_clock_source(hal_monotonic_ms);
}

// Each case: what a bad client does. A good client stays served throughout.
struct MisbehaviourCase {
    const char* name;
    const char* sends;        // after "< hi >"
    bool open_first;          // opens can0 in raw mode before sending
    bool hang_up;             // closes its end after sending
    bool server_closes;       // the server ends the connection
    const char* reply_part;   // part of the server's reply, or ""
    const char* line_part;    // part of the server's line about it
    uint64_t bad;             // bad messages counted
};

const MisbehaviourCase kMisbehaviour[] = {
    {"garbage", "GET / HTTP/1.1\r\n\r\n", false, false, false, "< error bad message >", "outside", 1},
    {"unknown command", "< frobnicate >", true, false, false, "< error unknown command >", "unknown command", 1},
    {"bad send", "< send 123 2 1 >", true, false, false, "< error the number of data bytes", "differs", 1},
    {"frame from a client", "< frame 123 1.0 00 >", true, false, false, "< error unknown command >", "not for a server", 1},
    {"send before open", "< send 123 0 >", false, false, false, "< error no bus is open >", "", 0},
    {"wrong bus", "< open vcan7 >", false, false, true, "< error could not open bus >", "asked for bus 'vcan7'", 0},
    // Quoted bytes are shown as \xNN: an escape sequence would retitle the
    // terminal of whoever reads the lines.
    {"control bytes in a bus name", "< open \x1b]0;PWNED\x07 >", false, false, true, "< error could not open bus >",
     "asked for bus '\\x1B]0;PWNED\\x07'", 0},
    {"control bytes in a bad message", "< send 1\x1b[2J 0 >", true, false, false, "< error", "\\x1B[2J", 1},
    {"half a message, then gone", "< send 123 8 1 2", true, true, true, "", "in the middle of a message", 0},
    {"endless message", nullptr, true, false, false, "< error bad message >", "longer than 128", 2},
    {"half a message, then a whole one", "< send 12< send 123 0 >", true, false, false, "< error bad message >",
     "without its '>'", 1},
};

TEST(BusServer, MisbehavingClientsNeverStopTheOthers)
{
    for (const MisbehaviourCase& c : kMisbehaviour) {
        SCOPED_TRACE(c.name);
        Server s;
        Peer good(s.port());
        ASSERT_TRUE(good.open_raw());
        Peer bad(s.port());
        if (c.open_first) {
            ASSERT_TRUE(bad.open_raw());
        } else {
            ASSERT_TRUE(bad.wait_for("< hi >"));
        }
        bad.send(c.sends ? std::string(c.sends) : std::string(1, '<').append(300, 'x'));
        if (c.hang_up)
            bad.close();
        if (*c.reply_part) {
            EXPECT_TRUE(bad.wait_for(c.reply_part)) << bad.seen();
        }
        if (c.server_closes && !c.hang_up) {
            EXPECT_TRUE(bad.closed_by_server());
        }

        // The unit's frames still reach the good client at once.
        s.bus.unit_sends(frame(0x0CFF0480, 1, {7}));
        s.server->wake();
        EXPECT_TRUE(good.wait_for("< frame 0CFF0480 ")) << good.seen();
        if (*c.line_part) {
            const auto end = clock_type::now() + std::chrono::seconds(3);
            while (!s.said_something_with(c.line_part) && clock_type::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_TRUE(s.said_something_with(c.line_part));
        }
        EXPECT_EQ(s.server->counts().bad_messages, c.bad);
        std::lock_guard<std::mutex> g(s.said_lock);
        for (const std::string& line : s.said)
            for (char ch : line)
                EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << line;
    }
}

TEST(BusServer, AClientThatStopsReadingIsDroppedAndTheOthersGoOn)
{
    bus_server_options options;
    options.client_queue_bytes = 16 * 1024;
    Server s(options);
    Peer good(s.port());
    ASSERT_TRUE(good.open_raw());
    Peer stalled(s.port(), 4096);
    ASSERT_TRUE(stalled.open_raw());

    // Frames until the stalled client's socket and queue are full; the good
    // client reads as it goes, as a live client does.
    const can_frame f = frame(0x18FF0381, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    const auto end = clock_type::now() + std::chrono::seconds(10);
    while (s.server->counts().dropped_clients == 0 && clock_type::now() < end) {
        for (int i = 0; i < 200; ++i)
            s.server->publish(f);
        good.wait_for(">", 20);
        good.forget();
    }
    EXPECT_EQ(s.server->counts().dropped_clients, 1u);
    EXPECT_TRUE(s.said_something_with("dropped: it does not take its frames"));
    EXPECT_TRUE(stalled.closed_by_server());
    good.forget();
    s.server->publish(frame(0x123, 0, {0x42}));
    EXPECT_TRUE(good.wait_for("< frame 123 ")) << "the good client was not served after the drop";
}

TEST(BusServer, FramesWaitBrieflyAfterRawModeSoTheReplyArrivesAlone)
{
    bus_server_options options;
    options.port = 0;
    options.raw_hold_ms = 200;
    FakeBus bus;
    BusServer server(options, bus.link(), nullptr);
    std::string why;
    ASSERT_TRUE(server.start(why)) << why;
    Peer p(server.port());
    ASSERT_TRUE(p.wait_for("< hi >"));
    p.send("< open can0 >");
    ASSERT_TRUE(p.wait_for("< ok >"));
    p.forget();
    p.send("< rawmode >");
    ASSERT_TRUE(p.wait_for("< ok >"));
    server.publish(frame(0x123, 0, {1}));
    p.wait_for("< frame", 100);
    EXPECT_EQ(p.seen(), "< ok >");
    EXPECT_TRUE(p.wait_for("< frame 123 ")) << "held frames are sent after the hold";
}

// Connections that open no bus are closed after a while, and while all
// their places are taken a newcomer takes the place of the oldest of them:
// idle connections cannot keep a client off the bus.
TEST(BusServer, IdleConnectionsCannotKeepAClientOut)
{
    bus_server_options options;
    options.max_clients = 4;
    options.max_waiting = 4;
    options.open_within_ms = 400;
    Server s(options);
    std::vector<std::unique_ptr<Peer>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<Peer>(s.port()));
        ASSERT_TRUE(idle.back()->wait_for("< hi >"));
    }
    Peer good(s.port());
    ASSERT_TRUE(good.open_raw()) << good.seen();
    EXPECT_TRUE(idle[0]->closed_by_server(1000)) << "the oldest idle connection kept its place";
    for (size_t i = 1; i < idle.size(); ++i) {
        EXPECT_TRUE(idle[i]->closed_by_server(3000));
        EXPECT_NE(idle[i]->seen().find("< error no bus opened in time >"), std::string::npos) << idle[i]->seen();
    }
    EXPECT_EQ(s.server->counts().idle_closed, 4u);
    // The client with a bus open stays, however long.
    s.bus.unit_sends(frame(0x123, 0, {1}));
    s.server->wake();
    EXPECT_TRUE(good.wait_for("< frame 123 ")) << good.seen();
    // Four clients with the bus open are the most: a fifth is refused when
    // it comes, one that came before them when it opens the bus.
    Peer early(s.port());
    ASSERT_TRUE(early.wait_for("< hi >"));
    std::vector<std::unique_ptr<Peer>> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(std::make_unique<Peer>(s.port()));
        ASSERT_TRUE(open.back()->open_raw());
    }
    Peer fifth(s.port());
    EXPECT_TRUE(fifth.wait_for("< error too many clients >")) << fifth.seen();
    early.send("< open can0 >");
    EXPECT_TRUE(early.wait_for("< error too many clients >")) << early.seen();
    EXPECT_TRUE(early.closed_by_server());
}

// A client sending as fast as its socket goes is held to what a full bus
// carries; its frames wait in its own socket, the reader keeps up and is
// not dropped, and the bus sees no more than the rate.
TEST(BusServer, AFloodingClientIsHeldToTheBusRate)
{
    Server s;
    Peer reader(s.port());
    ASSERT_TRUE(reader.open_raw());
    Peer flood(s.port());
    ASSERT_TRUE(flood.open_raw());
    ::fcntl(flood.fd(), F_SETFL, ::fcntl(flood.fd(), F_GETFL) | O_NONBLOCK);
    std::string burst;
    for (int i = 0; i < 200; ++i)
        burst += "< send 18FF0380 8 1 2 3 4 5 6 7 8 >";

    const auto start = clock_type::now();
    size_t sent_bytes = 0;
    while (clock_type::now() - start < std::chrono::milliseconds(1500)) {
        const ssize_t n = ::send(flood.fd(), burst.data(), burst.size(), MSG_NOSIGNAL);
        if (n > 0)
            sent_bytes += size_t(n);
        reader.wait_for("\n", 2);
        reader.forget();
    }
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    const uint64_t taken = s.server->counts().frames_from_clients;
    // A full bus of these frames: 250000 / 131 = 1908 a second, and 50 ms
    // of them at once.
    EXPECT_LE(double(taken), 1908.0 * seconds + 100.0) << sent_bytes << " bytes offered";
    EXPECT_GT(taken, 0u);
    EXPECT_GT(sent_bytes / 35, taken) << "the flood was not faster than the bus";
    EXPECT_EQ(s.server->counts().dropped_clients, 0u);
    s.bus.unit_sends(frame(0x0CFF0480, 1, {7}));
    s.server->wake();
    EXPECT_TRUE(reader.wait_for("< frame 0CFF0480 ")) << "the reader was not served beside the flood";
}

// Lines about clients are bounded whatever the clients do: a client that
// flips modes is said once, a storm of connections in a few lines, and what
// was not said is counted when the server stops.
TEST(BusServer, RepeatedEventsAreSaidOnceAndCounted)
{
    Server s;
    Peer flipper(s.port());
    ASSERT_TRUE(flipper.open_raw());
    std::string flips;
    for (int i = 0; i < 500; ++i)
        flips += "< bcmmode >< rawmode >";
    flipper.send(flips);
    flipper.send("< echo >");
    EXPECT_TRUE(flipper.wait_for("< echo >"));
    for (int i = 0; i < 100; ++i) {
        Peer p(s.port());
        p.wait_for("< hi >");
    }
    flipper.close();
    s.server->stop();
    std::lock_guard<std::mutex> g(s.said_lock);
    size_t raw_lines = 0;
    for (const std::string& line : s.said)
        raw_lines += line.find("raw mode") != std::string::npos;
    EXPECT_EQ(raw_lines, 1u);
    EXPECT_LE(s.said.size(), 20u);
    EXPECT_GT(s.server->counts().lines_not_said, 150u);
    ASSERT_FALSE(s.said.empty());
    EXPECT_NE(s.said.back().find("line(s) about clients not said"), std::string::npos) << s.said.back();
}

}  // namespace
}  // namespace norvane
