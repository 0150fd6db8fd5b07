#include "command_line.h"

namespace tarnwel {

std::vector<std::string> command_line(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace tarnwel
