#include "console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnwel {

bool output_is_terminal() {
    return isatty(STDOUT_FILENO) != 0;
}

int terminal_columns() {
    winsize size{};
    // A pseudo-terminal nobody gave a size reports 0 columns.
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        char* end = nullptr;
        long value = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && value > 0 && value <= 10'000)
            return static_cast<int>(value);
    }
    return 80;
}

} // namespace tarnwel
