// The parse at a width whose dictionary has frozen, run beside the parse
// that grows the dictionary, on a second thread where there is one.
//
// While the width is still being chosen, the parse that grows the dictionary
// without bound (the unbounded parse) reads the input, and at the widest width
// that has overflowed so far a second parse goes on with that width's frozen
// dictionary, writing its stream. When a wider width overflows, the frozen
// parse begins again from that byte. It needs only entries below its width's
// limit, all of them stored before it began, so it can probe the leading
// parse's tables while they fill (dictionary.h says why that is safe).
//
// Hand-off with a second thread, block by block:
// - The unbounded parse copies each block into a ring of blocks before
//   parsing it, and waits while the ring is full.
// - A restart names a block and an offset in it. The unbounded parse is in
//   that block when it posts the restart, and the frozen parse never runs
//   past the blocks handed over, so the block is still in the ring.
// - Growing the dictionary makes a new table; the old one is kept until the
//   frozen parse has taken a view of a newer generation (it takes one with
//   each block and each restart).
// - The frozen parse stops, and says so, when its stream fails to write; the
//   unbounded parse stops at its next block.
// - Once the trial at the widest width allowed has overflowed, the
//   dictionary never changes again and the unbounded parse has nothing left
//   to do but hand blocks over. It then parses every other block itself,
//   from the block's first byte as if a string started there, before
//   handing it over with the codes and string starts it found (scouting).
//   The frozen parse, reaching such a block, goes on until one of its
//   strings starts where one of the scout's did: from there the two parses
//   are the same (same start, same dictionary), so it takes the scout's
//   codes and open string and moves on. Parses that start apart meet again
//   within a few strings; if they never do, the frozen parse has simply
//   parsed the block itself.
// - While it waits for a block, the second thread packs the shared codes
//   in front of its stream (stream_assembly.h), which the end of the run
//   would otherwise wait for.
// Without a second thread the frozen parse runs over each block a ring's
// length of blocks after the unbounded parse is done with it: the same
// restarts, the same stream, but no parse at a width that a restart drops
// before the parse reaches it. While the unbounded parse expects another width
// to overflow, the ring grows (to 16 MiB) instead, so that the parse at the
// width about to be dropped is not made at all.
//
// And there the frozen parse takes over the unbounded parse's strings where
// they are its own. The frozen dictionary is the unbounded one's strings with
// codes below the limit, and a string's code is above its prefixes', so
// where one of the unbounded parse's strings starts where the frozen parse's
// next one does, with a code below the limit, it is the frozen parse's
// string too: its code is written without a probe, and the parse goes on
// after it. The lengths that place the unbounded parse's strings are worked
// out behind it, from its codes (unbounded_strings.h). Working them out and
// following them take more instructions than the probes they save, but the
// probes they save are the ones that wait on memory.
// Tried and dropped: following on the second thread too, because it saved
// processor time but no wall time and took more memory; see
// docs/performance.md.
//
// Tried and dropped there: the unbounded parse keeping each string's length
// itself, or marking where its strings end, because either slows the parse
// that sets the pace (and the marks take memory); see docs/performance.md.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/dictionary.h"
#include "codec/parse_step.h"
#include "codec/stream_assembly.h"
#include "codec/unbounded_strings.h"

namespace tarnwel {

struct FrozenParse {
    bool active = false;
    std::uint32_t limit = 0; // end_code(bits): wider codes are not in its dictionary
    Cursor cursor;           // the string being matched
    FrozenStream stream;
};

struct FrozenRestart {
    int width = 0;
    std::size_t shared = 0; // codes of the unbounded parse in front of this stream
    const std::uint32_t* shared_codes = nullptr; // and those codes, which stay as they are
    std::uint64_t block = 0;                     // in the order handed over, from 0
    std::size_t offset = 0;                      // of the first byte in that block
};

// A block the unbounded parse scouted: the codes of the strings that end in
// it, the offset where each string starts (one more than the codes: the
// string still open at the block's end has no code yet), and that string.
struct ScoutedBlock {
    bool valid = false;
    std::vector<std::uint32_t> codes;
    std::vector<std::uint32_t> starts;
    Cursor open;
};

// Who owns each field while a second thread runs. "Leading" is the thread
// that calls these functions, "frozen" the second thread, "lock" the mutex.
struct FrozenWorker {
    Dictionary* dictionary = nullptr; // leading: it alone grows the dictionary
    FrozenParse parse;                // frozen while it runs; leading once it has joined
    bool threaded = false;            // leading
    std::thread thread;               // leading

    // Without a second thread (leading only): the frozen parse runs a ring's
    // length of blocks behind, over the copies in the ring, so that a
    // restart passes over the blocks it has not reached, whose parse at the
    // width dropped would have been thrown away; the ring may grow for that
    // (see hand_over_block). parsed counts the blocks handed over that it is
    // done with; restart is pending in the block it names.
    std::uint64_t parsed = 0;
    bool restart_pending = false;
    UnboundedStrings leading; // the unbounded parse's strings, followed by the frozen parse

    std::mutex lock;
    std::condition_variable changed;
    // The ring of blocks (a fixed number of them with a second thread) is not
    // under the lock: by the hand-over protocol, a slot from handed_over on
    // belongs to the unbounded parse, which fills it (and scouts it) before it
    // counts it as handed over; a slot from holding up to handed_over belongs
    // to the frozen parse, which only reads it. So the frozen parse may run
    // up to the ring's length of blocks behind the unbounded one.
    std::vector<std::vector<std::uint8_t>> ring;
    std::vector<std::size_t> ring_sizes;
    std::vector<ScoutedBlock> scouted; // by ring slot, owned like the slot
    // Under the lock:
    std::uint64_t handed_over = 0; // blocks
    std::uint64_t holding = 0;     // first block the frozen parse may still read
    bool holds_none = true;        // it holds no block (no stream yet)
    FrozenRestart restart;         // the latest restart posted
    std::uint32_t restarts = 0;    // posted so far
    DictionaryView view;           // the newest tables, as of the latest hand-off or restart
    int generation_in_use = 0;     // the oldest generation the frozen parse may still probe
    bool restart_likely = false;   // as the unbounded parse said with the latest block
    bool input_done = false;
    bool stopping = false;
    bool failed = false;       // its stream failed to write
    std::exception_ptr thrown; // by the second thread, which then failed

    FrozenWorker() = default;
    FrozenWorker(const FrozenWorker&) = delete;
    FrozenWorker& operator=(const FrozenWorker&) = delete;
    ~FrozenWorker();
};

// Prepares the frozen parse over dictionary (made already: it is told here
// to keep the tables growing replaces), writing into output. Uses a second
// thread if allowed and one is to be had. False when memory runs out.
bool start_frozen_worker(FrozenWorker& worker, Dictionary& dictionary, ByteSink& output,
                         bool allow_thread);

// The unbounded parse hands over each block before parsing it. False when the
// frozen stream has failed: the run is over. restart_likely says the leading
// parse expects another width to overflow before the input ends, so that
// the frozen parse may as well stay behind. A nonzero scout_limit says the
// dictionary will not change again and the block may be scouted, with the
// frozen parse's code limit.
bool hand_over_block(FrozenWorker& worker, const std::uint8_t* data, std::size_t size,
                     bool restart_likely = false, std::uint32_t scout_limit = 0);

// Without a second thread, the unbounded parse tells the frozen parse about
// its codes before each block it hands over and before the input ends: it
// has written `made` of them, in a list with room for capacity.
void tell_unbounded_codes(FrozenWorker& worker, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity);

// The frozen parse begins again at bits from the byte at offset of the block
// handed over last, after the shared codes, which must stay as they are
// until the run ends: the second thread may pack them ahead while it waits
// for blocks.
void restart_frozen(FrozenWorker& worker, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset);

// The input has ended: waits for the frozen parse to reach its end. After
// this, worker.parse is the caller's. Throws what the frozen parse threw
// (std::bad_alloc from a sink in memory), on either thread.
void finish_frozen_worker(FrozenWorker& worker);

} // namespace tarnwel
