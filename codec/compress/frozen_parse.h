// The parse at a width whose dictionary has frozen, run beside the parse
// that grows the dictionary: what it is, and what the two ways of running
// it share.
//
// While the width is still being chosen, the parse that grows the dictionary
// without bound (the unbounded parse) reads the input, and at the widest width
// that has overflowed so far a second parse goes on with that width's frozen
// dictionary, writing its stream. When a wider width overflows, the frozen
// parse begins again from that byte. It needs only entries below its width's
// limit, all of them stored before it began, so it can probe the unbounded
// parse's tables while they fill (dictionary.h says why that is safe).
//
// The unbounded parse hands the frozen parse each block before it parses it,
// and the frozen parse runs over copies of the blocks in a ring. How it gets
// them is one of two hand-offs:
// - the ring (frozen_ring.h): the frozen parse on a second thread, taking
//   the blocks as they are handed over;
// - the following (frozen_following.h): without a second thread, the frozen
//   parse on the unbounded parse's thread, a ring's length of blocks behind,
//   following the unbounded parse's strings where they are its own.
// The compressor takes the following where no second thread can help, and
// otherwise the switching hand-off (frozen_switching.h), which runs the
// ring and moves the parse to the following and back, at block boundaries,
// as the second core turns out busy or free.
// The stream is the same either way. Each hand-off has the same calls, on
// its own state: hand_over_block, restart_frozen, tell_unbounded_codes and
// finish_frozen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "byte_streams.h"
#include "parse_step.h"
#include "stream_assembly.h"

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

// What the unbounded parse says of a block as it hands it over.
struct BlockNotes {
    // It expects another width to overflow before the input ends, so that
    // the frozen parse may as well stay behind: its stream at the present
    // width would be thrown away at that restart.
    bool restart_likely = false;
    // Nonzero: the dictionary will not change again, and the block may be
    // scouted, with the frozen parse's code limit (frozen_ring.h).
    std::uint32_t scout_limit = 0;
};

// Blocks the unbounded parse may run ahead of the frozen one: enough to ride
// out the moments when one of them is slowed (a table growing, a write),
// small beside the tables. The ring starts with this many; the ring's
// second thread keeps them, the following may grow them.
inline constexpr std::size_t ring_blocks = 64;

// One block's copy, with the parse's slack after it. Made without clearing
// it: a slot's pages are touched only when a block lands in it, so a small
// input does not pay for the whole ring.
struct BlockCopy {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    const std::uint8_t* data() const { return bytes.get(); }
};

// The copies of the blocks handed over: block n in slot n % copies.size().
struct BlockRing {
    std::vector<BlockCopy> copies;
    std::vector<std::size_t> sizes;
};

// Ties the frozen parse's stream to output and makes its buffer, and the
// ring's ring_blocks slots, before any parse: false when memory runs out,
// which fails the run at once.
bool open_frozen_parse(FrozenParse& parse, BlockRing& ring, ByteSink& output);

// Copies a block into the ring's slot for block number `block`.
void copy_block(BlockRing& ring, std::uint64_t block, const std::uint8_t* data, std::size_t size);

inline std::size_t ring_slot(const BlockRing& ring, std::uint64_t block) {
    return static_cast<std::size_t>(block % ring.copies.size());
}

// Begins the frozen parse again at the restart's width, with its stream.
void begin_frozen_parse(FrozenParse& parse, const FrozenRestart& restart);

inline bool frozen_parse_failed(const FrozenParse& parse) {
    return frozen_stream_error(parse.stream) != 0;
}

// The frozen parse over the bytes from next to end, with the cursor's
// string going on at next. Where a string ends it writes the string's code,
// and then goes on as after_code(at) says, at being where the next string
// starts (parse_step.h's AfterString). Returns where it stopped: end when it
// ran through the block.
template <bool may_skip = false, class Table, class AfterCode>
[[gnu::always_inline]] inline const std::uint8_t*
parse_frozen(FrozenParse& parse, Table& dictionary, const std::uint8_t* next,
             const std::uint8_t* end, AfterCode&& after_code) {
    return parse_block<may_skip>(parse.cursor, dictionary, parse.limit, next, end,
                                 [&](const StringEnd& ended, const std::uint8_t* at) {
                                     put_frozen_code(parse.stream, ended.code);
                                     return after_code(at);
                                 });
}

} // namespace tarnwel
