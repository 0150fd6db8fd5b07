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

std::vector<std::string> command_line(int argc, char** argv) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != argc) {
        if (arguments != nullptr) LocalFree(arguments);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> converted;
    for (int i = 0; i < count; ++i)
        converted.push_back(utf8(arguments[i]));
    LocalFree(arguments);
    return converted;
}

} // namespace tarnwel
