// What a thread gets of a core, read by another thread, as the compressor's
// switching reads its second thread: the right thread's times, in seconds,
// and the time it was ready to run but kept waiting.
#include <gtest/gtest.h>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "processor_time.h"

namespace tarnwel::test {
namespace {

constexpr double burn_seconds = 0.05;

// The calling thread's processor time, from the system's clock for it.
double own_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Threads that each name themselves, optionally spin (on one processor,
// when one is given) until they have run burn_seconds, and then wait until
// the test has read them.
struct Watched {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::optional<WatchedThread>> named;
    std::vector<double> own; // each one's own reading as it stopped
    std::size_t done = 0;
    bool read = false;
};

void run_watched(Watched& watched, std::size_t index, bool spin, int processor) {
    if (processor >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(processor, &one);
        sched_setaffinity(0, sizeof one, &one); // 0: this thread
    }
    double start = own_seconds();
    while (spin && own_seconds() - start < burn_seconds) {
    }
    std::unique_lock hold(watched.lock);
    watched.named[index] = watch_this_thread();
    watched.own[index] = own_seconds();
    ++watched.done;
    watched.changed.notify_all();
    watched.changed.wait(hold, [&] { return watched.read; });
}

// Starts the threads, reads each one's times once all have named
// themselves, and lets them end; own gets their own readings.
std::vector<std::optional<ThreadTimes>> times_of(const std::vector<bool>& spins, int processor,
                                                 std::vector<double>& own) {
    Watched watched;
    watched.named.resize(spins.size());
    watched.own.resize(spins.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < spins.size(); ++i)
        threads.emplace_back(run_watched, std::ref(watched), i, spins[i], processor);
    std::vector<std::optional<ThreadTimes>> times;
    {
        std::unique_lock hold(watched.lock);
        watched.changed.wait(hold, [&] { return watched.done == spins.size(); });
        for (const std::optional<WatchedThread>& thread : watched.named)
            times.push_back(thread ? thread_times(*thread) : std::nullopt);
        watched.read = true;
        own = watched.own;
    }
    watched.changed.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    return times;
}

// Read while the thread waits, its time is what it read itself as it
// stopped, give or take the few instructions it ran since.
TEST(ProcessorTime, AnotherThreadReadsTheTimeEachThreadRan) {
    std::vector<double> own;
    std::vector<std::optional<ThreadTimes>> times = times_of({true, false}, -1, own);
    for (std::size_t i = 0; i < times.size(); ++i) {
        ASSERT_TRUE(times[i]) << i;
        EXPECT_GE(times[i]->ran, own[i] - 1e-6) << i;
        EXPECT_LT(times[i]->ran, own[i] + burn_seconds / 10) << i;
    }
    EXPECT_GE(times[0]->ran, burn_seconds);
}

TEST(ProcessorTime, ThreadsTakingTurnsOnOneProcessorWereKeptWaiting) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int processor = 0;
    while (!CPU_ISSET(processor, &allowed))
        ++processor;
    std::vector<double> own;
    std::vector<std::optional<ThreadTimes>> times = times_of({true, true}, processor, own);
    ASSERT_TRUE(times[0] && times[1]);
    if (!times[0]->kept_waiting || !times[1]->kept_waiting)
        GTEST_SKIP() << "this kernel does not tell how long a thread waited for a processor";
    // While one ran, the other was ready and waited: whichever finished
    // last waited about as long as the other ran.
    EXPECT_GE(*times[0]->kept_waiting + *times[1]->kept_waiting, burn_seconds / 2);
}

// Another process spinning at this one's priority shows in the time others
// of like priority ran, counted in ticks: a few of them either way.
TEST(ProcessorTime, AnotherProcessOfLikePriorityIsCounted) {
    std::optional<double> before = others_like_priority_seconds();
    ASSERT_TRUE(before);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        timespec now{};
        do
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        while (now.tv_sec == 0 && now.tv_nsec < 200'000'000);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::optional<double> after = others_like_priority_seconds();
    ASSERT_TRUE(after);
    EXPECT_GE(*after - *before, 0.1);
}

} // namespace
} // namespace tarnwel::test
