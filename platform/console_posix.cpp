#include "platform/console.h"

#include <unistd.h>

namespace tarnwel {

bool output_is_terminal() {
    return isatty(STDOUT_FILENO) != 0;
}

} // namespace tarnwel
