// Whether a window can open here before Qt is asked to open one: Qt ends the
// program when it finds no display, and a person who started the window
// from a desktop would see nothing at all.
#pragma once
#include <string>

namespace norvane {

// A reason why no window can open here, or empty. Qt's platforms that need
// no display (offscreen, vnc) are never refused.
std::string no_display_reason();

// Whether a start-up failure can be shown in a dialog too: a display is
// there that a person looks at (not offscreen or vnc).
bool dialog_can_be_seen();

}  // namespace norvane
