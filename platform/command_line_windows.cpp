#include "command_line.h"

#include <windows.h>

#include "windows_support.h"

namespace tarnwel {

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
