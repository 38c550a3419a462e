#include "host/core/unit_options.h"

#include "host/bus/bus_server.h"
#include "host/core/can_port_report.h"

namespace norvane {

int parse_unit_option(int argc, const char* const* argv, int& i, unit_options& options, std::string& error)
{
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc && *argv[i + 1];
    if (arg == "--workdir") {
        if (!has_value) {
            error = "--workdir needs a folder";
            return -1;
        }
        options.workdir = argv[++i];
        return 1;
    }
    if (arg == "--can0" || arg == "--can1") {
        const uint8_t port = arg == "--can0" ? 0 : 1;
        if (!has_value) {
            error = arg + ": needs a mapping, for example virtual";
            return -1;
        }
        const std::string mapping = argv[++i];
        char why[512] = {};
        if (!hal_can_check_mapping(port, mapping.c_str(), why, sizeof why)) {
            error = arg + ": " + why;
            return -1;
        }
        options.can_mapping[port] = mapping;
        return 1;
    }
    if (arg == "--bus-server") {
        std::string why;
        if (!parse_bus_server_address(i + 1 < argc ? argv[++i] : "", options.bus_server_host,
                                      options.bus_server_port, why)) {
            error = "--bus-server " + why;
            return -1;
        }
        options.bus_server = true;
        return 1;
    }
    return 0;
}

int bus_server_port_of(unit_options& options, const std::string& can_default, std::string& error)
{
    std::string mapping[CAN_PORT_COUNT];
    bool mapped[CAN_PORT_COUNT];
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        mapping[port] = options.can_mapping[port].value_or(can_default);
        mapped[port] = options.can_mapping[port].has_value();
    }
    const int port = bus_server_can_port(mapping, mapped, error);
    if (port >= 0 && mapping[port] != "virtual")
        options.can_mapping[port] = "virtual";
    return port;
}

std::string unit_options_usage(size_t width, const std::string& can_default)
{
    auto option = [width](std::string name) {
        name.resize(width, ' ');
        return "  " + name;
    };
    const std::string indent(width + 2, ' ');
    return option("--workdir DIR") + "working folder of the unit (rootfs/, eeprom.dat); created if\n" + indent +
           "missing; default: the current folder\n" + option("--can0 MAPPING") + "back end of CAN port 0 (default: " +
           can_default + ")\n" + option("--can1 MAPPING") + "back end of CAN port 1 (default: " + can_default +
           ")\n" + indent + "MAPPING is one of:\n" + can_mapping_help(indent + "  ") +
           "  --bus-server [HOST:]PORT\n" + indent + "serve the virtual bus to socketcand clients such as python-can (raw\n" + indent +
           "mode): port 0 (bus can0), mapped to virtual unless --can0 maps it, else\n" + indent +
           "the port mapped to virtual; HOST defaults to 127.0.0.1, socketcand's\n" + indent +
           "port is 29536, 0 lets the system choose; norvane-run takes it with\n" + indent +
           "--realtime only. With --installation the clients get the whole bus (the\n" + indent +
           "unit's frames and the modules') and their frames reach both\n";
}

bool apply_can_mappings(const unit_options& options, std::string& error)
{
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port) {
        if (!options.can_mapping[port])
            continue;
        char why[512] = {};
        if (!hal_can_map_port(port, options.can_mapping[port]->c_str(), why, sizeof why)) {
            error = "--can" + std::to_string(port) + " " + *options.can_mapping[port] + ": " + why;
            return false;
        }
    }
    return true;
}

}  // namespace norvane
