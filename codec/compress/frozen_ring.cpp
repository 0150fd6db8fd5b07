#include "frozen_ring.h"

#include <chrono>
#include <exception>
#include <new>
#include <system_error>

namespace tarnwel {

namespace {

// How far the second thread's frozen parse stays behind while the unbounded
// parse expects to overflow another width: its parse of those blocks would
// be thrown away at the restart. Half the ring, so that the unbounded parse
// seldom waits for a slot (a lag of nearly the ring's length made it wait).
constexpr std::uint64_t lag_blocks = ring_blocks / 2;

// Shared codes packed ahead at a time, between looks for a block: few
// enough that a block handed over is not kept waiting.
constexpr std::size_t pack_step = std::size_t{1} << 13;

// Whether the frozen parse's string starting at offset `at` of a scouted
// block starts where one of the scout's did; if so, takes the scout's codes
// from there and its open string. met moves along the scout's strings.
bool meets_scout(FrozenParse& parse, const ScoutedBlock& scouted, std::size_t& met,
                 std::ptrdiff_t at) {
    const std::vector<std::uint32_t>& starts = scouted.starts;
    while (met < starts.size() && starts[met] < at)
        ++met;
    if (met == starts.size() || starts[met] != at) return false;
    for (std::size_t i = met; i < scouted.codes.size(); ++i)
        put_frozen_code(parse.stream, scouted.codes[i]);
    parse.cursor = scouted.open;
    return true;
}

// The frozen parse over the bytes from next to end. In a block the unbounded
// parse scouted, only until one of its strings starts where one of the
// scout's did: from there the scout's codes are its own.
void parse_handed_block(FrozenParse& parse, DictionaryView& tables, const std::uint8_t* next,
                        const std::uint8_t* end, const ScoutedBlock* scouted = nullptr) {
    const std::uint8_t* block = next;
    std::size_t met = 0; // the scout's first string not before the parse's
    parse_frozen(parse, tables, next, end, [&](const std::uint8_t* at) {
        if (scouted != nullptr && meets_scout(parse, *scouted, met, at - block))
            return AfterString::stop; // the scout's codes and open string are the parse's
        return AfterString::go_on;
    });
}

// Parses a block as the frozen parse would if a string started at its
// first byte. Runs on the unbounded parse's thread, over a dictionary that no
// longer changes.
void scout_block(ScoutedBlock& scouted, Dictionary& dictionary, std::uint32_t limit,
                 const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* end = data + size;
    scouted.codes.clear();
    scouted.starts.assign(1, 0);
    start_string(scouted.open, data);
    parse_block(scouted.open, dictionary, limit, data + 1, end,
                [&](const StringEnd& ended, const std::uint8_t* at) {
                    scouted.codes.push_back(ended.code);
                    scouted.starts.push_back(static_cast<std::uint32_t>(at - data));
                    return AfterString::go_on;
                });
    scouted.valid = true;
}

// Begins the frozen parse again at the byte at `at`; parses the rest of the
// block, which ends at end.
void parse_from_restart(FrozenParse& parse, DictionaryView& tables, const FrozenRestart& restart,
                        const std::uint8_t* block, const std::uint8_t* end) {
    const std::uint8_t* at = block + restart.offset;
    begin_frozen_parse(parse, restart);
    start_string(parse.cursor, at);
    parse_handed_block(parse, tables, at + 1, end);
}

// What the second thread takes from the unbounded parse for its next step.
struct Step {
    bool restarting = false;
    FrozenRestart restart;
    DictionaryView view;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    const ScoutedBlock* scouted = nullptr; // when the block was scouted
};

// The frozen stream failed to write: the unbounded parse stops at its next
// block. Under the lock; false, for take_step.
bool fail(FrozenRing& ring) {
    ring.failed = true;
    ring.holds_none = true;
    ring.changed.notify_all();
    return false;
}

// Waits, under hold, until there is a restart or a block to take, or
// nothing more to do. Idle, it packs the shared codes ahead: those packed
// now are off the unbounded thread's path at the end. Packing goes on while
// another width is expected to overflow too: a wrong guess costs only time
// the thread would have waited. False when the stream failed.
bool wait_for_step(FrozenRing& ring, std::unique_lock<std::mutex>& hold) {
    const std::uint64_t next_block = ring.next_block;
    auto ready = [&] {
        return stop_asked(ring.worker) || ring.restarts != ring.restarts_seen || ring.input_done ||
               (ring.parse.active && next_block < ring.handed_over &&
                (!ring.restart_likely || next_block + lag_blocks < ring.handed_over));
    };
    while (!ready()) {
        if (ring.parse.active && shared_left_to_pack(ring.parse.stream)) {
            hold.unlock();
            pack_shared_ahead(ring.parse.stream, pack_step);
            hold.lock();
            if (frozen_parse_failed(ring.parse)) return fail(ring);
        } else {
            ring.changed.wait(hold);
        }
    }
    return true;
}

// Waits for a restart or the next block; false when there is nothing more
// to do, or the unbounded parse has asked the thread to stop.
bool take_step(FrozenRing& ring, Step& step) {
    std::unique_lock hold(ring.lock);
    // Done with the blocks before the next.
    if (ring.parse.active) ring.holding = ring.next_block;
    ring.changed.notify_all();
    if (!wait_for_step(ring, hold) || stop_asked(ring.worker)) return false;
    std::uint64_t& next_block = ring.next_block;
    step.restarting = ring.restarts != ring.restarts_seen;
    if (step.restarting) {
        ring.restarts_seen = ring.restarts;
        step.restart = ring.restart;
        next_block = ring.holding = step.restart.block;
    } else if (!ring.parse.active || next_block >= ring.handed_over) {
        return false; // the input has ended, and the parse with it
    }
    step.view = ring.view;
    ring.generation_in_use = step.view.generation;
    std::size_t slot = ring_slot(ring.blocks, next_block);
    step.data = ring.blocks.copies[slot].data();
    step.size = ring.blocks.sizes[slot];
    step.scouted = ring.scouted[slot].valid ? &ring.scouted[slot] : nullptr;
    return true;
}

void parse_blocks(FrozenRing& ring) {
    FrozenParse& parse = ring.parse;
    Step step;
    while (take_step(ring, step)) {
        const std::uint8_t* end = step.data + step.size;
        if (step.restarting)
            parse_from_restart(parse, step.view, step.restart, step.data, end);
        else
            parse_handed_block(parse, step.view, step.data, end, step.scouted);
        ++ring.next_block; // the thread's own while it runs
        if (frozen_parse_failed(parse)) {
            std::lock_guard hold(ring.lock);
            fail(ring);
            return;
        }
    }
}

// The second thread. A write of the stream throws when a sink in memory
// cannot grow (in the parse, or packing ahead); the exception goes to the
// unbounded parse's thread, which meets it in finish_frozen, and the run
// stops as after a failed write.
void run_second_thread(FrozenRing& ring) {
    {
        std::lock_guard hold(ring.lock);
        ring.frozen_thread = watch_this_thread();
    }
    try {
        parse_blocks(ring);
    } catch (...) {
        std::lock_guard hold(ring.lock);
        fail(ring);
        throw;
    }
}

bool start_second_thread(FrozenRing& ring) {
    return start_worker(ring.worker, [&ring] { run_second_thread(ring); });
}

// Joins the second thread, keeping what it threw for finish_frozen. The
// thread's times end with it: a thread started again names itself anew.
void join_second_thread(FrozenRing& ring) {
    if (std::exception_ptr thrown = join_worker(ring.worker)) ring.thrown = thrown;
    std::lock_guard hold(ring.lock);
    ring.frozen_thread = WatchedThread{};
}

// Stops the second thread at its next block boundary.
void stop_second_thread(FrozenRing& ring) {
    ask_to_stop(ring.worker, ring.lock, ring.changed);
    join_second_thread(ring);
}

} // namespace

FrozenRing::~FrozenRing() {
    if (worker_running(worker)) stop_second_thread(*this);
}

RingStart start_frozen_ring(FrozenRing& ring, Dictionary& dictionary, ByteSink& output) {
    ring.dictionary = &dictionary;
    if (!open_frozen_parse(ring.parse, ring.blocks, output)) return RingStart::out_of_memory;
    try {
        ring.scouted.resize(ring.blocks.copies.size());
    } catch (const std::bad_alloc&) {
        return RingStart::out_of_memory;
    }
    if (!start_second_thread(ring)) return RingStart::no_thread;
    dictionary.keep_old_tables = true;
    return RingStart::started;
}

bool hand_over_block(FrozenRing& ring, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes) {
    std::unique_lock hold(ring.lock);
    auto slot_free = [&] {
        return ring.failed || ring.holds_none ||
               ring.handed_over < ring.holding + ring.blocks.copies.size();
    };
    if (!slot_free()) {
        auto began = std::chrono::steady_clock::now();
        ring.changed.wait(hold, slot_free);
        ring.waited_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    if (ring.failed) return false;
    std::uint64_t block = ring.handed_over;
    hold.unlock();
    // The slot's block is behind the frozen parse: only this thread uses it now.
    copy_block(ring.blocks, block, data, size);
    ScoutedBlock& scouted = ring.scouted[ring_slot(ring.blocks, block)];
    scouted.valid = false;
    if (notes.scout_limit != 0) {
        try {
            scout_block(scouted, *ring.dictionary, notes.scout_limit, data, size);
        } catch (const std::bad_alloc&) {
            scouted.valid = false; // the frozen parse parses the block itself
        }
    }
    hold.lock();
    ++ring.handed_over;
    ring.restart_likely = notes.restart_likely;
    Dictionary& dictionary = *ring.dictionary;
    ring.view = view_of(dictionary);
    release_old_tables(dictionary,
                       ring.holds_none ? dictionary.generation : ring.generation_in_use);
    hold.unlock();
    ring.changed.notify_all();
    return true;
}

void restart_frozen(FrozenRing& ring, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset) {
    {
        std::lock_guard hold(ring.lock);
        std::uint64_t block = ring.handed_over - 1;
        ring.restart = {width, shared, shared_codes, block, offset};
        ++ring.restarts;
        // Until the frozen parse takes the restart, this block must stay.
        if (ring.holds_none || ring.holding > block) ring.holding = block;
        ring.view = view_of(*ring.dictionary);
        if (ring.holds_none) ring.generation_in_use = ring.view.generation;
        ring.holds_none = false;
    }
    ring.changed.notify_all();
}

bool park_frozen_ring(FrozenRing& ring) {
    stop_second_thread(ring);
    return !ring.failed;
}

bool resume_frozen_ring(FrozenRing& ring) {
    return start_second_thread(ring);
}

void finish_frozen(FrozenRing& ring) {
    {
        std::lock_guard hold(ring.lock);
        ring.input_done = true;
    }
    ring.changed.notify_all();
    join_second_thread(ring);
    // The frozen parse probes no table now.
    release_old_tables(*ring.dictionary, ring.dictionary->generation);
    if (ring.thrown != nullptr) std::rethrow_exception(ring.thrown);
}

} // namespace tarnwel
