// The termios settings of the serial link on Linux.
#pragma once
#include <termios.h>

#include "seam/uart.h"

namespace norvane {

// Raw transfer with the firmware's baud index, data bits, parity and stop
// bits; no flow control, no character translation, reads return what has
// arrived. False for a baud index outside the table.
bool serial_line_settings(const hal_uart_config& config, termios& t);

}  // namespace norvane
