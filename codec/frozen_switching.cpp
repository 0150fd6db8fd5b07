#include "codec/frozen_switching.h"

#include <utility>

#include "platform/processor_time.h"

namespace tarnwel {

namespace {

// Long enough that the scheduler's turns (a few milliseconds each) and a
// coarse clock (Windows counts thread time in ticks of about 16 ms) average
// out; short enough that a run on a busy machine soon stops paying for a
// second thread it does not have.
constexpr double window_seconds = 0.05;

// The share of its ready time the unbounded thread must get for the second
// thread to be worth keeping: alone on a core it gets all of it, and
// taking turns with two others it got two thirds or less.
constexpr double least_share = 0.85;

// But on a machine so busy that it gets less than this, the run's threads
// each get a like share of the processors, and two threads get more of
// them than one: the second thread is kept, or taken up again when the
// calling thread alone gets less than crowded_share_alone (the share the
// same crowd leaves one thread of two at crowded_share).
constexpr double crowded_share = 0.4;
constexpr double crowded_share_alone = 0.45;

// The share of a core the processors must have stood idle for the frozen
// parse to go back to the second thread.
constexpr double least_idle = 0.5;

void start_window(FrozenSwitching& switching, std::chrono::steady_clock::time_point now) {
    SwitchWatch& watch = switching.watch;
    watch.started = true;
    watch.began = now;
    watch.processor_seconds = thread_processor_seconds();
    watch.waited_seconds = switching.ring.waited_seconds;
    watch.idle_seconds = switching.on_second_thread ? std::nullopt : idle_processor_seconds();
}

// Where the frozen parse should run from the block about to be handed
// over. At the end of a window, says what it measured and lets the next
// window start once the parse is where it should be.
bool wants_second_thread(FrozenSwitching& switching, std::uint64_t block) {
    if (switching.plan) return switching.plan(block);
    SwitchWatch& watch = switching.watch;
    if (!watch.started) return switching.on_second_thread;
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - watch.began).count();
    if (elapsed < window_seconds) return switching.on_second_thread;
    watch.started = false;
    double ran = thread_processor_seconds() - watch.processor_seconds;
    if (switching.on_second_thread) {
        double ready = elapsed - (switching.ring.waited_seconds - watch.waited_seconds);
        // Mostly waiting for slots, the window says nothing either way.
        return ready < window_seconds / 2 || ran >= least_share * ready ||
               ran < crowded_share * ready;
    }
    if (ran < crowded_share_alone * elapsed) return true;
    std::optional<double> idle = idle_processor_seconds();
    // Where the system does not tell, the parse stays on this thread: never
    // slower than a run on one processor.
    return idle && watch.idle_seconds && *idle - *watch.idle_seconds >= least_idle * elapsed;
}

// The input's bytes before block `block`, which is still in the ring of
// blocks (it is not behind the frozen parse).
std::uint64_t bytes_before(const FrozenSwitching& switching, const BlockRing& blocks,
                           std::uint64_t block) {
    std::uint64_t bytes = switching.handed_bytes;
    for (std::uint64_t later = block; later < switching.handed_over; ++later)
        bytes -= blocks.sizes[ring_slot(blocks, later)];
    return bytes;
}

// Parks the second thread and goes on with the frozen parse on this one,
// from where the thread left it. False when the frozen stream has failed.
bool move_to_this_thread(FrozenSwitching& switching) {
    FrozenRing& ring = switching.ring;
    if (!park_frozen_ring(ring)) return false;
    FrozenFollowing& following = switching.following;
    following.parse = std::move(ring.parse);
    following.blocks = std::move(ring.blocks);
    following.handed_over = switching.handed_over;
    following.restart = ring.restart;
    following.restart_pending = ring.restarts != ring.restarts_seen;
    following.failed = false;
    FrozenParse& parse = following.parse;
    if (following.restart_pending)
        following.parsed = ring.restart.block;
    else if (parse.active)
        following.parsed = ring.next_block;
    else
        following.parsed = switching.handed_over; // no width has overflowed: nothing to parse
    if (parse.active && !following.restart_pending) {
        // The unbounded parse's strings, followed again from the latest
        // restart, start that many bytes before the next block.
        const FrozenRestart& restart = switching.restart;
        auto start =
            static_cast<std::int64_t>(switching.restart_at) -
            static_cast<std::int64_t>(bytes_before(switching, following.blocks, following.parsed));
        restart_following(following.unbounded, restart.shared_codes, restart.shared, start);
    }
    // This thread probes only the newest tables now.
    release_old_tables(*switching.dictionary, switching.dictionary->generation);
    return true;
}

// Hands the frozen parse, where this thread has it, back to the parked
// second thread.
void move_to_second_thread(FrozenSwitching& switching) {
    FrozenRing& ring = switching.ring;
    FrozenFollowing& following = switching.following;
    // First what may throw, so that the parse stays whole on this thread.
    ring.scouted.resize(following.blocks.copies.size());
    for (ScoutedBlock& scouted : ring.scouted)
        scouted.valid = false; // the blocks in the ring were not scouted
    ring.blocks = std::move(following.blocks);
    ring.parse = std::move(following.parse);
    {
        std::lock_guard hold(ring.lock);
        ring.handed_over = switching.handed_over;
        ring.next_block = following.parsed;
        if (following.restart_pending) {
            ring.restart = following.restart;
            ++ring.restarts;
        }
        ring.holding = following.restart_pending ? following.restart.block : following.parsed;
        ring.holds_none = !ring.parse.active && !following.restart_pending;
        ring.view = view_of(*switching.dictionary);
        ring.generation_in_use = ring.view.generation;
    }
    resume_frozen_ring(ring);
}

} // namespace

RingStart start_frozen_switching(FrozenSwitching& switching, Dictionary& dictionary,
                                 ByteSink& output, std::function<bool(std::uint64_t block)> plan) {
    switching.dictionary = &dictionary;
    switching.following.dictionary = &dictionary;
    switching.plan = std::move(plan);
    return start_frozen_ring(switching.ring, dictionary, output);
}

bool hand_over_block(FrozenSwitching& switching, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes) {
    bool second = wants_second_thread(switching, switching.handed_over);
    if (second != switching.on_second_thread) {
        if (second)
            move_to_second_thread(switching);
        else if (!move_to_this_thread(switching))
            return false;
        switching.on_second_thread = second;
    }
    if (!switching.plan && !switching.watch.started)
        start_window(switching, std::chrono::steady_clock::now());
    // The table's next growth is prepared on another core only where one
    // is free: where the frozen parse is on the second thread.
    switching.dictionary->prepare_ahead = switching.on_second_thread;
    bool handed = false;
    if (switching.on_second_thread) {
        handed = hand_over_block(switching.ring, data, size, notes);
    } else {
        handed = hand_over_block(switching.following, data, size, notes);
        release_old_tables(*switching.dictionary, switching.dictionary->generation);
    }
    if (!handed) return false;
    ++switching.handed_over;
    switching.last_block_start = switching.handed_bytes;
    switching.handed_bytes += size;
    return true;
}

void tell_unbounded_codes(FrozenSwitching& switching, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity) {
    // Kept up to date on the second thread too, so that the following can
    // take over at any block.
    tell_unbounded_codes(switching.following, codes, made, capacity);
}

void restart_frozen(FrozenSwitching& switching, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset) {
    switching.restart = {width, shared, shared_codes, switching.handed_over - 1, offset};
    switching.restart_at = switching.last_block_start + offset;
    if (switching.on_second_thread)
        restart_frozen(switching.ring, width, shared, shared_codes, offset);
    else
        restart_frozen(switching.following, width, shared, shared_codes, offset);
}

void finish_frozen(FrozenSwitching& switching) {
    if (switching.on_second_thread) {
        finish_frozen(switching.ring);
        switching.following.parse = std::move(switching.ring.parse);
    } else {
        finish_frozen(switching.following);
        release_old_tables(*switching.dictionary, switching.dictionary->generation);
    }
}

} // namespace tarnwel
