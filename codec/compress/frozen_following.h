// The frozen parse without a second thread (frozen_parse.h says what it
// is): it runs on the unbounded parse's thread, over each block a ring's
// length of blocks after the unbounded parse is done with it. The same
// restarts, the same stream as on a second thread, but no parse at a width
// that a restart drops before the parse reaches it. While the unbounded
// parse expects another width to overflow, the ring grows (to 16 MiB)
// instead, so that the parse at the width about to be dropped is not made
// at all.
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

#include <cstdint>

#include "dictionary.h"
#include "frozen_parse.h"
#include "unbounded_strings.h"

namespace tarnwel {

// All of it the unbounded parse's thread's, which runs the frozen parse
// inside hand_over_block and finish_frozen.
struct FrozenFollowing {
    Dictionary* dictionary = nullptr;
    FrozenParse parse;
    // The copies of the blocks handed over, handed_over of them so far, of
    // which the frozen parse is done with the first `parsed`. The ring
    // holds the rest, and may grow for them (see hand_over_block).
    BlockRing blocks;
    std::uint64_t handed_over = 0;
    std::uint64_t parsed = 0;
    // The latest restart, pending until the frozen parse reaches the block
    // it names.
    FrozenRestart restart;
    bool restart_pending = false;
    bool failed = false;        // the frozen stream failed to write
    UnboundedStrings unbounded; // the unbounded parse's strings, followed by the frozen parse
};

// Prepares the frozen parse over dictionary (made already), writing into
// output. False when memory runs out.
bool start_frozen_following(FrozenFollowing& following, Dictionary& dictionary, ByteSink& output);

// The unbounded parse hands over each block before parsing it; the frozen
// parse takes the oldest block in the ring when the ring is full, unless the
// ring grows instead. False when the frozen stream has failed: the run is
// over.
bool hand_over_block(FrozenFollowing& following, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes);

// The unbounded parse tells the frozen parse about its codes before each
// block it hands over and before the input ends: it has written `made` of
// them, in a list with room for capacity.
void tell_unbounded_codes(FrozenFollowing& following, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity);

// The frozen parse begins again at width from the byte at offset of the
// block handed over last, after the shared codes. The blocks before that
// one are passed over: their parse would be at a width now dropped.
void restart_frozen(FrozenFollowing& following, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset);

// The input has ended: the frozen parse runs over the blocks left in the
// ring. Throws what its stream threw (std::bad_alloc from a sink in memory).
void finish_frozen(FrozenFollowing& following);

} // namespace tarnwel
