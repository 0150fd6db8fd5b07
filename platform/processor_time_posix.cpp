#include "platform/processor_time.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

namespace tarnwel {

double thread_processor_seconds() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

#if defined(__linux__)

// /proc/stat has a line per processor, "cpuN user nice system idle iowait
// ...", in clock ticks. Time waiting for the disk is not counted idle: a
// processor waiting so is one a run could not have had either.
std::optional<double> idle_processor_seconds() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    bool masked = sched_getaffinity(0, sizeof allowed, &allowed) == 0;
    std::FILE* stat = std::fopen("/proc/stat", "r");
    if (stat == nullptr) return std::nullopt;
    char line[512];
    unsigned long long idle_ticks = 0;
    bool seen = false;
    while (std::fgets(line, sizeof line, stat) != nullptr) {
        if (std::strncmp(line, "cpu", 3) != 0) break; // the processors' lines come first
        // The line of all processors together ("cpu  ...") is not one of them.
        if (std::isdigit(static_cast<unsigned char>(line[3])) == 0) continue;
        int processor = 0;
        unsigned long long user = 0, nice = 0, system = 0, idle = 0;
        if (std::sscanf(line, "cpu%d %llu %llu %llu %llu", &processor, &user, &nice, &system,
                        &idle) != 5)
            continue;
        if (masked &&
            (processor < 0 || processor >= CPU_SETSIZE || !CPU_ISSET(processor, &allowed)))
            continue;
        idle_ticks += idle;
        seen = true;
    }
    std::fclose(stat);
    long ticks_per_second = sysconf(_SC_CLK_TCK);
    if (!seen || ticks_per_second <= 0) return std::nullopt;
    return static_cast<double>(idle_ticks) / static_cast<double>(ticks_per_second);
}

#else

std::optional<double> idle_processor_seconds() {
    return std::nullopt;
}

#endif

} // namespace tarnwel
