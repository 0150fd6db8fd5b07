// The console, as far as the program uses it: whether standard output is a
// terminal that takes the escape sequences the screen clearing and the
// progress line are drawn with, and how wide it is.
#pragma once

namespace tarnwel {

// On Windows, true only for a console that accepted virtual-terminal
// processing; output to a file or a pipe is never a terminal.
bool output_is_terminal();

// The width in columns of the terminal standard output shows on, asked
// afresh on each call since a terminal can be resized: one system call.
// When the terminal does not say, COLUMNS (Linux only), else 80.
int terminal_columns();

} // namespace tarnwel
