// norvane-sim: the display unit's front in a window, the firmware running on
// its real-time threads.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "host/core/unit_workdir.h"
#include "host/qt/signal_quit.h"
#include "host/qt/simulator_app.h"
#include "runtime/hal.h"

namespace {

const char* const USAGE =
    "usage: norvane-sim [OPTIONS]\n"
    "Shows the display unit's front in a window and runs its firmware in real time.\n"
    "\n"
    "  --can0 MAPPING   back end of CAN port 0: kvaser[:CHANNEL], cando[:SERIAL],\n"
    "                   trace:FILE, socketcan:IFACE or virtual (default: the unit's own)\n"
    "  --can1 MAPPING   the same for CAN port 1\n"
    "  --workdir DIR    working folder of the unit (rootfs/, eeprom.dat); created if\n"
    "                   missing; default: the current folder\n"
    "  --help           this text\n"
    "\n"
    "F1 to F5 press the five buttons, Escape closes the window; SIGINT, SIGTERM and\n"
    "SIGHUP close it the same way (settings saved). One line per CAN port on\n"
    "standard error says what it is mapped to and whether it opened; the status\n"
    "bar shows it too. Without a display, use norvane-run.\n";

int bad_argument(const std::string& message)
{
    std::fprintf(stderr, "norvane-sim: %s\n%s", message.c_str(), USAGE);
    return 2;
}

// Whether an X server answers on a local DISPLAY (":N" or "unix:N"). Remote
// displays are left to Qt.
bool local_x_display_answers(const std::string& display)
{
    std::string rest;
    if (display.rfind(':', 0) == 0)
        rest = display.substr(1);
    else if (display.rfind("unix:", 0) == 0)
        rest = display.substr(5);
    else
        return true;
    const std::string number = rest.substr(0, rest.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return true;
    const std::string path = "/tmp/.X11-unix/X" + number;
    for (const bool abstract : {true, false}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return true;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const size_t offset = abstract ? 1 : 0;
        path.copy(addr.sun_path + offset, sizeof addr.sun_path - 1 - offset);
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size());
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0;
        ::close(fd);
        if (ok)
            return true;
    }
    return false;
}

// A reason why no window can open here, or empty.
std::string no_display_reason()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::string_view(platform).rfind("xcb", 0) != 0 &&
        std::string_view(platform).rfind("wayland", 0) != 0)
        return {};  // offscreen, vnc, ...: Qt needs no display
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    if (wayland && *wayland)
        return {};
    if (!x11 || !*x11)
        return "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    if (!local_x_display_answers(x11))
        return std::string("no X server answers on DISPLAY ") + x11;
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    std::string workdir = ".";
    const char* can_mapping[2] = {nullptr, nullptr};
    bool can_mapped[2] = {false, false};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--can0" || arg == "--can1") {
            if (i + 1 >= argc)
                return bad_argument(std::string(arg) + " needs a mapping, for example virtual");
            can_mapping[arg == "--can0" ? 0 : 1] = argv[++i];
        } else if (arg == "--workdir") {
            if (i + 1 >= argc || !*argv[i + 1])
                return bad_argument("--workdir needs a folder");
            workdir = argv[++i];
        } else {
            return bad_argument("unknown option '" + std::string(arg) + "'");
        }
    }
    for (uint8_t port = 0; port < 2; ++port) {
        if (!can_mapping[port])
            continue;
        char why[256] = {};
        if (!hal_can_map_port(port, can_mapping[port], why, sizeof why)) {
            std::fprintf(stderr, "norvane-sim: --can%u %s: %s\n", unsigned(port), can_mapping[port], why);
            return 2;
        }
        can_mapped[port] = true;
    }

    const std::string no_display = no_display_reason();
    if (!no_display.empty()) {
        std::fprintf(stderr, "norvane-sim: %s; to run the unit without a window use norvane-run\n",
                     no_display.c_str());
        return 1;
    }

    std::string why;
    if (!norvane::prepare_unit_workdir(workdir, why)) {
        std::fprintf(stderr, "norvane-sim: cannot use working folder '%s': %s\n", workdir.c_str(), why.c_str());
        return 1;
    }

    QApplication qt(argc, argv);
    QApplication::setOrganizationName("Norvane");
    QApplication::setApplicationName("Simulator");
    std::unique_ptr<norvane::SimulatorApp> app;
    try {
        app = std::make_unique<norvane::SimulatorApp>(nullptr, can_mapped);
    } catch (const std::exception& e) {
        QMessageBox box(QMessageBox::Warning, "Main initialization", "Error");
        box.setInformativeText(e.what());
        box.exec();
        return -1;
    }
    // The unit runs on without a port that did not open, as it does; the
    // lines and the status bar say why.
    for (const std::string& line : app->can_port_lines())
        std::fprintf(stderr, "norvane-sim: %s\n", line.c_str());
    // Ctrl+C, kill and a closed terminal close the window as Exit does.
    norvane::SignalQuit quit_on_signal([&app](int) { app->close(); });
    app->show();
    const int status = QApplication::exec();
    app.reset();
    return status;
}
