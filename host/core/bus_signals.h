// The messages of the unit's bus as named signals: one table of every
// identifier on the bus (the input modules' channel frames, the power
// modules' status, codes and command frames, the unit's 0x421 and 0x422 test
// frames) with the bits, scale and unit of each signal. The decoder, the DBC
// file of the bus and the scenarios' `expect signal` all read this table, so
// they cannot disagree. Names of modules, channels and outputs come from the
// installation's description. No Qt.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "seam/can.h"
#include "host/bus/bus_message.h"
#include "host/installation/installation.h"

namespace norvane {

// Every message on the bus, in identifier order within each family.
std::vector<bus_message> bus_message_table(const installation::description& d);

// One decoded signal of one frame.
struct bus_signal_value {
    const bus_signal* signal = nullptr;
    double value = 0.0;
    std::string text;  // "on", "off", or the number with its unit: "3712 mV", "50.52 %"
};

struct bus_decoded {
    const bus_message* message = nullptr;  // null: an identifier no one on this bus uses
    std::vector<bus_signal_value> values;  // signals that fit in the frame's data
    std::string note;                      // "length 7, the receiver wants 8", "unknown identifier"
};

// The number as the decoder prints it: integers without decimals, others
// with two.
std::string bus_format_value(const bus_signal& s, double value);

// Decodes frames by the table of one installation.
class BusDecoder {
public:
    explicit BusDecoder(const installation::description& d = installation::default_description());

    const std::vector<bus_message>& messages() const { return messages_; }
    const bus_message* find(uint32_t id, bool ext) const;
    bus_decoded decode(const can_frame& frame) const;
    // A module's signal by name, with its message; null when there is none.
    const bus_signal* find_signal(const std::string& module, const std::string& signal,
                                  const bus_message** message = nullptr) const;

    // One line: "PWRB1_COMMAND out1_command=on out2_command=off ...".
    std::string describe(const can_frame& frame) const;

private:
    std::vector<bus_message> messages_;
    std::unordered_map<uint64_t, size_t> by_id_;
};

// The raw bits of a signal from a frame's data (the caller checks the length).
uint64_t bus_signal_raw(const bus_signal& s, const uint8_t* data);
// The value of a signal from its raw bits, held within its range.
double bus_signal_value_of(const bus_signal& s, uint64_t raw);

}  // namespace norvane
