#include "processor_time.h"

#include <cstdio>
#include <ctime>

#include <pthread.h>

#if defined(__linux__)
#include <cctype>
#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/resource.h>
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

// /proc/stat: a line for each processor, "cpuN", with its time since the
// system started in each kind of work, in ticks: user, niced user, system,
// idle and the rest. The lines of the processors this thread may run on,
// their user and system time (and niced user time where niced is true),
// summed.
std::optional<unsigned long long> busy_ticks(bool niced) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return std::nullopt;
    std::FILE* file = std::fopen("/proc/stat", "r");
    if (file == nullptr) return std::nullopt;
    unsigned long long ticks = 0;
    bool any = false;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr && std::strncmp(line, "cpu", 3) == 0) {
        int processor = -1;
        unsigned long long user = 0, niced_user = 0, system = 0;
        if (!std::isdigit(static_cast<unsigned char>(line[3])) || // the machine's sum
            std::sscanf(line, "cpu%d %llu %llu %llu", &processor, &user, &niced_user, &system) !=
                4 ||
            processor < 0 || processor >= CPU_SETSIZE || !CPU_ISSET(processor, &allowed))
            continue;
        ticks += user + system + (niced ? niced_user : 0);
        any = true;
    }
    std::fclose(file);
    if (!any) return std::nullopt;
    return ticks;
}

// Whether the calling thread is niced: its time is then counted as niced.
bool this_thread_niced() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, 0); // 0: the calling thread, on Linux
    return errno == 0 && nice > 0;
}

#endif

} // namespace

std::optional<double> others_like_priority_seconds() {
#if defined(__linux__)
    long ticks_per_second = sysconf(_SC_CLK_TCK);
    std::optional<unsigned long long> ticks = busy_ticks(this_thread_niced());
    if (!ticks || ticks_per_second <= 0) return std::nullopt;
    return static_cast<double>(*ticks) / static_cast<double>(ticks_per_second) -
           process_processor_seconds();
#else
    return std::nullopt;
#endif
}

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
