#include "processor_time.h"

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

double process_processor_seconds() {
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) == 0) return 0;
    return seconds_of(kernel) + seconds_of(user);
}

// The system's times for the processors do not tell a niced job's time
// from the others'.
std::optional<double> others_like_priority_seconds() {
    return std::nullopt;
}

WatchedThread watch_this_thread() {
    WatchedThread thread;
    thread.id = GetCurrentThreadId();
    return thread;
}

// Windows does not tell how long a thread waited for a processor.
std::optional<ThreadTimes> thread_times(const WatchedThread& thread) {
    HANDLE handle =
        OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(thread.id));
    if (handle == nullptr) return std::nullopt;
    FILETIME created, exited, kernel, user;
    BOOL read = GetThreadTimes(handle, &created, &exited, &kernel, &user);
    CloseHandle(handle);
    if (read == 0) return std::nullopt;
    return ThreadTimes{seconds_of(kernel) + seconds_of(user), std::nullopt};
}

} // namespace tarnwel
