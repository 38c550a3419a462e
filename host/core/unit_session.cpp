#include "host/core/unit_session.h"

#include <cstring>

#include "host/bus/bus_server.h"
#include "host/bus/hub_bus_link.h"
#include "host/core/host_keys.h"
#include "host/installation/installation_on_bus.h"
#include "seam/events.h"
#include "seam/unit.h"

namespace norvane {

UnitSession::UnitSession(const installation::description* layout)
{
    if (!layout)
        return;
    // The installation hears the unit's commands and whatever others put on
    // its bus (its own frames excepted).
    plant_ = std::make_unique<installation::plant>(*layout);
    hub_.subscribe([plant = plant_.get()](const bus_event& e) {
        if (installation::installation_hears(e))
            plant->on_frame_from_unit(e.frame);
    });
}

UnitSession::~UnitSession()
{
    stop();
    stop_bus_server();
    if (observing_)
        can_set_send_observer(nullptr, nullptr);
    if (receiving_)
        can_set_receive_observer(nullptr, nullptr);
}

void UnitSession::unit_sent(uint8_t port, const can_frame& frame, void* context)
{
    auto* session = static_cast<UnitSession*>(context);
    const uint64_t ms = hal_ms_clock();
    for (const sent_tap& tap : session->sent_taps_)
        tap(port, ms, frame);
    if (!session->plant_) {
        // The unit's frames leave without a time: the unit's time of the main
        // step that sends them, as the CAN log has it.
        can_frame stamped = frame;
        stamped.time_us = ms * 1000u;
        session->publish({port, bus_direction::from_unit, "unit", stamped});
    }
}

void UnitSession::unit_received(uint8_t port, const can_frame& frame, void* context)
{
    auto* session = static_cast<UnitSession*>(context);
    if (port >= CAN_PORT_COUNT || !session->outside_port_[port])
        return;
    const uint64_t ms = hal_ms_clock();
    for (const sent_tap& tap : session->received_taps_)
        tap(port, ms, frame);
}

void UnitSession::attach_observer()
{
    if (made_ && !receive_decided_ && !received_taps_.empty()) {
        // The ports as the host mapped them for the firmware's start; with
        // both on the virtual bus there is nothing to watch.
        receive_decided_ = true;
        for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
            outside_port_[port] = !on_virtual_bus(port);
            receiving_ = receiving_ || outside_port_[port];
        }
        if (receiving_)
            can_set_receive_observer(unit_received, this);
    }
    // Without taps or watchers nobody looks at what the unit sends; the
    // observer is set once there is one and the firmware is made.
    if (observing_ || !made_)
        return;
    bool watched = false;
    {
        std::lock_guard<std::mutex> hold(watchers_lock_);
        watched = !watchers_.empty();
    }
    if (!sent_taps_.empty() || watched) {
        can_set_send_observer(unit_sent, this);
        observing_ = true;
    }
}

void UnitSession::publish(const bus_event& event)
{
    std::lock_guard<std::mutex> hold(watchers_lock_);
    for (const bus_hub::subscriber& watcher : watchers_)
        watcher(event);
}

VirtualStepper& UnitSession::start_virtual()
{
    made_ = true;
    attach_observer();
    stepper_ = std::make_unique<VirtualStepper>();
    return *stepper_;
}

FirmwareRunner& UnitSession::make_realtime(RunnerHooks hooks)
{
    made_ = true;
    attach_observer();
    hooks.after_step = [this, program = std::move(hooks.after_step)] {
        if (program)
            program();
        step_installation(hal_ms_clock());
    };
    runner_ = std::make_unique<FirmwareRunner>(std::move(hooks));
    return *runner_;
}

void UnitSession::stop()
{
    if (runner_)
        runner_->stop();
}

void UnitSession::on_unit_sent(sent_tap tap)
{
    sent_taps_.push_back(std::move(tap));
    attach_observer();
}

void UnitSession::on_outside_received(sent_tap tap)
{
    received_taps_.push_back(std::move(tap));
    attach_observer();
}

int UnitSession::watch_bus(bus_hub::subscriber watcher)
{
    if (plant_)
        return hub_.subscribe(std::move(watcher));
    // Without the installation the unit's frames come from the send
    // observer, at their send time; what others put on the bus passes the
    // hub, with its bandwidth.
    auto shared = std::make_shared<bus_hub::subscriber>(std::move(watcher));
    const int id = hub_.subscribe([shared](const bus_event& e) {
        if (e.direction == bus_direction::to_unit)
            (*shared)(e);
    });
    {
        std::lock_guard<std::mutex> hold(watchers_lock_);
        watchers_.push_back([shared](const bus_event& e) { (*shared)(e); });
    }
    attach_observer();
    return id;
}

bool UnitSession::open_log(const std::string& can_log, const std::string& pcap, std::string& why)
{
    if (can_log.empty() && pcap.empty())
        return true;
    if ((!can_log.empty() && !log_.open(can_log, why)) || (!pcap.empty() && !log_.open_pcap(pcap, why)))
        return false;
    on_unit_sent([this](uint8_t port, uint64_t ms, const can_frame& frame) { log_.write(port, ms, frame); });
    // With the installation the log is a recording of the whole bus: what
    // others put on it, at the unit's time it reached the bus.
    if (plant_)
        hub_.subscribe([this](const bus_event& e) {
            if (e.direction == bus_direction::to_unit)
                log_.write_now(e.port, e.frame);
        });
    return true;
}

void UnitSession::set_key(int button, bool down)
{
    host_key_set(button, down);
}

void UnitSession::release_all_keys()
{
    host_keys_release_all();
}

void UnitSession::raise_event(int32_t event)
{
    hal_raise_event(event);
}

bool UnitSession::send(uint8_t port, const can_frame& frame, const char* source)
{
    return hub_.inject(port, frame, source) == 0;
}

void UnitSession::apply_plant(const plant_action& a)
{
    if (plant_)
        plant_->act(a);
}

bool UnitSession::apply(const scenario_action& action)
{
    switch (action.kind) {
    case action_kind::press:
    case action_kind::release:
        set_key(action.value, action.kind == action_kind::press);
        return true;
    case action_kind::event:
        raise_event(action.value);
        return true;
    case action_kind::can:
        return send(uint8_t(action.value), action.frame, "scenario");
    case action_kind::plant:
        apply_plant(action.plant);
        return true;
    case action_kind::screenshot:
    case action_kind::exit:
        return true;
    }
    return true;
}

void UnitSession::step_installation(uint32_t now_ms)
{
    if (plant_)
        installation_refused_.fetch_add(installation::step_installation_on_hub(*plant_, hub_, now_ms),
                                        std::memory_order_relaxed);
    // The unit's frames of the step take their share of each port's bus,
    // and frames that waited for it leave (port 0's with the installation's
    // step, which hears them).
    for (uint8_t port = plant_ ? 1 : 0; port < CAN_PORT_COUNT; ++port)
        hub_.pump(port);
    // The server's clients get the step's frames now, not at its next look.
    if (BusServer* server = hub_server_.load(std::memory_order_acquire))
        server->wake();
}

bool UnitSession::start_bus_server(const std::string& host, uint16_t port, uint8_t can_port,
                                   std::function<void(const std::string&)> say, std::string& why)
{
    if (server_) {
        why = "the bus server is already running";
        return false;
    }
    // The server's clients reach the bus through the hub, which gives their
    // frames the bus's bandwidth and hands them to the bus watchers.
    bus_link link = outside_gate_ ? hub_bus_link(hub_, can_port,
                                                 [gate = outside_gate_, can_port](const can_frame& frame) {
                                                     return gate(can_port, frame);
                                                 })
                                  : hub_bus_link(hub_, can_port);
    server_ = norvane::start_bus_server(host, port, can_port, std::move(link), std::move(say), why);
    if (!server_)
        return false;
    hub_server_.store(server_.get(), std::memory_order_release);
    return true;
}

bool UnitSession::on_virtual_bus(uint8_t port)
{
    uint32_t type = 0;
    const char* device = nullptr;
    hal_can_port_mapping(port, &type, &device);
    const char* name = can_port_type_name(type);
    return name && std::strcmp(name, "virtual") == 0;
}

void UnitSession::stop_bus_server()
{
    // The server's link points into the hub: it stops before the hub goes.
    hub_server_.store(nullptr, std::memory_order_release);
    server_.reset();
}

}  // namespace norvane
