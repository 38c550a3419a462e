// The options both programs take, read by one parser: --can0/--can1 MAPPING
// and --workdir DIR. Parsing only reads and checks; the ports are mapped
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
};

// When argv[i] is one of the shared options, reads it and its value into
// `options` (i then stands on the value) and returns 1; 0 when it is not one
// of them; -1 with the message in `error` when its value is missing or not
// accepted ("--can0: CAN port 0 mapping 'x': unknown back end; ...").
int parse_unit_option(int argc, const char* const* argv, int& i, unit_options& options, std::string& error);

// The usage lines of the shared options, the option names in a column of
// `width` characters; `can_default` says what an unmapped port uses.
std::string unit_options_usage(size_t width, const std::string& can_default);

// Maps each port the options name; false with "--canN MAPPING: reason".
bool apply_can_mappings(const unit_options& options, std::string& error);

}  // namespace norvane
