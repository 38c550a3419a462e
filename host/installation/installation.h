// The simulated installation: the modules on the other end of the unit's
// CAN bus (SENB1-SENB3 wall switches, SENB4 tank senders, PWRB1-PWRB8 power
// outputs; their kinds in module_kind.h). A plant model in the unit's
// virtual time, no Qt: the host steps it on the unit's clock, hands it the
// frames the unit sent and puts the frames it produces on the bus. The unit
// cannot tell it from a boat.
//
// Threads: the unit's thread calls step / on_frame_from_unit / take_frame;
// a window may call the setters and read a snapshot from its own thread.
// Everything the two share is under one short lock (state_lock_), but for
// the flag that says a setter touched the plant, an atomic the unit's thread
// looks at first, so a step with nothing due takes no lock.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "seam/can.h"
#include "host/installation/plant_action.h"

namespace norvane {
struct bus_message;
}

namespace installation {

constexpr int SWITCH_MODULES = 3;      // SENB1..SENB3
constexpr int ANALOG_MODULE = 3;       // SENB4, index into the input modules
constexpr int INPUT_MODULES = 4;       // SENB1..SENB4
constexpr int INPUT_CHANNELS = 10;
constexpr int POWER_MODULES = 8;       // PWRB1..PWRB8
constexpr int POWER_OUTPUTS = 8;
constexpr int TANK_COUNT = 4;          // tank page order: fuel 1, fuel 2, water 1, water 2

// Module index m: 0..3 are SENB1..SENB4, 4..11 are PWRB1..PWRB8, then the
// modules of any later kind.
constexpr int power_module_index(int pwrb) { return INPUT_MODULES + pwrb; }
// How many modules the bus has, every kind's.
int module_count();

enum class channel_kind : uint8_t {
    rocker,  // stays on or off (read by a change detector)
    push,    // on while pressed (read by a press detector)
    analog,  // SENB4: millivolts
};

// A sender's curve: the channel's volts at an empty and at a full tank,
// straight between. A percent above 100 extends the line (a fuel tank reads
// up to 125 %), clamped to max_mv.
struct sender_curve {
    uint16_t empty_mv = 0;
    uint16_t full_mv = 0;
    uint16_t max_mv = 0;
};

// The highest level in percent the sender can show: 125 for a fuel sender
// that goes on to 6.25 V, 100 for one whose maximum is its full mark.
double sender_top_percent(const sender_curve& c);

// A power module's status and codes messages carry outputs 1 to 7 only: a
// fault of output 8 could never reach the bus.
constexpr int REPORTED_OUTPUTS = 7;

struct channel_description {
    std::string label;
    channel_kind kind = channel_kind::rocker;
    int tank = -1;  // SENB4: 0..3 when the channel is a tank sender, else -1
    sender_curve curve;
};

struct description {
    std::vector<std::string> module_names = std::vector<std::string>(size_t(module_count()));  // "SENB1" ..
    channel_description channels[INPUT_MODULES][INPUT_CHANNELS];  // SENB1-4's
    std::string output_labels[POWER_MODULES][POWER_OUTPUTS];      // PWRB1-8's
    // The channels of the modules of a kind without a member above, by
    // module index (empty for SENB and PWRB modules).
    std::vector<std::vector<channel_description>> other_channels =
        std::vector<std::vector<channel_description>>(size_t(module_count()));
};

// The installation of this unit's circuit table.
description default_description();
// Reads a description file (JSON). On failure returns false with one line
// in `error`: "FILE: PLACE: reason" (PLACE a line:column or a JSON path).
bool load_description(const std::string& path, description* out, std::string* error);
// The same from text; `name` stands for the file in the error line.
bool parse_description(const std::string& text, const std::string& name, description* out, std::string* error);
// The description as the JSON text a file holds (the shipped default file
// is this of default_description()).
std::string description_json(const description& d);
// Every module's frames as named signals, in bus order (the modules' kinds
// in host/installation/module_kind.h give them).
void add_module_messages(const description& d, std::vector<norvane::bus_message>& out);

// What a UI reads, copied under the lock at screen rate.
struct output_view {
    uint8_t command = 0;  // 0 off, 1 on: the latest command the module applied
    uint8_t state = 0;    // 0..3 reported in MSG_OUTPUT_STATUS (fault injection; 0 healthy)
    uint8_t code = 0;     // 0..15 reported in MSG_OUTPUT_CODES (0 healthy)
    bool lit() const { return command != 0; }
};
struct snapshot {
    std::vector<bool> module_on = std::vector<bool>(size_t(module_count()), true);  // talking
    bool obeying[POWER_MODULES] = {};
    uint8_t switch_on[SWITCH_MODULES][INPUT_CHANNELS] = {};
    uint16_t analog_mv[INPUT_CHANNELS] = {};
    double tank_percent[TANK_COUNT] = {};
    output_view outputs[POWER_MODULES][POWER_OUTPUTS];
    // What the modules of a kind without a field above show, by module index
    // (empty for SENB and PWRB modules).
    std::vector<std::vector<double>> other_values = std::vector<std::vector<double>>(size_t(module_count()));
    uint64_t frames_sent = 0;      // frames the installation put on the bus
    uint64_t commands_taken = 0;   // MSG_OUTPUT_COMMAND frames it received
};

class module_state;

class plant {
public:
    explicit plant(description d = default_description());
    ~plant();

    const description& layout() const { return description_; }

    // Unit side (one thread). step advances the modules to the unit's clock
    // and queues the frames that fall due, returning how many it queued;
    // take_frame hands them out, oldest first (0 when none).
    int step(uint32_t now_ms);
    void on_frame_from_unit(const can_frame& frame);
    int take_frame(can_frame* out);

    // Setters (any thread). An action of a kind's verb on the module it
    // names; one out of range, or of a verb the module's kind does not know,
    // changes nothing.
    void act(const plant_action& action);
    // The same for the SENB and PWRB verbs, as calls (defined beside their
    // kinds). Module/channel/output numbers are 0-based here; the scenario
    // and UI texts are 1-based.
    void set_switch(int senb, int channel, bool on);
    // Presses a push button now, released after held_ms of unit time.
    void push(int senb, int channel, uint32_t held_ms);
    void set_tank_percent(int tank, double percent);
    void set_volts(int channel, double volts);  // SENB4 channel
    void set_fault(int pwrb, int output, uint8_t state, uint8_t code);
    void set_module_on(int module, bool on);    // off: the module falls silent
    void set_obeying(int pwrb, bool obeys);     // false: ignores commands
    // A module index by name ("SENB1", "PWRB3"), -1 when unknown.
    int module_by_name(const std::string& name) const;

    snapshot read() const;

private:
    description description_;
    mutable std::mutex state_lock_;
    snapshot state_;
    // Every module's live state and the unit ms from which it has something
    // to do, by module index.
    std::vector<std::unique_ptr<module_state>> modules_;
    std::vector<uint32_t> module_due_ms_;
    bool started_ = false;
    std::deque<can_frame> out_;
    // step does nothing before next_due_ms_ unless a setter touched the
    // plant (dirty_): most unit milliseconds have no frame due. A module is
    // looked at only from its own module_due_ms_ on.
    uint32_t next_due_ms_ = 0;
    std::atomic<bool> dirty_{true};
};

}  // namespace installation
