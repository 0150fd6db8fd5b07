// Processor time, read while a run goes on, so that the compressor can tell
// how much of a core each of its threads gets. For a thread: the time it
// ran, and the time it was ready to run but waited for a processor that
// another thread had. Their sum is the time it wanted a processor, and the
// share of it that it ran is what it gets of a core: all of it on a core of
// its own, and nearly all of it beside a lower-priority job, which yields
// the core although the core looks busy. And for the whole process, the
// time all its threads ran: where that is nearly all the processors it may
// use, a thread short of a core gave it up to another of the same run.
// And for other processes, the time their threads of like priority ran on
// the processors this one may use: a thread of this process takes turns
// with those, where a niced job would yield.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnwel {

// A thread of this process, named so that any other thread of it can read
// its times while it runs.
struct WatchedThread {
    std::int64_t id = 0;    // the system's number for the thread
    std::int64_t clock = 0; // its processor-time clock, where the system has one
};

struct ThreadTimes {
    double ran = 0; // seconds on a processor, user and system, since the thread started
    // Seconds it was ready to run but kept waiting for a processor, since it
    // started; empty where the system does not tell.
    std::optional<double> kept_waiting;
};

// Seconds all the threads of this process have run, summed, since it
// started.
double process_processor_seconds();

// Seconds other processes' threads of like priority have run, summed over
// the processors this process may use, since the system started: those not
// niced, or all where this process is niced itself. Counted in the
// scheduler's ticks, so that a reading over a few ticks is off by about a
// tick a processor. Only differences mean anything. Empty where the system
// does not tell a niced job's time from the others' (Windows).
std::optional<double> others_like_priority_seconds();

// The calling thread, for thread_times.
WatchedThread watch_this_thread();

// The thread's times so far; only differences mean anything. Empty where
// they cannot be read.
std::optional<ThreadTimes> thread_times(const WatchedThread& thread);

} // namespace tarnwel
