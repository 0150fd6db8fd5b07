// The console, as far as the program uses it: whether standard output is a
// terminal that takes the escape sequences the screen clearing and the
// progress line are drawn with.
#pragma once

#include <string>
#include <vector>

namespace tarnwel {

// On Windows, true only for a console that accepted virtual-terminal
// processing; output to a file or a pipe is never a terminal.
bool output_is_terminal();

// The command line's arguments in UTF-8. Windows hands them over in UTF-16
// (argv would lose what the code page cannot spell); elsewhere they are
// taken as they come.
std::vector<std::string> command_line(int argc, char** argv);

} // namespace tarnwel
