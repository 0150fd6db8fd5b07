// The frozen parse on a second thread (frozen_parse.h says what it is),
// handed its blocks through a ring, block by block:
// - The unbounded parse copies each block into the ring before parsing it,
//   and waits while the ring is full.
// - A restart names a block and an offset in it. The unbounded parse is in
//   that block when it posts the restart, and the frozen parse never runs
//   past the blocks handed over, so the block is still in the ring.
// - While the unbounded parse expects another width to overflow, the frozen
//   parse stays half the ring behind: its stream at the present width would
//   be thrown away at that restart.
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
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include "dictionary.h"
#include "frozen_parse.h"
#include "processor_time.h"
#include "worker_thread.h"

namespace tarnwel {

// A block the unbounded parse scouted: the codes of the strings that end in
// it, the offset where each string starts (one more than the codes: the
// string still open at the block's end has no code yet), and that string.
struct ScoutedBlock {
    bool valid = false;
    std::vector<std::uint32_t> codes;
    std::vector<std::uint32_t> starts;
    Cursor open;
};

// Who owns each field while the second thread runs. "Unbounded" is the
// thread that calls these functions, the unbounded parse's; "frozen" the
// second thread; "lock" the mutex.
struct FrozenRing {
    Dictionary* dictionary = nullptr; // unbounded: it alone grows the dictionary
    FrozenParse parse;                // frozen while it runs; unbounded once it has joined
    WorkerThread worker;              // unbounded

    std::mutex lock;
    std::condition_variable changed;
    // The ring of blocks is not under the lock: by the hand-over protocol, a
    // slot from handed_over on belongs to the unbounded parse, which fills it
    // (and scouts it) before it counts it as handed over; a slot from
    // holding up to handed_over belongs to the frozen parse, which only
    // reads it. So the frozen parse may run up to the ring's length of
    // blocks behind the unbounded one.
    BlockRing blocks;
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
    // Parking (see park_frozen_ring): the unbounded parse asks the second
    // thread to stop, and it ends at its next block boundary, leaving where
    // it is in next_block and restarts_seen. While it is parked, parse,
    // blocks, scouted and those two are the unbounded parse's; it sets them
    // before it starts the thread again.
    std::uint64_t next_block = 0;    // the next block the frozen parse reads
    std::uint32_t restarts_seen = 0; // the restarts it has taken
    bool failed = false;             // its stream failed to write
    std::exception_ptr thrown;       // unbounded: what the thread threw, once joined
    // The second thread, named by itself as it starts (again after each
    // park), so that the caller can read what it gets of a core; zeros
    // until then.
    WatchedThread frozen_thread;
    // Unbounded: seconds it has waited for a slot, so that a caller can
    // tell that wait from time it was kept off a processor.
    double waited_seconds = 0;

    FrozenRing() = default;
    FrozenRing(const FrozenRing&) = delete;
    FrozenRing& operator=(const FrozenRing&) = delete;
    ~FrozenRing();
};

enum class RingStart { started, no_thread, out_of_memory };

// Starts the second thread for the frozen parse over dictionary (made
// already), writing into output, and tells the dictionary to keep the
// tables growing replaces, which the second thread may still probe. Without
// a thread to be had, nothing is started: the caller runs the following
// (frozen_following.h) instead.
RingStart start_frozen_ring(FrozenRing& ring, Dictionary& dictionary, ByteSink& output);

// The unbounded parse hands over each block before parsing it. False when the
// frozen stream has failed: the run is over. Waits while the ring is full;
// scouts the block when the notes allow it.
bool hand_over_block(FrozenRing& ring, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes);

// The second thread needs none of the unbounded parse's codes but the
// shared ones, which come with each restart.
inline void tell_unbounded_codes(FrozenRing&, const std::uint32_t*, std::size_t, std::size_t) {}

// The frozen parse begins again at width from the byte at offset of the
// block handed over last, after the shared codes, which must stay as they
// are until the run ends: the second thread may pack them ahead while it
// waits for blocks.
void restart_frozen(FrozenRing& ring, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset);

// Stops the second thread at its next block boundary and joins it: parse,
// blocks, scouted and where the frozen parse stands (next_block,
// restarts_seen, and a restart posted that it has not taken) are then the
// caller's, to go on with on this thread. False when the frozen stream has
// failed: the run is over.
bool park_frozen_ring(FrozenRing& ring);

// Starts the second thread again, to go on from next_block, or from a
// restart posted beyond restarts_seen, with what parse and blocks hold
// then: the blocks from there up to handed_over are in the ring, and
// scouted has a slot for each of the ring's. False, with nothing started,
// when no thread is to be had: all of it stays the caller's.
bool resume_frozen_ring(FrozenRing& ring);

// The input has ended: waits for the frozen parse to reach its end and
// joins the second thread. After this, ring.parse is the caller's. Throws
// what the frozen parse threw (std::bad_alloc from a sink in memory).
void finish_frozen(FrozenRing& ring);

} // namespace tarnwel
