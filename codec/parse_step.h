// The step every parse takes at each byte of its input: the compressor at a
// width it was given, and both parses of the width search (the one whose
// dictionary grows without bound and the one frozen at a narrower width).
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
    StringPlace place = find_string(dictionary, cursor.code, *at, hash);
    std::uint32_t code = code_at(place);
    if (code != absent && code < limit) {
        continue_string(cursor, dictionary, code, hash, at, end);
        return true;
    }
    miss = {place, hash};
    return false;
}

} // namespace tarnwel
