#include "platform/processor_time.h"

#include <windows.h>

namespace tarnwel {

namespace {

// A FILETIME counts hundreds of nanoseconds.
double seconds_of(const FILETIME& time) {
    ULARGE_INTEGER count;
    count.LowPart = time.dwLowDateTime;
    count.HighPart = time.dwHighDateTime;
    return static_cast<double>(count.QuadPart) * 1e-7;
}

} // namespace

double thread_processor_seconds() {
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user) == 0) return 0;
    return seconds_of(kernel) + seconds_of(user);
}

// The idle time of all the machine's processors: Windows tells it per
// processor group only through calls meant for the system's own tools.
std::optional<double> idle_processor_seconds() {
    FILETIME idle, kernel, user;
    if (GetSystemTimes(&idle, &kernel, &user) == 0) return std::nullopt;
    return seconds_of(idle);
}

} // namespace tarnwel
