#include "frozen_following.h"

#include <utility>
#include <vector>

namespace tarnwel {

namespace {

// While the unbounded parse expects another width to overflow, the ring
// grows up to this many blocks (16 MiB) rather than have the frozen parse
// take its oldest block, whose parse the restart would throw away: without
// it, a one-core run spent much of its time parsing at widths later
// dropped. (The second thread keeps its ring as it is: once its width is
// kept, it must catch up with the unbounded parse before the input ends,
// so it stays behind only while a restart is likely, and then by half the
// ring; see frozen_ring.cpp.)
constexpr std::size_t most_ring_blocks = 256;

// The frozen parse over a block from data to end, taking over the unbounded
// parse's strings where they are its own (see unbounded_strings.h). From
// `string_start` when a string starts there, else with the cursor's string
// going on at data.
void parse_following(FrozenFollowing& following, const std::uint8_t* data, const std::uint8_t* end,
                     const std::uint8_t* string_start) {
    FrozenParse& parse = following.parse;
    UnboundedStrings& unbounded = following.unbounded;
    const std::int64_t size = end - data;
    std::uint32_t length = 0; // of the string takes found
    // Whether the unbounded parse's string that starts at `at`, if one does,
    // is the frozen parse's next string, and ends in the block before its
    // last byte (so that the frozen parse can start its own string after it).
    auto takes = [&](std::int64_t at) {
        if (!follow_to(unbounded, at) || unbounded.codes[unbounded.next] >= parse.limit)
            return false;
        length = string_length(unbounded, unbounded.next);
        return at + length < size;
    };
    // Writes the codes of the strings taken over from `from` on; returns
    // their bytes.
    auto take_strings = [&](std::int64_t from) {
        std::int64_t at = from;
        while (takes(at)) {
            put_frozen_code(parse.stream, unbounded.codes[unbounded.next++]);
            unbounded.start += length;
            at += length;
        }
        return static_cast<std::uint32_t>(at - from);
    };
    auto after_code = [&](const std::uint8_t* at) {
        parse.cursor.skipped = take_strings(at - data);
        return parse.cursor.skipped == 0 ? AfterString::go_on : AfterString::skip;
    };
    work_out_lengths(unbounded);
    Dictionary& dictionary = *following.dictionary;
    const std::uint8_t* next = string_start != nullptr
                                   ? string_start
                                   : parse_frozen<true>(parse, dictionary, data, end, after_code);
    while (next != end) {
        next += take_strings(next - data); // none where the parse stopped past a skip
        start_string(parse.cursor, next);
        next = parse_frozen<true>(parse, dictionary, next + 1, end, after_code);
    }
    unbounded.start -= size;
}

// The frozen parse over the oldest block in the ring.
void parse_oldest_block(FrozenFollowing& following) {
    FrozenParse& parse = following.parse;
    std::uint64_t block = following.parsed++;
    std::size_t slot = ring_slot(following.blocks, block);
    const std::uint8_t* data = following.blocks.copies[slot].data();
    const std::uint8_t* end = data + following.blocks.sizes[slot];
    if (following.restart_pending && following.restart.block == block) {
        const FrozenRestart& restart = following.restart;
        begin_frozen_parse(parse, restart);
        restart_following(following.unbounded, restart.shared_codes, restart.shared,
                          static_cast<std::int64_t>(restart.offset));
        parse_following(following, data, end, data + restart.offset);
        following.restart_pending = false;
    } else if (parse.active) {
        parse_following(following, data, end, nullptr);
    }
    following.failed = frozen_parse_failed(parse);
}

// Doubles the ring, keeping the blocks handed over that the frozen parse
// has not reached in the slots they now map to.
void grow_ring(FrozenFollowing& following) {
    BlockRing& blocks = following.blocks;
    std::size_t size = blocks.copies.size();
    BlockRing grown;
    grown.copies.resize(2 * size);
    grown.sizes.assign(2 * size, 0);
    for (std::uint64_t block = following.parsed; block < following.handed_over; ++block) {
        grown.copies[block % (2 * size)] = std::move(blocks.copies[block % size]);
        grown.sizes[block % (2 * size)] = blocks.sizes[block % size];
    }
    blocks = std::move(grown);
}

} // namespace

bool start_frozen_following(FrozenFollowing& following, Dictionary& dictionary, ByteSink& output) {
    following.dictionary = &dictionary;
    return open_frozen_parse(following.parse, following.blocks, output);
}

bool hand_over_block(FrozenFollowing& following, const std::uint8_t* data, std::size_t size,
                     BlockNotes notes) {
    if (following.handed_over - following.parsed == following.blocks.copies.size() &&
        !following.failed) {
        bool parsing = following.parse.active || following.restart_pending;
        if (parsing && notes.restart_likely && following.blocks.copies.size() < most_ring_blocks)
            grow_ring(following);
        else
            parse_oldest_block(following);
    }
    if (following.failed) return false;
    copy_block(following.blocks, following.handed_over++, data, size);
    return true;
}

void tell_unbounded_codes(FrozenFollowing& following, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity) {
    note_unbounded_codes(following.unbounded, codes, made, capacity);
}

void restart_frozen(FrozenFollowing& following, int width, std::size_t shared,
                    const std::uint32_t* shared_codes, std::size_t offset) {
    following.parsed = following.handed_over - 1;
    following.restart = {width, shared, shared_codes, following.parsed, offset};
    following.restart_pending = true;
}

void finish_frozen(FrozenFollowing& following) {
    while (following.parsed < following.handed_over && !following.failed)
        parse_oldest_block(following);
}

} // namespace tarnwel
