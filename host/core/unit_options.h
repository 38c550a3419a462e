// The options both programs take, read by one parser: --can0/--can1 MAPPING,
// --workdir DIR and --bus-server [HOST:]PORT. Parsing only reads and checks; the ports are mapped
// later, by apply_can_mappings, when the program is about to start the unit.
#pragma once
#include <optional>
#include <string>

#include "seam/can.h"

namespace norvane {

struct unit_options {
    std::string workdir = ".";
    // A port without a mapping keeps the program's default.
    std::optional<std::string> can_mapping[CAN_PORT_COUNT];
    // --bus-server: the virtual bus served to socketcand clients.
    bool bus_server = false;
    std::string bus_server_host = "127.0.0.1";
    uint16_t bus_server_port = 29536;
};

// When argv[i] is one of the shared options, reads it and its value into
// `options` (i then stands on the value) and returns 1; 0 when it is not one
// of them; -1 with the message in `error` when its value is missing or not
// accepted ("--can0: CAN port 0 mapping 'x': unknown back end; ...").
int parse_unit_option(int argc, const char* const* argv, int& i, unit_options& options, std::string& error);

// The usage lines of the shared options, the option names in a column of
// `width` characters; `can_default` says what an unmapped port uses.
std::string unit_options_usage(size_t width, const std::string& can_default);

// With --bus-server: the port the server carries (bus_server_can_port, the
// ports the options leave alone using `can_default`). A port chosen that way
// is mapped to "virtual" in `options`. -1 with the message in `error`.
int bus_server_port_of(unit_options& options, const std::string& can_default, std::string& error);

// Maps each port the options name; false with "--canN MAPPING: reason".
bool apply_can_mappings(const unit_options& options, std::string& error);

}  // namespace norvane
