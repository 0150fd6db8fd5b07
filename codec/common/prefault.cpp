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

// The helpers' thread bodies. Prefaulting is only advice: should anything
// in them throw, the helper stops and the owner meets its pages itself.
void run_helper(Prefaulter* prefaulter) {
    try {
        for (;;) {
            std::uint32_t seen = prefaulter->news.load(std::memory_order_acquire);
            if (prefaulter->stopping.load(std::memory_order_acquire)) return;
            if (!populate_some(*prefaulter)) prefaulter->news.wait(seen, std::memory_order_acquire);
        }
    } catch (...) {
    }
}

void populate_helping(std::uint8_t* memory, std::size_t bytes) {
    try {
        populate(memory, bytes);
    } catch (...) {
    }
}

} // namespace

Prefaulter::~Prefaulter() {
    stop_prefault(*this);
}

void populate_now(void* memory, std::size_t bytes) {
    auto* front = static_cast<std::uint8_t*>(memory);
    std::size_t half = bytes / 2 / page * page;
    try {
        std::thread helper(populate_helping, front + half, bytes - half);
        populate(front, half);
        helper.join();
    } catch (const std::exception&) {
        populate(front, bytes);
    }
}

void add_prefault_track(Prefaulter& prefaulter, void* memory, std::size_t bytes) {
    if (prefaulter.track_count == max_prefault_tracks || memory == nullptr) return;
    PrefaultTrack& track = prefaulter.tracks[prefaulter.track_count++];
    track.memory = static_cast<std::uint8_t*>(memory);
    track.bytes = bytes;
}

void start_prefault(Prefaulter& prefaulter, std::size_t ahead) {
    prefaulter.ahead = ahead;
    try {
        prefaulter.helper = std::thread(run_helper, &prefaulter);
    } catch (const std::exception&) {
        // No second thread: the owner faults its own pages, as it would anyway.
    }
}

void wake_prefault(Prefaulter& prefaulter) {
    // A wake is a system call when the helper waits: not for every report.
    std::size_t reached = 0;
    for (std::size_t i = 0; i < prefaulter.track_count; ++i)
        reached += prefaulter.tracks[i].reached.load(std::memory_order_relaxed);
    if (reached - prefaulter.reached_at_wake < step / 2 && !prefaulter.stopping) return;
    prefaulter.reached_at_wake = reached;
    prefaulter.news.fetch_add(1, std::memory_order_release);
    prefaulter.news.notify_one();
}

void stop_prefault(Prefaulter& prefaulter) {
    if (!prefaulter.helper.joinable()) return;
    prefaulter.stopping.store(true, std::memory_order_release);
    wake_prefault(prefaulter);
    prefaulter.helper.join();
}

} // namespace tarnwel
