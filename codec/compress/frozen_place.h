// Where the frozen parse (frozen_parse.h) runs from a block on, as the
// switching between the threads decides it (frozen_switching.h).
#pragma once

namespace tarnwel {

enum class FrozenPlace {
    this_thread,   // the unbounded parse's
    second_thread, // the ring's, where it is (or is taken up again)
    // The ring's, on a thread started afresh: a thread that waits and wakes
    // again goes back to the core it ran on last, often this thread's,
    // where a new one goes to the core with the least work.
    second_thread_afresh,
};

} // namespace tarnwel
