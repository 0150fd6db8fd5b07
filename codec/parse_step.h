// The parse, written once: the step every parse takes at each byte of its
// input, and the loop over a block. Its callers are the unbounded parse
// (whose dictionary grows without bound), the parse frozen at a narrower
// width, and the scout that parses blocks ahead for the frozen parse; each
// says only what it does where a string ends.
#pragma once

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

// Extends the cursor's string by the byte at `at` (of a block ending at end)
// when the dictionary holds the longer string with a code below limit, and
// returns true. Otherwise the string ends before that byte: returns false,
// with `miss` telling where the longer string would go. The caller then
// writes the cursor's code, may add the string, and starts a new one at `at`.
template <class Table>
[[gnu::always_inline]] inline bool extend_string(Cursor& cursor, Table& dictionary,
                                                 std::uint32_t limit, const std::uint8_t* at,
                                                 const std::uint8_t* end, StringEnd& miss) {
    prefetch_position(dictionary, cursor, at, end);
    std::uint64_t hash = extend_hash(cursor.hash, *at);
    // Tried and dropped: finding the place and reading its code in one
    // function, with one test of the prefix and no second read of the entry
    // the probe stopped at: 1.4 more instructions a byte in the unbounded
    // parse on text, 1.4 fewer on random bytes, the frozen parse about even.
    StringPlace place = find_string(dictionary, cursor.code, *at, hash);
    std::uint32_t code = code_at(place);
    if (code != absent && code < limit) {
        continue_string(cursor, dictionary, code, hash, at, end);
        return true;
    }
    miss = {place, hash};
    return false;
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
// The block boundary: the cursor looks ahead only within the block, so at
// the block's end it stops looking ahead, and the next block's parse goes
// on with the same string without it. A parse that begins at a byte starts
// its string there (start_string) and calls this from the byte after.
template <class Table, class StringEnded>
[[gnu::always_inline]] inline const std::uint8_t*
parse_block(Cursor& cursor, Table& dictionary, std::uint32_t limit, const std::uint8_t* next,
            const std::uint8_t* end, StringEnded&& string_ended) {
    for (; next < end; ++next) {
        StringEnd miss;
        if (extend_string(cursor, dictionary, limit, next, end, miss)) continue;
        if (!string_ended(miss, next)) return next;
    }
    cursor.ahead = nullptr; // it pointed into this block
    return end;
}

} // namespace tarnwel
