// One unit's bench, assembled in one place for every program that runs a
// unit (norvane-run in virtual and in real time, the window): the firmware
// runner, the simulated installation and the hub every frame of its bus
// passes, the CAN log, the taps of a bus monitor or a run's checks, the bus
// server, and one path for each input a person, a scenario or a network
// client gives the unit.
//
// What goes where:
// - The unit's own frames reach the sent taps (the CAN log among them) at
//   the unit time it sent them, through the firmware's send observer, which
//   the session alone sets.
// - Every frame on the bus passes the hub, which gives it the bus's
//   bandwidth and hands it to the bus watchers. With the installation the
//   watchers get the whole bus there, the installation hears it there, and
//   the CAN log takes the frames others put on it. Without one, the watchers
//   get the unit's frames at their send time from the send observer and what
//   others put on the bus (send(), bus-server clients) from the hub.
//
// Threads: inputs may come from any thread (the buttons go through
// host_keys' lock, the bus through the hub or the virtual bus's lock, the
// plant's setters are under the plant's lock). Taps are added before the
// firmware starts; they then run on whatever thread put the frame on the bus
// and must copy and return. step_installation runs on the unit's thread; the
// bus server's thread reaches the bus through its link.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/bus/bus_hub.h"
#include "host/core/can_log.h"
#include "host/core/firmware_runner.h"
#include "host/core/scenario.h"
#include "host/core/virtual_stepper.h"
#include "host/installation/installation.h"
#include "seam/can.h"

namespace norvane {

class BusServer;

class UnitSession {
public:
    // With a layout the installation is on port 0 of the virtual bus.
    explicit UnitSession(const installation::description* layout = nullptr);
    ~UnitSession();  // stops the unit, then the bus server, then leaves the firmware's send observer
    UnitSession(const UnitSession&) = delete;
    UnitSession& operator=(const UnitSession&) = delete;

    installation::plant* plant() { return plant_.get(); }
    const installation::plant* plant() const { return plant_.get(); }
    bus_hub& hub() { return hub_; }

    // The firmware, in one of two ways; the unit's working folder must have
    // been prepared. In virtual time it boots at once; the program drives the
    // stepper and calls step_installation before each millisecond.
    VirtualStepper& start_virtual();
    // On the firmware's two threads, paced by the wall clock: after each main
    // step the program's own after_step runs, then the installation steps
    // and the bus server's clients get the step's frames. The program calls
    // init() and start() on the runner it gets.
    FirmwareRunner& make_realtime(RunnerHooks hooks);
    VirtualStepper* stepper() { return stepper_.get(); }
    FirmwareRunner* runner() { return runner_.get(); }
    // Ends the firmware's threads (real time); the unit can be started no more.
    void stop();

    // Taps, added before the firmware starts.
    using sent_tap = std::function<void(uint8_t port, uint64_t ms, const can_frame& frame)>;
    // Every frame the unit sends, at the unit time of the main step that sends it.
    void on_unit_sent(sent_tap tap);
    // Every frame the unit takes from a port that is not on the virtual bus
    // (an adapter, a trace, SocketCAN, socketcand), at the unit time of the
    // main step that takes it: what others put on the unit's bus there,
    // which a recording keeps as 'can' lines. The virtual bus's frames are
    // not here: they have their own paths (the hub, the inputs).
    void on_outside_received(sent_tap tap);
    // Every frame on the bus: see the head of this file. Returns an id.
    int watch_bus(bus_hub::subscriber watcher);
    // Opens the CAN log (`can_log`, `pcap`; either may be empty) on the
    // session's bus. False with the reason.
    bool open_log(const std::string& can_log, const std::string& pcap, std::string& why);
    bool close_log(std::string& why) { return log_.close(why); }

    // The inputs, one path each whatever their source.
    // Button 1..5 goes down or up; a press is held until a tick saw it.
    static void set_key(int button, bool down);
    static void release_all_keys();
    static void raise_event(int32_t event);
    // A frame onto port `port` of the virtual bus, put there by `source`
    // ("scenario", "bus-server", ...), through the hub. False when the bus
    // refused it.
    bool send(uint8_t port, const can_frame& frame, const char* source);
    // What a scenario's plant action does to the installation (nothing
    // without one).
    void apply_plant(const plant_action& action);
    // A scenario's press, release, event, frame or plant action; screenshots
    // and the exit are the program's. False: a frame the bus refused.
    bool apply(const scenario_action& action);

    // On the unit's thread at unit time `now_ms`, after each step: the
    // unit's frames of port 0 go on the hub's bus; the modules hear them,
    // step and put their frames on the bus.
    void step_installation(uint32_t now_ms);
    // Installation frames the full bus refused so far.
    uint64_t installation_refused() const { return installation_refused_.load(std::memory_order_relaxed); }

    // Serves port `can_port` of the virtual bus to socketcand clients, the
    // whole bus through the hub. `say`
    // gets the server's lines about its clients. One server; false with the
    // reason.
    bool start_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                          std::function<void(const std::string&)> say, std::string& why);
    void stop_bus_server();
    // Before start_bus_server, for a unit run in unit time: the clients'
    // frames for port P go to `gate` instead of straight onto the bus, and
    // the server does not pump the hub (see hub_bus_link).
    void gate_outside_frames(std::function<bool(uint8_t port, const can_frame& frame)> gate)
    {
        outside_gate_ = std::move(gate);
    }
    BusServer* bus_server() { return server_.get(); }
    // Port `port` is mapped to the virtual bus, whose load the hub counts.
    static bool on_virtual_bus(uint8_t port);

private:
    static void unit_sent(uint8_t port, const can_frame& frame, void* context);
    static void unit_received(uint8_t port, const can_frame& frame, void* context);
    void attach_observer();
    void publish(const bus_event& event);

    std::unique_ptr<installation::plant> plant_;
    bus_hub hub_;
    std::atomic<uint64_t> installation_refused_{0};
    CanLog log_;
    std::vector<sent_tap> sent_taps_;
    std::vector<sent_tap> received_taps_;
    bool outside_port_[CAN_PORT_COUNT] = {};  // the port's back end is not the virtual bus
    // Without the installation: the bus watchers (under their lock; send()
    // may run on any thread).
    std::mutex watchers_lock_;
    std::vector<bus_hub::subscriber> watchers_;
    bool made_ = false;             // the firmware's runner was made
    bool observing_ = false;        // the firmware's send observer is ours
    bool receive_decided_ = false;  // the ports were looked at for the receive observer
    bool receiving_ = false;        // the firmware's receive observer is ours
    std::unique_ptr<VirtualStepper> stepper_;
    std::unique_ptr<FirmwareRunner> runner_;
    std::unique_ptr<BusServer> server_;
    std::function<bool(uint8_t, const can_frame&)> outside_gate_;
    // The server the unit's thread wakes after each step: set while one
    // serves.
    std::atomic<BusServer*> hub_server_{nullptr};
};

}  // namespace norvane
