// The frozen parse (frozen_parse.h) on a second thread while that pays, and
// on the unbounded parse's thread while it does not, switched at block
// boundaries as the run goes.
//
// The second thread pays when it gets most of a core. When another process
// of like priority keeps the second core busy, the two threads take turns
// with it on the two cores, and the parse that sets the pace runs only part
// of the time: slower than one thread doing both parses
// (frozen_following.h). A job of lower priority makes a core look just as
// busy, but yields it: there the second thread keeps nearly all of its
// core, and pays. So the run asks what its threads get, a window of wall
// time at a time:
// - on the second thread, each thread's processor time against the time it
//   was ready to run (the time it ran and the time it waited for a
//   processor another thread had; platform/processor_time.h). The pace is
//   set by the unbounded parse, and by the frozen one where it held the
//   ring up. The least such a thread got, well short of a core (or a
//   little short, two windows in a row), and the frozen parse comes back
//   to this thread, unless the run's threads together had nearly all the
//   processors (then the run's own helpers, faulting a table's pages in,
//   took what the thread was short of). Where the system tells how long a
//   thread waited for a processor, to the microsecond, a window is also
//   looked at every few milliseconds, and ends there when it is clearly
//   short so far: beside a job of like priority a share that costs a
//   fifth of the pace while it lasts is soon given up;
// - a thread that waits and wakes goes back to the core it ran on last,
//   and that is often this thread's, while a job of lower priority has
//   the other: this thread then waits while the run's own threads run,
//   about one core between them. There the second thread is started
//   afresh (a new thread goes to the core with the least work) before the
//   parse comes home, once until a window pays;
// - beside jobs of like priority, the scheduler moves the threads round so
//   that each gets a like share over time, and a window in which this
//   thread had a core to itself is only its turn. Where the system tells
//   the time such jobs ran on the processors (Linux), a window in which
//   they kept busy more than the run's two threads leave free brings the
//   parse home, whatever the threads got;
// - on this thread, nothing shows what a second thread would get, so the
//   parse goes back to it for a window now and then (a trial), less and
//   less often while trials find it short of a core, and not while jobs
//   of like priority keep the processors busy.
// Switching hands over the parse, its stream and the ring of blocks as they
// are; the stream is the same whichever thread parses each block.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "dictionary.h"
#include "frozen_following.h"
#include "frozen_place.h"
#include "frozen_ring.h"
#include "processor_time.h"

namespace tarnwel {

// The window being measured, and when to try the second thread again; all
// of it the unbounded thread's.
struct SwitchWatch {
    bool started = false;
    std::chrono::steady_clock::time_point began;
    WatchedThread unbounded;                    // this thread
    std::optional<ThreadTimes> unbounded_times; // its times as the window began
    std::optional<ThreadTimes> frozen_times;    // the second thread's then, while it parses
    double waited_seconds = 0;                  // ring.waited_seconds then
    double process_seconds = 0;                 // all the process's threads' time then
    std::optional<double> others_like_seconds;  // others' of like priority then, where told
    unsigned processors = 1;                    // the run may use
    bool trial = false;                         // the parse is on the second thread for a trial
    bool short_before = false;   // the window before, on the second thread, was a little short
    int windows_here = 0;        // measured on this thread since the parse came back
    int trial_after = 0;         // windows on this thread before the next trial
    double looked_at = 0;        // seconds into the window of the latest look
    bool started_afresh = false; // the second thread, since a window last paid
};

// All of it the unbounded thread's, but for what FrozenRing gives its second
// thread while the frozen parse runs there (frozen_ring.h says what).
struct FrozenSwitching {
    Dictionary* dictionary = nullptr;
    // Where the frozen parse runs: the ring's second thread, or, with the
    // thread parked, the following. The parse and the ring of blocks move
    // between the two with it; the one not running holds none.
    bool on_second_thread = true;
    FrozenRing ring;
    FrozenFollowing following;
    // Where the parse is once the input has ended.
    FrozenParse& parse = following.parse;
    // For tests: says for each block, from 0, where the frozen parse runs
    // from it on, in place of what the watch measures.
    std::function<FrozenPlace(std::uint64_t block)> plan;
    SwitchWatch watch;
    // What the following needs to go on from any block: how many blocks and
    // bytes have been handed over, where the last block began, and where in
    // the input the latest restart was.
    std::uint64_t handed_over = 0;
    std::uint64_t handed_bytes = 0;
    std::uint64_t last_block_start = 0;
    FrozenRestart restart;
    std::uint64_t restart_at = 0;

    FrozenSwitching() = default;
    FrozenSwitching(const FrozenSwitching&) = delete;
    FrozenSwitching& operator=(const FrozenSwitching&) = delete;
};

// Starts the second thread (start_frozen_ring), with the frozen parse on
// it; plan, when given, decides the switches instead of the watch.
RingStart start_frozen_switching(FrozenSwitching& switching, Dictionary& dictionary,
                                 ByteSink& output,
                                 std::function<FrozenPlace(std::uint64_t block)> plan = {});

// The calls every hand-off has (frozen_parse.h), switching before a block
// where the watch or the plan says so.
bool hand_over_block(FrozenSwitching& switching, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes);
void tell_unbounded_codes(FrozenSwitching& switching, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity);
void restart_frozen(FrozenSwitching& switching, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset);
// After it, switching.parse holds the frozen parse.
void finish_frozen(FrozenSwitching& switching);

} // namespace tarnwel
