// On Windows the desktop is always there for a program a person starts.
#include "host/qt/display_probe.h"

#include <cstdlib>
#include <string_view>

namespace norvane {

std::string no_display_reason()
{
    return {};
}

bool dialog_can_be_seen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return !platform || !*platform || std::string_view(platform).rfind("windows", 0) == 0;
}

}  // namespace norvane
