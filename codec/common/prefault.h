// Fresh memory is not free at first touch: the kernel zeroes every page on
// its first write, and that costs as much as a good part of a pass
// (docs/performance.md). Tables that fill from the
// front, like the expander's, can have their pages faulted in on the second
// core, a little ahead of the code that fills them.
//
// The helper only asks the kernel to populate pages (it never writes to
// them), so it cannot disturb what the owner has stored, and a page the
// owner reaches first is simply already there for the helper. It stays a
// bounded distance ahead of what the owner reports, so a short input still
// touches little memory; where the kernel or the thread library refuses,
// nothing is prefaulted and the owner faults its pages itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "worker_thread.h"

namespace tarnwel {

struct PrefaultTrack {
    std::uint8_t* memory = nullptr;
    std::size_t bytes = 0;               // of the region
    std::atomic<std::size_t> reached{0}; // bytes from the front the owner has reached
    std::size_t populated = 0;           // helper's own
};

inline constexpr std::size_t max_prefault_tracks = 4;

struct Prefaulter {
    PrefaultTrack tracks[max_prefault_tracks];
    std::size_t track_count = 0;
    std::size_t ahead = 0; // bytes populated past each track's reached
    // Wakes from the owner as more is reached, counted under lock (the stop
    // wakes the helper as worker_thread.h has it):
    // a condition variable rather than an atomic wait, whose fallback where
    // the system has no futex (mingw-w64's libstdc++) missed a wake, and
    // the owner's join then waited for ever.
    std::mutex lock;
    std::condition_variable changed;
    std::uint32_t news = 0;
    std::size_t reached_at_wake = 0; // owner's: the tracks' reached, summed, at the last wake
    WorkerThread helper;

    Prefaulter() = default;
    Prefaulter(const Prefaulter&) = delete;
    Prefaulter& operator=(const Prefaulter&) = delete;
    ~Prefaulter();
};

// Faults in all of a region that is about to be written all over, half of
// it on a second thread: the kernel's work for fresh pages runs on both
// cores at once.
void populate_now(void* memory, std::size_t bytes);

// Adds a region to be populated from its front; before start_prefault only.
void add_prefault_track(Prefaulter& prefaulter, void* memory, std::size_t bytes);

// Starts the helper; without it (no thread to be had) nothing changes.
void start_prefault(Prefaulter& prefaulter, std::size_t ahead);

// The owner has reached `bytes` from the front of track `track`.
inline void report_reached(Prefaulter& prefaulter, std::size_t track, std::size_t bytes) {
    prefaulter.tracks[track].reached.store(bytes, std::memory_order_relaxed);
}

// Wakes the helper if the owner has moved far enough for a new step.
void wake_prefault(Prefaulter& prefaulter);

// Stops and joins the helper; the destructor does it too.
void stop_prefault(Prefaulter& prefaulter);

} // namespace tarnwel
