#include "host/qt/console_output.h"

namespace norvane {

void use_callers_console()
{
}

}  // namespace norvane
