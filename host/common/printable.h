// Outside text (a client's message, a file's bytes, a JSON key) made safe to
// quote in a message line: a control byte, DEL or a byte that is not part of
// well-formed UTF-8 becomes \xNN, so a quoted text can neither cut the line
// short (NUL), start a new one, nor drive the terminal (ESC sequences).
#pragma once
#include <string>
#include <string_view>

namespace norvane {

std::string printable(std::string_view text);

}  // namespace norvane
