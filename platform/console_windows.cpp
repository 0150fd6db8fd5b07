#include "console.h"

#include <windows.h>

namespace tarnwel {

namespace {

bool console_takes_sequences() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace

bool output_is_terminal() {
    static const bool terminal = console_takes_sequences();
    return terminal;
}

int terminal_columns() {
    // The window, not the buffer: a buffer wider than the window scrolls
    // sideways, and the end of a line that fits the buffer is out of sight.
    CONSOLE_SCREEN_BUFFER_INFO info{};
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info)) {
        int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 80;
}

} // namespace tarnwel
