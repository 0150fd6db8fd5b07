#include "platform/console.h"

#include <windows.h>

#include "platform/windows_support.h"

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

} // namespace tarnwel
