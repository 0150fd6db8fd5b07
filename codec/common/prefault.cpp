#include "prefault.h"

#include <algorithm>
#include <exception>

#include "pages.h"

namespace tarnwel {

namespace {

// False when the system would not (no such request, or no memory).
bool populate(std::uint8_t* memory, std::size_t bytes) {
    return populate_pages(memory, bytes);
}

// Populated a huge page at a time, so the owner catches up with the helper
// at a page boundary at worst.
constexpr std::size_t step = std::size_t{2} << 20;
constexpr std::size_t page = 4096;

// Populates the next step of each track that lags; false when none does.
bool populate_some(Prefaulter& prefaulter) {
    bool worked = false;
    for (std::size_t i = 0; i < prefaulter.track_count; ++i) {
        PrefaultTrack& track = prefaulter.tracks[i];
        std::size_t target =
            std::min(track.bytes, track.reached.load(std::memory_order_relaxed) + prefaulter.ahead);
        if (track.populated >= target) continue;
        std::size_t from = track.populated / page * page;
        std::size_t to = std::min(track.bytes, (from / step + 1) * step);
        bool populated = populate(track.memory + from, to - from);
        // A kernel without the advice, or short of memory: the owner will
        // meet the pages itself, and fail its own way if it must.
        track.populated = populated ? to : track.bytes;
        worked = true;
    }
    return worked;
}

// The helper's body. Prefaulting is only advice: should anything in it
// throw, the helper stops and the owner meets its pages itself.
void run_helper(Prefaulter& prefaulter) {
    for (;;) {
        std::uint32_t seen = 0;
        {
            std::lock_guard hold(prefaulter.lock);
            seen = prefaulter.news;
        }
        if (stop_asked(prefaulter.helper)) return;
        if (populate_some(prefaulter)) continue;
        std::unique_lock hold(prefaulter.lock);
        prefaulter.changed.wait(
            hold, [&] { return prefaulter.news != seen || stop_asked(prefaulter.helper); });
    }
}

void wake_helper(Prefaulter& prefaulter) {
    {
        std::lock_guard hold(prefaulter.lock);
        ++prefaulter.news;
    }
    prefaulter.changed.notify_one();
}

} // namespace

Prefaulter::~Prefaulter() {
    stop_prefault(*this);
}

void populate_now(void* memory, std::size_t bytes) {
    auto* front = static_cast<std::uint8_t*>(memory);
    std::size_t half = bytes / 2 / page * page;
    WorkerThread helper;
    if (!start_worker(helper, [=] { populate(front + half, bytes - half); })) {
        populate(front, bytes);
        return;
    }
    populate(front, half);
    join_worker(helper); // advice only: what it threw is dropped
}

void add_prefault_track(Prefaulter& prefaulter, void* memory, std::size_t bytes) {
    if (prefaulter.track_count == max_prefault_tracks || memory == nullptr) return;
    PrefaultTrack& track = prefaulter.tracks[prefaulter.track_count++];
    track.memory = static_cast<std::uint8_t*>(memory);
    track.bytes = bytes;
}

void start_prefault(Prefaulter& prefaulter, std::size_t ahead) {
    prefaulter.ahead = ahead;
    // Without a second thread the owner faults its own pages, as it would anyway.
    start_worker(prefaulter.helper, [&prefaulter] { run_helper(prefaulter); });
}

void wake_prefault(Prefaulter& prefaulter) {
    // A wake is a system call when the helper waits: not for every report.
    std::size_t reached = 0;
    for (std::size_t i = 0; i < prefaulter.track_count; ++i)
        reached += prefaulter.tracks[i].reached.load(std::memory_order_relaxed);
    if (reached - prefaulter.reached_at_wake < step / 2) return;
    prefaulter.reached_at_wake = reached;
    wake_helper(prefaulter);
}

void stop_prefault(Prefaulter& prefaulter) {
    if (!worker_running(prefaulter.helper)) return;
    ask_to_stop(prefaulter.helper, prefaulter.lock, prefaulter.changed);
    join_worker(prefaulter.helper); // advice only: what it threw is dropped
}

} // namespace tarnwel
