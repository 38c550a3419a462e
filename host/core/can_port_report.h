// What each CAN port is mapped to and what became of it, in words: the
// programs' start-up lines and the window's status bar.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "can/can_port.h"

namespace norvane {

// The mapping as a user writes it ("virtual", "trace:FILE", "kvaser").
std::string can_port_mapping_text(uint8_t port);
// "open", "not opened by the unit" or "not open: REASON".
std::string can_port_state_text(const can_port_status& status);

struct can_port_check {
    std::vector<std::string> lines;  // "CAN port N: MAPPING: STATE", one per port
    bool failed = false;             // a port in `check` could not be opened
    std::string failure;             // the first such line
};

// After app_init: opens each port marked in `check` that the unit left
// closed (the unit itself opens only port 0), then describes every port.
can_port_check check_can_ports(const bool check[CAN_PORT_COUNT]);

}  // namespace norvane
