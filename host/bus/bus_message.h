// One message of the unit's bus as named signals: the identifier, who sends
// and who receives it, and the bits, scale and unit of each signal. The
// simulated modules' kinds give the rows of their frames in these terms
// (host/installation/module_kind.h); the decoder, the DBC file and the
// scenarios' `expect signal` read the table they make (host/core/bus_signals.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvane {

// How a signal's value reads as text besides its number.
enum class bus_value_names : uint8_t {
    none,    // the number only
    off_on,  // 0 "off", anything else "on" (a switch's state, an output's command)
};

// One signal: `length` bits from `start_bit` in the little-endian (Intel)
// bit order (bit 0 is bit 0 of data byte 0), unsigned; value = raw x factor
// + offset, held within [minimum, maximum] as the unit holds it.
struct bus_signal {
    std::string name;   // "out3_command", "ch4_state", "ch1_mv"; unique within its module
    std::string label;  // the description's name of the channel or output; may be empty
    uint8_t start_bit = 0;
    uint8_t length = 0;
    double factor = 1.0;
    double offset = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
    std::string unit;  // "mV", "%", "" for plain numbers and states
    bus_value_names names = bus_value_names::none;
};

// One identifier on the bus and what it carries.
struct bus_message {
    uint32_t id = 0;    // 29 bits when ext, else 11
    bool ext = true;
    std::string name;    // unique on the bus: "PWRB1_COMMAND", "SENB1_CH4", "UNIT_TEST_STATUS"
    std::string kind;    // "MSG_OUTPUT_COMMAND", ... or "TEST_STATUS", "TEST_MESSAGE"
    std::string module;  // the description's module name the message belongs to; "UNIT" for the test frames
    std::string sender;  // node names: "UNIT" for the display unit
    std::string receiver;
    uint8_t length = 8;  // the data length the receiver accepts
    std::vector<bus_signal> fields;
};

// A signal of `length` bits from `start`, unscaled, its maximum all ones.
bus_signal bus_field(std::string name, std::string label, uint8_t start, uint8_t length,
                     bus_value_names names = bus_value_names::none);
// A message without its signals.
bus_message bus_message_row(uint32_t id, bool ext, std::string name, std::string kind, std::string module,
                            std::string sender, std::string receiver, uint8_t length = 8);

}  // namespace norvane
