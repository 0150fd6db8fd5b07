#include "codec/frozen_parse.h"

#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "codec/byte_io.h"
#include "codec/parse_step.h"
#include "platform/processors.h"

namespace tarnwel {

namespace {

// Blocks the unbounded parse may run ahead of the frozen one: enough to ride
// out the moments when one of them is slowed (a table growing, a write),
// small beside the tables. The ring starts with this many and, with a
// second thread, keeps them (see most_ring_blocks).
constexpr std::size_t ring_blocks = 64;
// How far the second thread's frozen parse stays behind while the leading
// parse expects to overflow another width: its parse of those blocks would
// be thrown away at the restart. Half the ring, so that the unbounded parse
// seldom waits for a slot (a lag of nearly the ring's length made it wait).
constexpr std::uint64_t lag_blocks = ring_blocks / 2;
// Without a second thread, while the unbounded parse expects another width to
// overflow, the ring grows up to this many blocks (16 MiB) rather than have
// the frozen parse take its oldest block, whose parse the restart would
// throw away: without it, a one-core run spent much of its time parsing at
// widths later dropped. (With a second thread the frozen parse, once its
// width is kept, must catch up with the unbounded parse before the input
// ends: it stays lag_blocks behind at most.)
constexpr std::size_t most_ring_blocks = 256;

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

// The frozen parse over the bytes from next to end. In a block the leading
// parse scouted, only until one of its strings starts where one of the
// scout's did: from there the scout's codes are its own.
template <class Table>
void parse_frozen(FrozenParse& parse, Table& dictionary, const std::uint8_t* next,
                  const std::uint8_t* end, const ScoutedBlock* scouted = nullptr) {
    Cursor& cursor = parse.cursor;
    const std::uint8_t* block = next;
    std::size_t met = 0; // the scout's first string not before the parse's
    parse_block(
        cursor, dictionary, parse.limit, next, end,
        [&](const StringEnd& ended, const std::uint8_t* at) {
            put_frozen_code(parse.stream, ended.code);
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

// Begins the frozen parse again at the restart's width, with its stream.
void begin_frozen_parse(FrozenParse& parse, const FrozenRestart& restart) {
    parse.active = true;
    parse.limit = end_code(restart.width);
    begin_frozen_stream(parse.stream, restart.width, restart.shared, restart.shared_codes);
}

// Begins the frozen parse again at the byte at `at`; parses the rest of the
// block, which ends at end.
template <class Table>
void parse_from_restart(FrozenParse& parse, Table& dictionary, const FrozenRestart& restart,
                        const std::uint8_t* block, const std::uint8_t* end) {
    const std::uint8_t* at = block + restart.offset;
    begin_frozen_parse(parse, restart);
    start_string(parse.cursor, at);
    parse_frozen(parse, dictionary, at + 1, end);
}

bool stream_failed(const FrozenParse& parse) {
    return frozen_stream_error(parse.stream) != 0;
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
bool fail(FrozenWorker& worker) {
    worker.failed = true;
    worker.holds_none = true;
    worker.changed.notify_all();
    return false;
}

// Shared codes packed ahead at a time, between looks for a block: few
// enough that a block handed over is not kept waiting.
constexpr std::size_t pack_step = std::size_t{1} << 13;

// Waits for a restart or the next block; false when there is nothing more to do.
bool take_step(FrozenWorker& worker, std::uint32_t& restarts_seen, std::uint64_t& next_block,
               Step& step) {
    std::unique_lock hold(worker.lock);
    if (worker.parse.active) worker.holding = next_block; // done with the blocks before it
    worker.changed.notify_all();
    auto ready = [&] {
        return worker.stopping || worker.restarts != restarts_seen || worker.input_done ||
               (worker.parse.active && next_block < worker.handed_over &&
                (!worker.restart_likely || next_block + lag_blocks < worker.handed_over));
    };
    while (!ready()) {
        // Idle: the shared codes packed now are off the unbounded thread's
        // path at the end. Packing goes on while another width is expected
        // to overflow too: a wrong guess costs only time the thread would
        // have waited.
        if (worker.parse.active && shared_left_to_pack(worker.parse.stream)) {
            hold.unlock();
            pack_shared_ahead(worker.parse.stream, pack_step);
            hold.lock();
            if (stream_failed(worker.parse)) return fail(worker);
        } else {
            worker.changed.wait(hold);
        }
    }
    if (worker.stopping) return false;
    step.restarting = worker.restarts != restarts_seen;
    if (step.restarting) {
        restarts_seen = worker.restarts;
        step.restart = worker.restart;
        next_block = worker.holding = step.restart.block;
    } else if (!worker.parse.active || next_block >= worker.handed_over) {
        return false; // the input has ended, and the parse with it
    }
    step.view = worker.view;
    worker.generation_in_use = step.view.generation;
    std::size_t slot = next_block % worker.ring.size();
    step.data = worker.ring[slot].data();
    step.size = worker.ring_sizes[slot];
    step.scouted = worker.scouted[slot].valid ? &worker.scouted[slot] : nullptr;
    return true;
}

void parse_blocks(FrozenWorker& worker) {
    FrozenParse& parse = worker.parse;
    std::uint32_t restarts_seen = 0;
    std::uint64_t next_block = 0;
    Step step;
    while (take_step(worker, restarts_seen, next_block, step)) {
        const std::uint8_t* end = step.data + step.size;
        if (step.restarting)
            parse_from_restart(parse, step.view, step.restart, step.data, end);
        else
            parse_frozen(parse, step.view, step.data, end, step.scouted);
        ++next_block;
        if (stream_failed(parse)) {
            std::lock_guard hold(worker.lock);
            fail(worker);
            return;
        }
    }
}

// The second thread. A write of the stream throws when a sink in memory
// cannot grow (in the parse, or packing ahead); the exception is kept for
// the leading thread, which meets it in finish_frozen_worker, and the run
// stops as after a failed write.
void run_worker(FrozenWorker* worker) {
    try {
        parse_blocks(*worker);
    } catch (...) {
        std::lock_guard hold(worker->lock);
        worker->thrown = std::current_exception();
        fail(*worker);
    }
}

void stop_thread(FrozenWorker& worker) {
    {
        std::lock_guard hold(worker.lock);
        worker.stopping = true;
    }
    worker.changed.notify_all();
    worker.thread.join();
}

} // namespace

FrozenWorker::~FrozenWorker() {
    if (thread.joinable()) stop_thread(*this);
}

bool start_frozen_worker(FrozenWorker& worker, Dictionary& dictionary, ByteSink& output,
                         bool allow_thread) {
    worker.dictionary = &dictionary;
    // The stream's buffer is made here, before any parse: running out of
    // memory for it fails the run at once.
    try {
        open_frozen_stream(worker.parse.stream, output);
    } catch (const std::bad_alloc&) {
        return false;
    }
    try {
        worker.ring.assign(ring_blocks, std::vector<std::uint8_t>(io_block_size + parse_slack));
        worker.ring_sizes.assign(ring_blocks, 0);
        worker.scouted.resize(ring_blocks);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // One processor gains nothing from the hand-off (the two threads would
    // only take turns), and a thread that cannot be had leaves the parse on
    // this one.
    if (!allow_thread || usable_processors() < 2) return true;
    try {
        worker.thread = std::thread(run_worker, &worker);
        worker.threaded = true;
        dictionary.keep_old_tables = true;
    } catch (const std::system_error&) {
    }
    return true;
}

namespace {

// Without a second thread: the frozen parse over a block from data to end,
// taking over the unbounded parse's strings where they are its own (see
// unbounded_strings.h). From `string_start` when a string starts there, else
// with the cursor's string going on at data.
void parse_frozen_following(FrozenWorker& worker, const std::uint8_t* data, const std::uint8_t* end,
                            const std::uint8_t* string_start) {
    FrozenParse& parse = worker.parse;
    UnboundedStrings& leading = worker.leading;
    const std::int64_t size = end - data;
    std::uint32_t length = 0; // of the string takes found
    // Whether the unbounded parse's string that starts at `at`, if one does,
    // is the frozen parse's next string, and ends in the block before its
    // last byte (so that the frozen parse can start its own string after it).
    auto takes = [&](std::int64_t at) {
        if (!follow_to(leading, at) || leading.codes[leading.next] >= parse.limit) return false;
        length = string_length(leading, leading.next);
        return at + length < size;
    };
    // Writes the codes of the strings taken over from `from` on; returns
    // their bytes.
    auto take_strings = [&](std::int64_t from) {
        std::int64_t at = from;
        while (takes(at)) {
            put_frozen_code(parse.stream, leading.codes[leading.next++]);
            leading.start += length;
            at += length;
        }
        return static_cast<std::uint32_t>(at - from);
    };
    auto string_ended = [&](const StringEnd& ended, const std::uint8_t* at) {
        put_frozen_code(parse.stream, ended.code);
        parse.cursor.skipped = take_strings(at - data);
        return parse.cursor.skipped == 0 ? AfterString::go_on : AfterString::skip;
    };
    work_out_lengths(leading);
    const std::uint8_t* next = string_start != nullptr
                                   ? string_start
                                   : parse_block<true>(parse.cursor, *worker.dictionary,
                                                       parse.limit, data, end, string_ended);
    while (next != end) {
        next += take_strings(next - data); // none where the parse stopped past a skip
        start_string(parse.cursor, next);
        next = parse_block<true>(parse.cursor, *worker.dictionary, parse.limit, next + 1, end,
                                 string_ended);
    }
    leading.start -= size;
}

// Without a second thread: the frozen parse over the oldest block in the ring.
void parse_oldest_block(FrozenWorker& worker) {
    FrozenParse& parse = worker.parse;
    std::uint64_t block = worker.parsed++;
    const std::uint8_t* data = worker.ring[block % worker.ring.size()].data();
    const std::uint8_t* end = data + worker.ring_sizes[block % worker.ring.size()];
    if (worker.restart_pending && worker.restart.block == block) {
        const FrozenRestart& restart = worker.restart;
        begin_frozen_parse(parse, restart);
        restart_following(worker.leading, restart.shared_codes, restart.shared,
                          static_cast<std::int64_t>(restart.offset));
        parse_frozen_following(worker, data, end, data + restart.offset);
        worker.restart_pending = false;
    } else if (parse.active) {
        parse_frozen_following(worker, data, end, nullptr);
    }
    worker.failed = stream_failed(parse);
}

// Doubles the ring (without a second thread), keeping the blocks handed
// over that the frozen parse has not reached in the slots they now map to.
void grow_ring(FrozenWorker& worker) {
    std::size_t size = worker.ring.size();
    std::vector<std::vector<std::uint8_t>> ring(2 * size);
    std::vector<std::size_t> ring_sizes(2 * size, 0);
    for (std::uint64_t block = worker.parsed; block < worker.handed_over; ++block) {
        ring[block % (2 * size)] = std::move(worker.ring[block % size]);
        ring_sizes[block % (2 * size)] = worker.ring_sizes[block % size];
    }
    worker.ring = std::move(ring);
    worker.ring_sizes = std::move(ring_sizes);
}

// Copies a block into the ring's next slot, which is the leading thread's.
void copy_to_ring(FrozenWorker& worker, std::size_t slot, const std::uint8_t* data,
                  std::size_t size) {
    std::vector<std::uint8_t>& copy = worker.ring[slot];
    if (copy.size() < size + parse_slack) copy.resize(size + parse_slack);
    std::memcpy(copy.data(), data, size);
    worker.ring_sizes[slot] = size;
}

} // namespace

bool hand_over_block(FrozenWorker& worker, const std::uint8_t* data, std::size_t size,
                     bool restart_likely, std::uint32_t scout_limit) {
    if (!worker.threaded) {
        if (worker.handed_over - worker.parsed == worker.ring.size() && !worker.failed) {
            bool parsing = worker.parse.active || worker.restart_pending;
            if (parsing && restart_likely && worker.ring.size() < most_ring_blocks)
                grow_ring(worker);
            else
                parse_oldest_block(worker);
        }
        if (worker.failed) return false;
        copy_to_ring(worker, worker.handed_over++ % worker.ring.size(), data, size);
        return true;
    }
    std::unique_lock hold(worker.lock);
    worker.changed.wait(hold, [&] {
        return worker.failed || worker.holds_none ||
               worker.handed_over < worker.holding + worker.ring.size();
    });
    if (worker.failed) return false;
    std::size_t slot = worker.handed_over % worker.ring.size();
    hold.unlock();
    // The slot's block is behind the frozen parse: only this thread uses it now.
    copy_to_ring(worker, slot, data, size);
    ScoutedBlock& scouted = worker.scouted[slot];
    scouted.valid = false;
    if (scout_limit != 0) {
        try {
            scout_block(scouted, *worker.dictionary, scout_limit, data, size);
        } catch (const std::bad_alloc&) {
            scouted.valid = false; // the frozen parse parses the block itself
        }
    }
    hold.lock();
    ++worker.handed_over;
    worker.restart_likely = restart_likely;
    Dictionary& dictionary = *worker.dictionary;
    worker.view = view_of(dictionary);
    release_old_tables(dictionary,
                       worker.holds_none ? dictionary.generation : worker.generation_in_use);
    hold.unlock();
    worker.changed.notify_all();
    return true;
}

void restart_frozen(FrozenWorker& worker, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset) {
    if (!worker.threaded) {
        // The blocks before this one are passed over: their parse would be
        // at a width now dropped.
        worker.parsed = worker.handed_over - 1;
        worker.restart = {width, shared, shared_codes, worker.parsed, offset};
        worker.restart_pending = true;
        return;
    }
    {
        std::lock_guard hold(worker.lock);
        std::uint64_t block = worker.handed_over - 1;
        worker.restart = {width, shared, shared_codes, block, offset};
        ++worker.restarts;
        // Until the frozen parse takes the restart, this block must stay.
        if (worker.holds_none || worker.holding > block) worker.holding = block;
        worker.view = view_of(*worker.dictionary);
        if (worker.holds_none) worker.generation_in_use = worker.view.generation;
        worker.holds_none = false;
    }
    worker.changed.notify_all();
}

void tell_unbounded_codes(FrozenWorker& worker, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity) {
    if (!worker.threaded) note_unbounded_codes(worker.leading, codes, made, capacity);
}

void finish_frozen_worker(FrozenWorker& worker) {
    if (!worker.threaded) {
        while (worker.parsed < worker.handed_over && !worker.failed)
            parse_oldest_block(worker);
        return;
    }
    {
        std::lock_guard hold(worker.lock);
        worker.input_done = true;
    }
    worker.changed.notify_all();
    worker.thread.join();
    worker.threaded = false;
    // The frozen parse probes no table now.
    release_old_tables(*worker.dictionary, worker.dictionary->generation);
    if (worker.thrown != nullptr) std::rethrow_exception(worker.thrown);
}

} // namespace tarnwel
