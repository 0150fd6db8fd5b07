#include "processors.h"

#include <algorithm>
#include <bit>
#include <thread>

#include <windows.h>

namespace tarnwel {

unsigned usable_processors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    // The mask covers the process's processor group, which is where its
    // threads run unless they are moved.
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0 && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(process)));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace tarnwel
