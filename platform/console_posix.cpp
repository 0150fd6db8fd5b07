#include "platform/console.h"

#include <unistd.h>

namespace tarnwel {

bool output_is_terminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::vector<std::string> command_line(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace tarnwel
