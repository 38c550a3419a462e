// norvane-dbc: writes the DBC file of the unit's bus from the decoder's
// message table (assets/can/norvane_bus.dbc is its output for the default
// installation).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/core/bus_dbc.h"

namespace {

const char USAGE[] =
    "usage: norvane-dbc [--installation FILE] [--output FILE]\n"
    "Writes the DBC file of the unit's CAN bus: every message with its signals,\n"
    "named by the installation's description (the default installation without\n"
    "--installation), to FILE or to standard output.\n";

}  // namespace

int main(int argc, char** argv)
{
    std::string description_file, output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if ((arg == "--installation" || arg == "--output") && i + 1 < argc) {
            (arg == "--output" ? output : description_file) = argv[++i];
            continue;
        }
        std::fprintf(stderr, "norvane-dbc: %s: %s\n%s", arg.c_str(),
                     arg == "--installation" || arg == "--output" ? "needs a file name" : "unknown option", USAGE);
        return 2;
    }
    installation::description d = installation::default_description();
    std::string why;
    if (!description_file.empty() && !installation::load_description(description_file, &d, &why)) {
        std::fprintf(stderr, "norvane-dbc: %s\n", why.c_str());
        return 2;
    }
    const std::string text = norvane::bus_dbc_text(norvane::bus_message_table(d));
    std::FILE* f = output.empty() ? stdout : std::fopen(output.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "norvane-dbc: cannot write '%s': %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if ((f != stdout ? std::fclose(f) : std::fflush(f)) != 0 || !ok) {
        std::fprintf(stderr, "norvane-dbc: writing '%s' failed\n", output.empty() ? "standard output" : output.c_str());
        return 1;
    }
    return 0;
}
