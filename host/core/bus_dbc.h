// The DBC file of the unit's bus, written from the same message table the
// decoder reads, so SavvyCAN, cantools, Wireshark and other CAN tools decode
// our logs as the simulator does. No Qt.
#pragma once
#include <string>
#include <vector>

#include "host/core/bus_signals.h"

namespace norvane {

// The DBC text of the messages: nodes, messages, signals, the labels as
// comments, the on/off value tables. Extended identifiers carry bit 31.
std::string bus_dbc_text(const std::vector<bus_message>& messages);

// The number as its shortest text that reads back to the same double.
std::string bus_dbc_number(double value);

}  // namespace norvane
