// norvane-run's command line: the usage text and the parser.
#include "host/core/headless_run.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/core/run_common.h"
#include "host/core/scenario_verbs.h"
#include "host/core/unit_options.h"

namespace norvane {

std::string run_usage()
{
    return
    std::string("usage: norvane-run [OPTIONS]\n"
    "Runs the display unit's firmware without a window: in virtual time (as fast as\n"
    "possible, deterministic) or, with --realtime, paced by the wall clock.\n"
    "\n") +
    unit_options_usage(23, "virtual") +
    "  --duration MS          unit time to run, in milliseconds (default 10000, at most\n"
    "                         4294967295, where the unit's millisecond clock wraps)\n"
    "  --realtime             pace with the wall clock on two threads, as the window does;\n"
    "                         default: virtual time, as fast as possible, deterministic\n"
    "  --start-from DIR       the unit starts from DIR's unit state (its rootfs folder,\n"
    "                         the settings image in it) instead of the working\n"
    "                         folder's: a window's recording keeps it beside the file\n"
    "  --scenario FILE        timed actions and expectations, see below; repeatable, and a\n"
    "                         folder stands for its *.txt files: several files run one\n"
    "                         after the other, each from a fresh unit in DIR/NAME (NAME:\n"
    "                         the file's name without .txt), with one report\n"
    "  --can-log FILE         every frame the unit sends, as a candump log; with\n"
    "                         --installation every frame on the bus (the unit's, the\n"
    "                         modules', the scenario's and the bus server's clients')\n"
    "  --pcap FILE            the same frames as --can-log as a capture for Wireshark and\n"
    "                         tshark (pcapng, SocketCAN link type, one interface per\n"
    "                         port: can0, can1)\n"
    "  --installation [FILE]  the simulated installation of twelve modules on port 0 of\n"
    "                         the virtual bus: FILE describes it (JSON), without FILE\n"
    "                         this unit's own installation; in virtual time or with\n"
    "                         --realtime on the unit's clock\n"
    "  --outputs FILE         with --installation: the 64 loads at the end of the run,\n"
    "                         one line each (module, output, on or off, label)\n"
    "  --screenshot MS:FILE   the screen as the window would show it at MS; repeatable\n"
    "  --junit FILE           a JUnit XML report: one test case per scenario file, one\n"
    "                         failure per failed expectation\n"
    "  --output DIR           where a failed 'expect screen' writes NAME_err.png (the\n"
    "                         screen and the difference); default: the working folder;\n"
    "                         with several files each writes into DIR/ its unit's name\n"
    "  --update-references    write the reference picture of every 'expect screen'\n"
    "                         instead of comparing\n"
    "  --quiet                no summary lines and no progress line\n"
    "  --help                 this text\n"
    "\n" +
    scenario_usage() +
    "Each failed expectation prints FILE:LINE, the line and what was seen; then a\n"
    "summary 'N passed, M failed'.\n"
    "Screenshots: FILE.bmp is the window's Save Screen bitmap (320 x 240, 32 bits),\n"
    "FILE.png the same picture as PNG. Relative names are relative to the folder\n"
    "norvane-run was started in.\n"
    "On a terminal, a run that takes more than 2 s shows its progress on one line.\n"
    "\n"
    "Exit status: 0 the run ended and every expectation held; 1 an expectation\n"
    "failed, or a screenshot, the CAN log or the report could not be written;\n"
    "2 bad arguments, a bad scenario or a CAN port that cannot be opened (nothing\n"
    "ran). One line per CAN port on standard error says what it is mapped to and\n"
    "whether it opened.\n";
}

namespace {

// Whether the working folder is there or can be made: an existing folder,
// or a path whose nearest existing part is a folder. A run that could not
// use it would not start (nothing ran: bad input, not a failed run).
bool workdir_usable(const std::string& dir, std::string& error)
{
    std::error_code ec;
    std::filesystem::path path = dir.empty() ? "." : dir;
    std::filesystem::path part = path;
    while (!part.empty() && !std::filesystem::exists(part, ec))
        part = part.has_relative_path() && part.parent_path() != part ? part.parent_path() : std::filesystem::path();
    if (part.empty())
        part = ".";
    if (std::filesystem::is_directory(part, ec))
        return true;
    error = "--workdir '" + dir + "': " + (part == path ? std::string("not a folder")
                                                           : "'" + part.generic_string() + "' is not a folder");
    return false;
}

bool is_virtual(const std::string& mapping)
{
    return mapping == "virtual";
}

}  // namespace

int parse_run_arguments(int argc, const char* const* argv, run_options& options, std::string& error)
{
    std::vector<std::string> scenario_paths;
    std::vector<scenario_action> shots;
    unit_options shared;
    shared.workdir = options.workdir;
    for (int i = 1; i < argc; ++i) {
        const int taken = parse_unit_option(argc, argv, i, shared, error);
        if (taken < 0)
            return RUN_BAD_INPUT;
        if (taken > 0)
            continue;
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto value = [&]() -> std::string { return has_value ? argv[++i] : std::string(); };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return RUN_OK;
        }
        if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--realtime") {
            options.realtime = true;
        } else if (arg == "--update-references") {
            options.update_references = true;
        } else if (arg == "--scenario" || arg == "--can-log" || arg == "--pcap" || arg == "--junit" ||
                   arg == "--output") {
            const std::string v = value();
            if (v.empty()) {
                error = arg + " needs a " + (arg == "--output" ? "folder" : "file name");
                return RUN_BAD_INPUT;
            }
            if (arg == "--scenario")
                scenario_paths.push_back(v);
            else
                (arg == "--can-log" ? options.can_log
                 : arg == "--pcap"  ? options.pcap
                 : arg == "--junit" ? options.junit
                                    : options.output_dir) = v;
        } else if (arg == "--start-from") {
            options.start_from = value();
            if (options.start_from.empty()) {
                error = "--start-from needs a folder";
                return RUN_BAD_INPUT;
            }
            std::error_code ec;
            if (!std::filesystem::is_directory(std::filesystem::path(options.start_from) / "rootfs", ec)) {
                error = "--start-from '" + options.start_from + "': no rootfs folder in it";
                return RUN_BAD_INPUT;
            }
        } else if (arg == "--installation") {
            options.installation = true;
            // FILE is optional: the next word is it unless it is an option.
            if (has_value && argv[i + 1][0] != '-')
                options.installation_file = value();
        } else if (arg == "--outputs") {
            options.outputs_file = value();
            if (options.outputs_file.empty()) {
                error = "--outputs needs a file name";
                return RUN_BAD_INPUT;
            }
        } else if (arg == "--duration") {
            if (!parse_ms(value(), options.duration_ms)) {
                error = "--duration needs a whole number of milliseconds";
                return RUN_BAD_INPUT;
            }
            if (options.duration_ms > RUN_MAX_DURATION_MS) {
                error = "--duration " + std::to_string(options.duration_ms) + ": at most " +
                        std::to_string(RUN_MAX_DURATION_MS) +
                        " ms (about 49.7 days), where the unit's millisecond clock wraps";
                return RUN_BAD_INPUT;
            }
        } else if (arg == "--screenshot") {
            const std::string v = value();
            const size_t colon = v.find(':');
            scenario_action shot;
            shot.kind = action_kind::screenshot;
            shot.where = "--screenshot " + v;
            if (colon == std::string::npos || !parse_ms(std::string_view(v).substr(0, colon), shot.ms) ||
                colon + 1 == v.size()) {
                error = "--screenshot needs MS:FILE, for example 2500:page.png";
                return RUN_BAD_INPUT;
            }
            shot.file = v.substr(colon + 1);
            if (!screenshot_format_known(shot.file)) {
                error = "--screenshot " + v + ": the file must end in .bmp or .png";
                return RUN_BAD_INPUT;
            }
            shots.push_back(shot);
        } else {
            error = "unknown option '" + arg + "'";
            return RUN_BAD_INPUT;
        }
    }

    if (shared.bus_server) {
        if (!options.realtime) {
            error = "--bus-server serves the bus to other programs in real time; add --realtime";
            return RUN_BAD_INPUT;
        }
        options.bus_server_can_port = bus_server_port_of(shared, "virtual", error);
        if (options.bus_server_can_port < 0)
            return RUN_BAD_INPUT;
        options.bus_server_host = shared.bus_server_host;
        options.bus_server_port = shared.bus_server_port;
    }
    if (options.installation) {
        options.installation_layout = installation::default_description();
        if (!options.installation_file.empty() &&
            !installation::load_description(options.installation_file, &options.installation_layout, &error))
            return RUN_BAD_INPUT;
    } else if (!options.outputs_file.empty()) {
        error = "--outputs lists the installation's loads; add --installation";
        return RUN_BAD_INPUT;
    }
    options.workdir = shared.workdir;
    if (!workdir_usable(options.workdir, error))
        return RUN_BAD_INPUT;
    for (uint8_t port = 0; port < CAN_PORT_COUNT; ++port)
        if (shared.can_mapping[port])
            options.can_mapping[port] = *shared.can_mapping[port];
    if (options.installation && !is_virtual(options.can_mapping[0])) {
        error = "--installation is on port 0 of the virtual bus, and --can0 maps port 0 to '" +
                options.can_mapping[0] + "'";
        return RUN_BAD_INPUT;
    }

    for (const scenario_action& shot : shots)
        if (shot.ms > options.duration_ms) {
            error = shot.where + ": " + std::to_string(shot.ms) + " ms is after the end of the run (" +
                    std::to_string(options.duration_ms) + " ms)";
            return RUN_BAD_INPUT;
        }

    options.actions.clear();
    options.expectations.clear();
    if (!load_scenario_files(scenario_paths, options.scenarios, error))
        return RUN_BAD_INPUT;
    if (options.scenarios.size() > 1 &&
        (!shots.empty() || !options.can_log.empty() || !options.pcap.empty() || !options.outputs_file.empty())) {
        error = std::string(!shots.empty()             ? "--screenshot"
                            : !options.can_log.empty() ? "--can-log"
                            : !options.pcap.empty()    ? "--pcap"
                                                       : "--outputs") +
                " takes one scenario file: each of several would write the same file";
        return RUN_BAD_INPUT;
    }
    for (const scenario_file& scenario : options.scenarios) {
        for (const scenario_action& action : scenario.actions)
            if (action.kind == action_kind::plant && !options.installation) {
                error = action.where + ": this action drives the installation; add --installation";
                return RUN_BAD_INPUT;
            }
        for (const expectation& check : scenario.expectations)
            if (check.kind == expect_kind::output && !options.installation) {
                error = check.where + ": 'expect output' reads the installation's outputs; add --installation";
                return RUN_BAD_INPUT;
            }
        for (const scenario_action& action : scenario.actions)
            if (action.kind == action_kind::can && !is_virtual(options.can_mapping[action.value])) {
                error = action.where + ": CAN port " + std::to_string(action.value) + " is mapped to '" +
                        options.can_mapping[action.value] +
                        "'; scenario frames arrive only on a port mapped to 'virtual'";
                return RUN_BAD_INPUT;
            }
        if (!scenario.expectations.empty() && options.realtime) {
            error = scenario.expectations.front().where +
                    ": expectations are checked in virtual time; leave out --realtime";
            return RUN_BAD_INPUT;
        }
        uint64_t end_ms = options.duration_ms;
        for (const scenario_action& action : scenario.actions)
            if (action.kind == action_kind::exit)
                end_ms = std::min(end_ms, action.ms);
        // An action after the end would never happen: refused as an
        // expectation there is.
        for (const scenario_action& action : scenario.actions)
            if (action.ms > end_ms) {
                error = action.where + ": the action at " + std::to_string(action.ms) +
                        " ms is after the end of the run (" + std::to_string(end_ms) + " ms)";
                return RUN_BAD_INPUT;
            }
        for (const expectation& check : scenario.expectations) {
            const std::string why = expectation_after_end(check, end_ms);
            if (!why.empty()) {
                error = check.where + ": " + why;
                return RUN_BAD_INPUT;
            }
        }
    }
    if (options.scenarios.size() == 1) {
        options.actions = options.scenarios.front().actions;
        options.expectations = options.scenarios.front().expectations;
    }
    // The scenario is in order of time; the --screenshot requests join it.
    options.actions.insert(options.actions.end(), shots.begin(), shots.end());
    std::stable_sort(options.actions.begin(), options.actions.end(),
                     [](const scenario_action& a, const scenario_action& b) { return a.ms < b.ms; });
    return RUN_OK;
}

}  // namespace norvane
