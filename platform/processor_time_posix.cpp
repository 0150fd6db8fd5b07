#include "processor_time.h"

#include <cstdio>
#include <ctime>

#include <pthread.h>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace tarnwel {

namespace {

double seconds_of(const timespec& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

#if defined(__linux__)

// /proc/self/task/ID/schedstat: nanoseconds on a processor, nanoseconds
// ready but waiting in a run queue, and the turns it had. One read gives
// the two times as of the same moment.
std::optional<ThreadTimes> read_schedstat(std::int64_t id) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%lld/schedstat", static_cast<long long>(id));
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return std::nullopt;
    unsigned long long ran = 0, waited = 0;
    int read = std::fscanf(file, "%llu %llu", &ran, &waited);
    std::fclose(file);
    if (read != 2) return std::nullopt;
    return ThreadTimes{static_cast<double>(ran) * 1e-9, static_cast<double>(waited) * 1e-9};
}

#endif

} // namespace

double process_processor_seconds() {
    timespec now{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) return 0;
    return seconds_of(now);
}

WatchedThread watch_this_thread() {
    WatchedThread thread;
#if defined(__linux__)
    thread.id = gettid();
#endif
    clockid_t clock{};
    if (pthread_getcpuclockid(pthread_self(), &clock) == 0) thread.clock = clock;
    return thread;
}

std::optional<ThreadTimes> thread_times(const WatchedThread& thread) {
#if defined(__linux__)
    // A kernel built without scheduler statistics has no schedstat file:
    // the clock below still tells the time the thread ran.
    if (std::optional<ThreadTimes> times = read_schedstat(thread.id)) return times;
#endif
    timespec now{};
    if (thread.clock == 0 || clock_gettime(static_cast<clockid_t>(thread.clock), &now) != 0)
        return std::nullopt;
    return ThreadTimes{seconds_of(now), std::nullopt};
}

} // namespace tarnwel
