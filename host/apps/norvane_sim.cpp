// norvane-sim: the display unit's front in a window, the firmware running on
// its real-time threads.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "host/common/printable.h"
#include "host/core/unit_options.h"
#include "host/core/unit_workdir.h"
#include "host/qt/console_output.h"
#include "host/qt/display_probe.h"
#include "host/qt/signal_quit.h"
#include "host/installation/installation.h"
#include "host/qt/simulator_app.h"
#include "seam/unit.h"

namespace {

std::string usage()
{
    return
    std::string("usage: norvane-sim [OPTIONS]\n"
    "Shows the display unit's front in a window and runs its firmware in real time.\n"
    "\n") +
    norvane::unit_options_usage(17, "the unit's own, kvaser") +
    "  --installation [FILE]\n"
    "                   the simulated installation (the default one without FILE,\n"
    "                   a JSON description otherwise) on CAN port 0 over the\n"
    "                   virtual bus, with its panel and the bus monitor beside\n"
    "                   the unit\n"
    "  --help           this text\n"
    "\n"
    "F1 to F5 press the five buttons; Escape on the unit's view closes the window\n"
    "(asking first while an installation runs); SIGINT, SIGTERM and SIGHUP close\n"
    "it too (settings saved). One line per CAN port on standard error says what\n"
    "it is mapped to and whether it opened; the status bar shows it too. A\n"
    "start-up failure is said on standard error and in a dialog (status 2).\n"
    "Without a display, use norvane-run.\n";
}

// A start-up failure: one line on standard error and, with a display, the
// same reason in a dialog; the status is 2 (nothing ran).
int start_failed(int& argc, char** argv, const std::string& message)
{
    std::fprintf(stderr, "norvane-sim: %s\n", norvane::printable(message).c_str());
    if (norvane::dialog_can_be_seen()) {
        std::unique_ptr<QApplication> own;
        if (!QCoreApplication::instance())
            own = std::make_unique<QApplication>(argc, argv);
        QMessageBox box(QMessageBox::Critical, "PC Simulator: cannot start",
                        QString::fromStdString(norvane::printable(message)));
        box.exec();
    }
    return 2;
}

int bad_argument(const std::string& message)
{
    std::fprintf(stderr, "norvane-sim: %s\n%s", norvane::printable(message).c_str(), usage().c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    norvane::use_callers_console();
    norvane::unit_options options;
    bool with_installation = false;
    std::string installation_file;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage().c_str(), stdout);
            return 0;
        }
        if (arg == "--installation") {
            with_installation = true;
            if (i + 1 < argc && argv[i + 1][0] != '-')
                installation_file = argv[++i];
            continue;
        }
        std::string error;
        const int taken = norvane::parse_unit_option(argc, argv, i, options, error);
        if (taken < 0) {
            std::fprintf(stderr, "norvane-sim: %s\n", norvane::printable(error).c_str());
            return 2;
        }
        if (taken == 0)
            return bad_argument("unknown option '" + std::string(arg) + "'");
    }

    // The installation sits on port 0 of the virtual bus.
    installation::description layout = installation::default_description();
    if (with_installation) {
        std::string error;
        if (!installation_file.empty() && !installation::load_description(installation_file, &layout, &error))
            return start_failed(argc, argv, error);
        if (!options.can_mapping[0])
            options.can_mapping[0] = "virtual";
        else if (*options.can_mapping[0] != "virtual")
            return bad_argument("--installation needs CAN port 0 on the virtual bus, not '" + *options.can_mapping[0] + "'");
    }

    const std::string no_display = norvane::no_display_reason();
    if (!no_display.empty()) {
        std::fprintf(stderr, "norvane-sim: %s; to run the unit without a window use norvane-run\n",
                     no_display.c_str());
        return 1;
    }

    std::string why;
    if (!norvane::prepare_unit_workdir(options.workdir, why))
        return start_failed(argc, argv, "cannot use working folder '" + options.workdir + "': " + why);
    // The bus server carries a port on the virtual bus: port 0 when the user
    // leaves it to the unit's default.
    int server_port = -1;
    if (options.bus_server) {
        server_port = norvane::bus_server_port_of(options, "kvaser", why);
        if (server_port < 0)
            return bad_argument(why);
    }
    // The ports are mapped now that the window is about to start the unit.
    if (!norvane::apply_can_mappings(options, why))
        return start_failed(argc, argv, why);
    const bool can_mapped[CAN_PORT_COUNT] = {options.can_mapping[0].has_value(), options.can_mapping[1].has_value()};

    QApplication qt(argc, argv);
    QApplication::setOrganizationName("Norvane");
    QApplication::setApplicationName("Simulator");
    std::unique_ptr<norvane::SimulatorApp> app;
    try {
        app = std::make_unique<norvane::SimulatorApp>(nullptr, can_mapped, with_installation ? &layout : nullptr);
    } catch (const std::exception& e) {
        QMessageBox box(QMessageBox::Warning, "Main initialization", "Error");
        box.setInformativeText(e.what());
        box.exec();
        return -1;
    }
    // The unit runs on without a port that did not open, as it does; the
    // lines and the status bar say why.
    for (const std::string& line : app->can_port_lines())
        std::fprintf(stderr, "norvane-sim: %s\n", norvane::printable(line).c_str());
    // With the installation the server carries the whole bus: the unit's
    // frames and the modules'.
    if (server_port >= 0 &&
        !app->start_bus_server(
            options.bus_server_host, options.bus_server_port, uint8_t(server_port),
            [](const std::string& line) { std::fprintf(stderr, "norvane-sim: %s\n", norvane::printable(line).c_str()); }, why)) {
        app.reset();
        return start_failed(argc, argv, why);
    }
    // Ctrl+C, kill and a closed terminal close the window as Exit does.
    norvane::SignalQuit quit_on_signal([&app](int) { app->close(); });
    app->show();
    const int status = QApplication::exec();
    app.reset();
    return status;
}
