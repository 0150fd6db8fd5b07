// The parse, written once: the step every parse takes at each byte of its
// input, and the loop over a block. Its callers are the unbounded parse
// (whose dictionary grows without bound), the parse frozen at a narrower
// width, and the scout that parses blocks ahead for the frozen parse; each
// says only what it does where a string ends.
#pragma once

#include <algorithm>

#include "codec/byte_io.h"
#include "codec/dictionary.h"

namespace tarnwel {

// A limit above every code: the parse of a dictionary still growing.
inline constexpr std::uint32_t no_code_limit = ~std::uint32_t{0};

// Where a string that the dictionary lacks belongs, and its content hash:
// what a parse that adds the string needs.
struct StringEnd {
    StringPlace place;
    std::uint64_t hash = 0;
};

// Bytes past a block's end that the parse may read. Its requests for slots
// ahead hash the bytes a few places on without testing where the block
// ends; what they read there only ever picks an address to ask for, never a
// code. Every block the parse runs over has this many readable bytes after
// it (ByteReader's buffer and the frozen parse's ring both do).
inline constexpr std::size_t parse_slack = 32;
static_assert(parse_slack <= reader_slack, "a reader's blocks carry the parse's slack");

// How many levels of the string the cursor keeps content hashes for: the
// level it is at and the levels asked for ahead of it (see continue_string).
inline constexpr std::uint32_t hash_ring = 8;

// One parse's place in the input: the string matched so far, and the slots
// asked for ahead along it.
//
// A string's content hash at each level is worked out once, by the
// lookahead, a few bytes before the parse gets there, and kept in a ring
// for the parse to take: hashing each level twice (once to ask for its
// slot, once to probe it) cost the unbounded parse ... instructions a byte.
struct Cursor {
    std::uint32_t code = 0;
    std::uint32_t length = 0;            // bytes in the string
    std::uint32_t reached = 0;           // the lookahead has hashed the first `reached` bytes
    const std::uint8_t* ahead = nullptr; // the byte after them; nullptr between blocks
    std::uint64_t ahead_hash = 0;        // their content hash
    // The content hash of the string's first n bytes at [n % hash_ring], for
    // n from length (once it is 2) to reached.
    std::uint64_t hashes[hash_ring] = {};
};

// How many levels beyond the parse's the lookahead asks for. A new string
// starts with the two levels past the pair and the lookahead grows by two
// levels a byte while the string goes on, so short strings (random data) do
// not flood the memory system with requests they never use, and long ones
// (text) soon have their next levels on the way. (Asking for the fourth
// level at once paid only when the frozen parse moved to its own core: 3 to
// 8% on 32 MiB inputs, random bytes included.)
inline constexpr std::uint32_t levels_ahead = 6;
static_assert(levels_ahead + 1 < hash_ring, "the ring holds the parse's level and those ahead");

// Hashes the next level ahead and asks for its slot. hashes is the ring
// of the cursor's levels (a parse running through a block holds the rest of
// the cursor apart from it: see parse_block).
template <class Table>
TARNWEL_PREFETCH_HELPER void look_one_level_ahead(Cursor& cursor, std::uint64_t* hashes,
                                                  const Table& dictionary) {
    cursor.ahead_hash = extend_hash(cursor.ahead_hash, *cursor.ahead++);
    hashes[++cursor.reached % hash_ring] = cursor.ahead_hash;
    prefetch_string(dictionary, cursor.ahead_hash);
}

// Starts a string at the byte at `at`, and asks for its slots at three and
// four bytes.
template <class Table>
inline void start_string(Cursor& cursor, const Table& dictionary, const std::uint8_t* at) {
    cursor.code = *at;
    cursor.length = 1;
    cursor.ahead_hash = pair_hash(at[0], at[1]);
    cursor.hashes[2] = cursor.ahead_hash;
    cursor.reached = 2;
    cursor.ahead = at + 2;
    look_one_level_ahead(cursor, cursor.hashes, dictionary);
    look_one_level_ahead(cursor, cursor.hashes, dictionary);
}

// Continues the string, one byte longer now, with the code the dictionary
// has for it.
template <class Table>
[[gnu::always_inline]] inline void continue_string(Cursor& cursor, std::uint64_t* hashes,
                                                   const Table& dictionary, std::uint32_t code) {
    cursor.code = code;
    // A string that is only a known pair so far is as likely to end at the
    // next byte as not; looking further ahead than start_string did starts
    // with its third byte.
    if (++cursor.length < 3) return;
    look_one_level_ahead(cursor, hashes, dictionary);
    if (cursor.reached < cursor.length + levels_ahead)
        look_one_level_ahead(cursor, hashes, dictionary);
}

// A string that goes on from the block before: its lookahead stopped at
// that block's end, and begins again at next, from the string's own level.
template <class Table>
inline void resume_lookahead(Cursor& cursor, const Table& dictionary, const std::uint8_t* next) {
    cursor.ahead_hash =
        cursor.length == 1 ? extend_hash(0, cursor.code) : cursor.hashes[cursor.length % hash_ring];
    cursor.reached = cursor.length;
    cursor.ahead = next;
    while (cursor.reached < std::max(cursor.length + 2, std::uint32_t{4}))
        look_one_level_ahead(cursor, cursor.hashes, dictionary);
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
inline constexpr std::ptrdiff_t position_distance = 16;
static_assert(position_distance + 3 <= parse_slack, "the position asked for lies in the slack");

template <class Table>
TARNWEL_PREFETCH_HELPER void prefetch_position(const Table& dictionary, const Cursor& cursor,
                                               const std::uint8_t* next) {
    if (cursor.length >= short_string) return;
    const std::uint8_t* at = next + position_distance;
    prefetch_string(dictionary, extend_hash(pair_hash(at[0], at[1]), at[2]));
}

// Extends the cursor's string by the byte at `at` when the dictionary holds
// the longer string with a code below limit, and returns true. Otherwise
// the string ends before that byte: returns false, with `miss` telling
// where the longer string would go. The caller then writes the cursor's
// code, may add the string, and starts a new one at `at`.
template <class Table>
[[gnu::always_inline]] inline bool extend_string(Cursor& cursor, std::uint64_t* hashes,
                                                 const Table& tables, std::uint32_t limit,
                                                 const std::uint8_t* at, StringEnd& miss) {
    prefetch_position(tables, cursor, at);
    std::uint64_t hash = hashes[(cursor.length + 1) % hash_ring];
    // Tried and dropped: finding the place and reading its code in one
    // function, with one test of the prefix and no second read of the entry
    // the probe stopped at: 1.4 more instructions a byte in the unbounded
    // parse on text, 1.4 fewer on random bytes, the frozen parse about even.
    StringPlace place = find_string(tables, cursor.code, *at, hash);
    std::uint32_t code = code_at(place);
    if (code != absent && code < limit) {
        continue_string(cursor, hashes, tables, code);
        return true;
    }
    miss = {place, hash};
    return false;
}

// What changes at every byte: the cursor but its ring of hashes.
inline void copy_moving_parts(Cursor& to, const Cursor& from) {
    to.code = from.code;
    to.length = from.length;
    to.reached = from.reached;
    to.ahead = from.ahead;
    to.ahead_hash = from.ahead_hash;
}

// Runs the cursor's string over the bytes from next to end (of one block).
// Where a string ends, before the byte at `at`, string_ended(miss, at) is
// told, with the cursor still on the string that ends: it writes or keeps
// the string's code, may add the longer string, and moves the cursor to the
// next string (start_string at `at`, as a rule), returning true to go on,
// or false to stop there. Returns where the parse stopped: end when it ran
// through the block. (Starting the next string is the caller's so that the
// unbounded parse can keep its whole miss path out of line: inlined, it cost
// the loop 2.4% more instructions on text.)
//
// Between one string's end and the next, the cursor and the tables' places
// are held in locals that nothing outside the loop can reach, so that the
// compiler keeps them in registers: read through the caller's references,
// every store to the ring of hashes could have changed them, and each was
// read back from memory at every byte.
//
// The block boundary: the cursor looks ahead only within the block (and its
// slack), so at the block's end it stops looking ahead, and the next
// block's parse takes it up again from the string's level. A parse that
// begins at a byte starts its string there (start_string) and calls this
// from the byte after.
template <class Table, class StringEnded>
[[gnu::always_inline]] inline const std::uint8_t*
parse_block(Cursor& cursor, Table& dictionary, std::uint32_t limit, const std::uint8_t* next,
            const std::uint8_t* end, StringEnded&& string_ended) {
    if (cursor.ahead == nullptr && next < end) resume_lookahead(cursor, dictionary, next);
    Cursor live;
    copy_moving_parts(live, cursor);
    DictionaryView tables = view_of(dictionary);
    for (; next < end; ++next) {
        StringEnd miss;
        if (extend_string(live, cursor.hashes, tables, limit, next, miss)) continue;
        copy_moving_parts(cursor, live);
        if (!string_ended(miss, next)) return next;
        copy_moving_parts(live, cursor);
        tables = view_of(dictionary); // adding the string may have grown the table
    }
    copy_moving_parts(cursor, live);
    cursor.ahead = nullptr; // it pointed into this block
    return end;
}

} // namespace tarnwel
