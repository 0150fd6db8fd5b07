// The console, as far as the program uses it: whether standard output is a
// terminal that takes the escape sequences the screen clearing and the
// progress line are drawn with.
#pragma once

namespace tarnwel {

// On Windows, true only for a console that accepted virtual-terminal
// processing; output to a file or a pipe is never a terminal.
bool output_is_terminal();

} // namespace tarnwel
