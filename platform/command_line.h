// The command line's arguments as the program sees them: UTF-8 on every
// system.
#pragma once

#include <string>
#include <vector>

namespace tarnwel {

// Windows hands the arguments over in UTF-16 (argv would lose what the
// code page cannot spell); elsewhere they are taken as they come.
std::vector<std::string> command_line(int argc, char** argv);

} // namespace tarnwel
