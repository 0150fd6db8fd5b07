// The parse, written once: the step every parse takes at each byte of its
// input, and the loop over a block. Its callers are the unbounded parse
// (whose dictionary grows without bound), the parse frozen at a narrower
// width, and the scout that parses blocks ahead for the frozen parse; each
// says only what it does where a string ends.
#pragma once

#include <algorithm>
#include <cstdint>

#include "codec/byte_io.h"
#include "codec/dictionary.h"

namespace tarnwel {

// A limit above every code: the parse of a dictionary still growing.
inline constexpr std::uint32_t no_code_limit = ~std::uint32_t{0};

// A string that ends because the dictionary lacks it with the next byte:
// its code, and where the longer string belongs and its content hash, which
// a parse that adds the string needs.
struct StringEnd {
    StringPlace place;
    std::uint64_t hash = 0;
    std::uint32_t code = 0;
};

// Bytes past a block's end that the parse may read. Its requests for slots
// ahead hash the bytes a few places on without testing where the block
// ends; what they read there only ever picks an address to ask for, never a
// code. Every block the parse runs over has this many readable bytes after
// it (ByteReader's buffer and the frozen parse's ring both do).
inline constexpr std::size_t parse_slack = 32;
static_assert(parse_slack <= reader_slack, "a reader's blocks carry the parse's slack");

// How many levels beyond the parse's the lookahead asks for. A new string
// starts with the level past the pair, and the lookahead grows by two levels
// a byte while the string goes on, so short strings (random data) do not
// flood the memory system with requests they never use, and long ones
// (text) soon have their next levels on the way. (A string asked for its
// fourth level at once too, before: on 32 MiB inputs, two threads, that
// took 8% more time on random bytes and 2.5% more on executables, and the
// same on text; in the unbounded parse, 3.8 instructions a byte more on
// random bytes. Five levels instead of four took 0.9 instructions a byte
// more on text and 0.7 on executables, and no less time on any input.)
inline constexpr std::ptrdiff_t levels_ahead = 4;

// The lookahead keeps what it worked out for each byte it hashed, by the
// byte's address modulo this: the parse's own byte and those ahead of it.
inline constexpr std::uintptr_t ahead_ring = 8;

// How far ahead of the parse the slot of the string starting at each byte
// is asked for (see prefetch_position).
inline constexpr std::ptrdiff_t position_distance = 16;
static_assert(levels_ahead + 1 < static_cast<std::ptrdiff_t>(ahead_ring),
              "the ring holds the parse's byte and the bytes hashed ahead of it");

// One parse's place in the input: the string matched so far, and what the
// lookahead worked out along it.
//
// A string's content hash at each level, and the slot where its probe
// starts, are worked out once, by the lookahead, a few bytes before the
// parse gets there; the parse takes them from the ring. (The parse hashed
// each level again itself before, and the lookahead tested for the block's
// end at each step: 5 instructions a byte more on text.)
struct Cursor {
    std::uint32_t code = 0;
    std::uint32_t length = 0;            // bytes in the string
    const std::uint8_t* ahead = nullptr; // next byte to hash; nullptr between blocks
    std::uint64_t ahead_hash = 0;        // content hash of the string up to ahead
    // Between blocks: the whole string's hash (three bytes or more), or its
    // bytes (one or two), for the lookahead to begin again from.
    std::uint64_t hash = 0;
    std::uint8_t first_bytes[2] = {};
    // For each byte from the parse's to the one before ahead, at its address
    // modulo ahead_ring: the content hash of the string through that byte,
    // and its home slot in the tables the lookahead saw. Valid within the
    // block alone.
    std::uint64_t hashes[ahead_ring] = {};
    std::uint32_t homes[ahead_ring] = {};
};

inline std::size_t ring_index(const std::uint8_t* at) {
    return reinterpret_cast<std::uintptr_t>(at) % ahead_ring;
}

// Keeps the hash of the string through the byte at `at`, and its home
// slot, in the ring for the parse; returns the slot.
// (Returned whole, not as the ring keeps it: going through 32 bits cost a
// zero extension at every slot asked for: 1.4 instructions a byte on text,
// 1.0 on random bytes, in the unbounded parse.)
inline std::size_t keep_level(Cursor& cursor, const std::uint8_t* at, std::uint64_t hash,
                              const DictionaryView& tables) {
    std::size_t i = ring_index(at);
    std::size_t home = home_slot_of_hash(tables, hash);
    cursor.hashes[i] = hash;
    cursor.homes[i] = static_cast<std::uint32_t>(home);
    return home;
}

// Hashes the byte at ahead into the string and asks for the slot of the
// string through it.
TARNWEL_PREFETCH_HELPER void look_ahead(Cursor& cursor, const std::uint8_t*& ahead,
                                        std::uint64_t& ahead_hash, const DictionaryView& tables) {
    ahead_hash = extend_hash(ahead_hash, *ahead);
    __builtin_prefetch(&tables.slots[keep_level(cursor, ahead++, ahead_hash, tables)]);
}

// Starts a string at the byte at `at`, and asks for its slot at three
// bytes: the parts of the cursor it sets are passed apart, so that the
// parse can keep them in registers.
TARNWEL_PREFETCH_HELPER void begin_string(Cursor& cursor, std::uint32_t& code,
                                          std::uint32_t& length, const std::uint8_t*& ahead,
                                          std::uint64_t& ahead_hash, const DictionaryView& tables,
                                          const std::uint8_t* at) {
    code = *at;
    length = 1;
    // Its third level's slot may have been asked for already, by
    // prefetch_position: hashing its bytes again (one load and a multiply)
    // costs less than keeping that hash in a ring tagged by address, which
    // took 2.4 instructions a byte more on random bytes.
    ahead_hash = three_byte_hash_at(at);
    __builtin_prefetch(&tables.slots[keep_level(cursor, at + 2, ahead_hash, tables)]);
    ahead = at + 3;
}

template <class Table>
inline void start_string(Cursor& cursor, Table& dictionary, const std::uint8_t* at) {
    begin_string(cursor, cursor.code, cursor.length, cursor.ahead, cursor.ahead_hash,
                 view_of(dictionary), at);
}

// A string that goes on from the block before: its lookahead stopped at
// that block's end, and begins again at next, from what the cursor kept of
// the string, as deep as it would be for a string that began in this block.
template <class Table>
inline void resume_lookahead(Cursor& cursor, Table& dictionary, const std::uint8_t* next) {
    DictionaryView tables = view_of(dictionary);
    if (cursor.length >= 3) {
        cursor.ahead_hash = cursor.hash;
        cursor.ahead = next;
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(cursor.length - 1, levels_ahead); ++i)
            look_ahead(cursor, cursor.ahead, cursor.ahead_hash, tables);
        return;
    }
    // Its third byte is here (or, in a block of one byte, past it: the
    // hash then only picks a slot to prefetch, and is worked out again
    // from the bytes kept at this block's end).
    const std::uint8_t* third = next + (2 - cursor.length);
    cursor.ahead_hash =
        cursor.length == 1 ? three_byte_hash(cursor.first_bytes[0], next[0], next[1])
                           : three_byte_hash(cursor.first_bytes[0], cursor.first_bytes[1], next[0]);
    __builtin_prefetch(&tables.slots[keep_level(cursor, third, cursor.ahead_hash, tables)]);
    cursor.ahead = third + 1;
}

// Strings can start at any byte, and a parse meets one every few bytes: a
// little ahead of the parse, asks for the slot of the three-byte string that
// starts there, which only the input decides. The parse asks while its
// string is short (below short_string bytes): a string that has gone on that
// long tends to go on past the position asked for, and on text the requests
// then cost more than they save (3 to 8% of the time on 32 MiB of manual
// pages), while on random bytes, whose strings are short, they save over a
// quarter.
inline constexpr std::uint32_t short_string = 4;
static_assert(position_distance + 4 <= static_cast<std::ptrdiff_t>(parse_slack),
              "the position asked for lies in the block or its slack");

TARNWEL_PREFETCH_HELPER void prefetch_position(const DictionaryView& tables,
                                               const std::uint8_t* next) {
    prefetch_string(tables, three_byte_hash_at(next + position_distance));
}

// The lookahead takes two levels for each byte a string goes on by while
// the longer string is shorter than this, and one from there: a string
// started by begin_string is then levels_ahead levels deep.
inline constexpr std::uint32_t full_depth = levels_ahead + 2;

// What a parse does after a string ends: stop there, or go on with the
// string that starts there, having grown the table or not. (The parse
// tested the table's generation after every new string, five instructions
// compiled; only the rare new string that grows the table says so now.
// See quiet_until in codec/compressor.cpp for what this saved together.)
enum class AfterString { stop, go_on, go_on_regrown };

// Runs the cursor's string over the bytes from next to end (of one block).
// Where a string ends, before the byte at `at`, string_ended(miss, at) is
// told: it writes or keeps the code and may add the longer string, and
// says how the parse goes on with a string that starts at `at`, or that it
// stops there (the cursor is then the caller's: string_ended may have moved
// it where it likes, if it is to go on). Returns where the parse
// stopped: end when it ran through the block. (The next string starts in
// the loop, on the cursor's parts held in registers: starting it in the
// unbounded parse's out-of-line miss path, through the cursor in memory,
// cost 2.2 instructions a byte more in the unbounded parse on random bytes,
// and 4.2 in the frozen parse.)
//
// While a string goes on, its code, length and lookahead are held in
// locals that nothing outside the loop can reach, so that the compiler
// keeps them in registers; read through the cursor, every store to its
// ring could have changed them, and they went back to memory at every byte.
//
// The block boundary: the cursor looks ahead only within the block (and its
// slack), so at the block's end it stops looking ahead, and the next
// block's parse takes it up again from the string's hash. A parse that
// begins at a byte starts its string there (start_string) and calls this
// from the byte after.
template <class Table, class StringEnded>
[[gnu::always_inline]] inline const std::uint8_t*
parse_block(Cursor& cursor, Table& dictionary, std::uint32_t limit, const std::uint8_t* next,
            const std::uint8_t* end, StringEnded&& string_ended) {
    if (next >= end) return end;
    // The string goes on from the block before until it ends here.
    bool resumed = cursor.ahead == nullptr;
    if (resumed) resume_lookahead(cursor, dictionary, next);
    DictionaryView tables = view_of(dictionary);
    std::uint32_t code = cursor.code;
    std::uint32_t length = cursor.length;
    const std::uint8_t* ahead = cursor.ahead;
    std::uint64_t ahead_hash = cursor.ahead_hash;
    // Codes below bound are in this parse's dictionary (an empty slot gives
    // a value above every code: a key is never 0).
    const std::uint64_t bound = std::min<std::uint64_t>(limit, code_mask + 1);
    const std::uint64_t* slots_last = &tables.slots[tables.mask];
    StringPlace place; // where the string that ends at next belongs
    // Whether the dictionary has the string (of two bytes or more) with
    // next's byte: then code becomes its code; else place is where it
    // belongs.
    auto extends = [&]() [[gnu::always_inline]] {
        // Probed from the home slot the lookahead found. An entry whose key
        // matches differs from the key's bits only in its code, so one xor
        // both tests the key and leaves the code, and a code below the
        // limit is a hit with one more comparison: 2.5 fewer instructions
        // a byte on text than testing the key and then masking out the code.
        std::uint64_t wanted = string_key(code, *next) << code_bits;
        // Probed by address, wrapping at the table's last slot: one
        // instruction a probe fewer than by index (1.2 a byte in the
        // unbounded parse on text, 1.3 on random bytes).
        std::uint64_t* slot = &tables.slots[cursor.homes[ring_index(next)]];
        // The first probe before the loop, the others in it: the compiler
        // then lays out the usual case, a hit or an empty slot at once,
        // straight through (1.0 instructions a byte fewer on text, 2.2 on
        // random bytes).
        std::uint64_t entry = load_entry(*slot);
        std::uint64_t found = entry ^ wanted;
        while (found > code_mask && entry != 0) {
            slot = slot == slots_last ? tables.slots : slot + 1;
            entry = load_entry(*slot);
            found = entry ^ wanted;
        }
        if (found < bound) [[likely]] {
            code = static_cast<std::uint32_t>(found);
            return true;
        }
        place = {nullptr, slot};
        return false;
    };
    // Each string runs through the steps its length calls for, one loop
    // for each span of lengths that does the same work, so that a byte
    // costs one test of where the string is. A single loop tested the
    // length for the requests ahead, the code for the pair table and the
    // length again for the lookahead's depth: in the unbounded parse, 3.7
    // instructions a byte more on text and 3.5 on random bytes.
    for (;;) {
        if (length == 1) {
            // A single byte: the pair table has the two-byte string, and
            // begin_string has asked for the string's third level.
            if (next == end) goto block_ends;
            prefetch_position(tables, next);
            place = {&tables.pair_codes[code << 8 | *next], nullptr};
            std::uint32_t found = load_entry(*place.pair);
            if (found == absent || found >= limit) [[unlikely]]
                goto string_ends;
            code = found;
            length = 2;
            ++next;
        }
        static_assert(short_string + 1 < full_depth, "short strings look ahead two levels a byte");
        for (; length < short_string; ++length, ++next) {
            if (next == end) goto block_ends;
            prefetch_position(tables, next);
            if (!extends()) [[unlikely]]
                goto string_ends;
            look_ahead(cursor, ahead, ahead_hash, tables);
            look_ahead(cursor, ahead, ahead_hash, tables);
        }
        for (; length + 1 < full_depth; ++length, ++next) {
            if (next == end) goto block_ends;
            if (!extends()) [[unlikely]]
                goto string_ends;
            look_ahead(cursor, ahead, ahead_hash, tables);
            look_ahead(cursor, ahead, ahead_hash, tables);
        }
        for (;; ++length, ++next) {
            if (next == end) goto block_ends;
            if (!extends()) goto string_ends;
            look_ahead(cursor, ahead, ahead_hash, tables);
        }
    string_ends:
        AfterString after =
            string_ended(StringEnd{place, cursor.hashes[ring_index(next)], code}, next);
        if (after == AfterString::stop) return next;
        if (after == AfterString::go_on_regrown) [[unlikely]] {
            tables = view_of(dictionary);
            slots_last = &tables.slots[tables.mask];
        }
        resumed = false;
        begin_string(cursor, code, length, ahead, ahead_hash, tables, next);
        ++next;
    }
block_ends:
    cursor.code = code;
    cursor.length = length;
    // What the next block's lookahead begins from: a short string's bytes
    // (a string of two that began in the block before has its first kept
    // already), or the hash.
    if (length == 1) {
        cursor.first_bytes[0] = static_cast<std::uint8_t>(code);
    } else if (length == 2) {
        if (!resumed) cursor.first_bytes[0] = end[-2];
        cursor.first_bytes[1] = end[-1];
    } else {
        cursor.hash = cursor.hashes[ring_index(end - 1)];
    }
    cursor.ahead = nullptr; // it pointed into this block
    return end;
}

} // namespace tarnwel
