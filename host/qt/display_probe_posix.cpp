// On Linux a window needs an X server or a Wayland compositor: the probe
// looks for the variables and knocks on a local X server's socket.
#include "host/qt/display_probe.h"

#include <cstddef>
#include <cstdlib>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace norvane {
namespace {

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

}  // namespace

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

// A real display (X11 or Wayland) is there, so a person who started the
// window from a desktop, with no terminal to read, sees why nothing opened.
bool dialog_can_be_seen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::string_view(platform).rfind("xcb", 0) != 0 &&
        std::string_view(platform).rfind("wayland", 0) != 0)
        return false;  // offscreen, vnc, ...: nobody would see it
    return no_display_reason().empty();
}

}  // namespace norvane
