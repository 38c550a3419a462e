// Where the window's own lines (--help, start-up failures, the CAN ports'
// lines) go. On Linux standard output and error are always the terminal's or
// the caller's. On Windows the window is a desktop program, started without
// a console of its own: started from cmd or PowerShell it writes into that
// console; started by a double click nothing shows.
#pragma once

namespace norvane {

// Call first thing in main: on Windows, when the caller gave no standard
// output and error (a desktop program's lot), they go to the console of the
// program that started the window, if there is one.
void use_callers_console();

}  // namespace norvane
