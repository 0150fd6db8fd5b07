// The parse, written once: the step every parse takes at each byte of its
// input, and the loop over a block. Its callers are the unbounded parse
// (whose dictionary grows without bound), the parse frozen at a narrower
// width, and the scout that parses blocks ahead for the frozen parse; each
// says only what it does where a string ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "byte_io.h"
#include "dictionary.h"

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
    // For a string that belongs in a slot, its entry without the code
    // (string_key(code, byte) << code_bits), as the probe had it.
    std::uint64_t keyed = 0;
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
// (text) soon have their next levels on the way.
// Tried and dropped: a new string asking for its fourth level at once, because
// the requests it never uses cost time; five levels instead of four, because
// they cost instructions and saved no time; see docs/performance.md.
inline constexpr std::ptrdiff_t levels_ahead = 4;

// How many bytes the parse runs over between moves of what its lookahead
// worked out (see Lookahead).
inline constexpr std::ptrdiff_t lookahead_span = 256;

// How far ahead of the parse the slot of the string starting at each byte
// is asked for (see prefetch_position).
inline constexpr std::ptrdiff_t position_distance = 16;

// Strings of this many bytes and more are parsed alike.
inline constexpr std::uint32_t long_string = levels_ahead + 1;

// Where the parse's strings averaged fewer bytes than this over its last
// block, it asks for the slot of every position ahead, not only while its
// string is short (see prefetch_position).
inline constexpr std::size_t short_strings_mean = 6;

// One parse's place between blocks: the string matched so far, and what
// the next block's lookahead begins again from.
struct Cursor {
    std::uint32_t code = 0;
    std::uint32_t length = 0; // bytes in the string, counted to long_string
    // The whole string's hash (three bytes or more), or its bytes (one or two).
    std::uint64_t hash = 0;
    std::uint8_t first_bytes[2] = {};
    // The strings of the last block were short (see short_strings_mean).
    bool ask_every_position = false;
    // Set by a caller whose string_ended says AfterString::skip: the bytes
    // from the string's end on that it took care of itself.
    std::uint32_t skipped = 0;
};

// What the lookahead worked out for each byte from the parse's to the one
// before the lookahead's: the content hash of the string through that byte,
// by the byte's index from where the span begins. A string's hash at each
// level is worked out once, by the lookahead, a few bytes before the parse
// gets there; the parse takes it from here, and its home slot from the
// hash, so that no level is hashed twice.
// Tried and dropped: keeping each level's home slot beside its hash, because
// the store for each level asked for costs the unbounded parse more than the
// shift it saves at each probe; see docs/performance.md.
//
// Indexed by the byte's place in a span of lookahead_span bytes rather than
// by its address modulo a small ring, every entry the parse reads or the
// lookahead writes lies at a fixed distance from the parse's own index,
// where the machine's addressing finds it for nothing; at a span's end the
// few entries past it move to the front. The span's bytes are copied in
// beside them, so that one index from one base (the stack's) reaches a
// byte and its hash.
// Tried and dropped: a ring of eight entries by address, because it takes a
// copy and a mask of the address for each entry and a pointer for the
// lookahead; reading the bytes in place rather than from the copy, because
// that takes a second base; see docs/performance.md.
struct Lookahead {
    std::uint64_t hashes[lookahead_span + levels_ahead];
    std::uint8_t bytes[lookahead_span + parse_slack]; // the span's bytes, and those after it
};

// Keeps the hash of the string through the byte at index `at` for the
// parse; returns the string's home slot.
inline std::size_t keep_level(Lookahead& ahead, std::ptrdiff_t at, std::uint64_t hash,
                              const DictionaryView& tables) {
    ahead.hashes[at] = hash;
    return home_slot_of_hash(tables, hash);
}

// Hashes the byte at index `at` into the string whose hash is `hash`, and
// asks for the slot of the string through it.
TARNWEL_PREFETCH_HELPER void look_ahead(Lookahead& ahead, std::ptrdiff_t at, std::uint64_t& hash,
                                        const DictionaryView& tables) {
    hash = extend_hash(hash, ahead.bytes[at]);
    __builtin_prefetch(&tables.slots[keep_level(ahead, at, hash, tables)]);
}

// Starts a string at the byte at index `at`, and asks for its slot at three
// bytes; returns that hash, where the lookahead goes on from.
TARNWEL_PREFETCH_HELPER std::uint64_t begin_string(Lookahead& ahead, std::ptrdiff_t at,
                                                   const DictionaryView& tables) {
    // Its third level's slot may have been asked for already, by
    // prefetch_position: hashing its bytes again is one load and a multiply.
    // Tried and dropped: keeping that hash in a ring tagged by address,
    // because that costs more than the hash; see docs/performance.md.
    std::uint64_t hash = three_byte_hash_at(ahead.bytes + at);
    __builtin_prefetch(&tables.slots[keep_level(ahead, at + 2, hash, tables)]);
    return hash;
}

// A parse that begins at the byte at `at` starts its string there, and
// runs parse_block from the byte after.
inline void start_string(Cursor& cursor, const std::uint8_t* at) {
    cursor.code = *at;
    cursor.length = 1;
    cursor.first_bytes[0] = *at;
}

// The cursor's string goes on into a block whose first byte is next (index
// 0): begins its lookahead there, as deep as it would stand had the string
// begun in this block; returns the hash at the lookahead's end.
inline std::uint64_t resume_lookahead(Lookahead& ahead, const Cursor& cursor,
                                      const DictionaryView& tables) {
    const std::uint8_t* next = ahead.bytes;
    if (cursor.length >= 3) {
        std::uint64_t hash = cursor.hash;
        std::ptrdiff_t depth = std::min<std::ptrdiff_t>(cursor.length - 1, levels_ahead);
        for (std::ptrdiff_t at = 0; at < depth; ++at)
            look_ahead(ahead, at, hash, tables);
        return hash;
    }
    // Its third byte is here (or, in a block of one byte, past it: the
    // hash then only picks a slot to prefetch, and is worked out again
    // from the bytes kept at this block's end).
    std::uint64_t hash =
        cursor.length == 1 ? three_byte_hash(cursor.first_bytes[0], next[0], next[1])
                           : three_byte_hash(cursor.first_bytes[0], cursor.first_bytes[1], next[0]);
    __builtin_prefetch(&tables.slots[keep_level(ahead, 2 - cursor.length, hash, tables)]);
    return hash;
}

// Strings can start at any byte, and a parse meets one every few bytes: a
// little ahead of the parse, asks for the slot of the three-byte string that
// starts there, which only the input decides. The parse asks while its
// string is short (below four bytes): a string that has gone on that long
// tends to go on past the position asked for, and on text the requests then
// cost more than they save, while on random bytes, whose strings are short,
// they are what keeps the parse from waiting.
//
// Where strings stay short throughout, as in executables, a string of four
// bytes and more ends soon all the same, and asking at its every byte too
// pays. Which kind of input this is, the parse's last block says: its
// strings' average length, against short_strings_mean.
// Tried and dropped: asking at every byte of every input, because on text it
// costs more time than it saves; see docs/performance.md.
static_assert(position_distance + 4 <= static_cast<std::ptrdiff_t>(parse_slack),
              "the position asked for lies in the block or its slack");

TARNWEL_PREFETCH_HELPER void prefetch_position(const DictionaryView& tables,
                                               const std::uint8_t* next) {
    prefetch_string(tables, three_byte_hash_at(next + position_distance));
}

// What a parse does after a string ends: stop there, or go on with the
// string that starts there, having grown the table or not: only the rare
// new string that grows the table says so, so that the parse need not test
// the table's generation after every new string.
//
// Or skip: the strings over the next cursor.skipped bytes are the caller's
// (the frozen parse following the unbounded parse's strings), and the parse
// goes on with a string that starts after them, or stops there when that is
// past the bytes it has at hand, rather than stop at every run of strings
// taken over and start again after it. The other parses are built without
// the test (may_skip): in them it made GCC lay out the probe loop worse.
enum class AfterString { stop, go_on, go_on_regrown, skip };

// Runs the cursor's string over the bytes from next to end (of one block).
// Where a string ends, before the byte at `at`, string_ended(miss, at) is
// told: it writes or keeps the code and may add the longer string, and
// says how the parse goes on with a string that starts at `at`, or that it
// stops there (the cursor is then the caller's: string_ended may have moved
// it where it likes, if it is to go on). Returns where the parse
// stopped: end when it ran through the block. The next string starts in
// the loop, on the cursor's parts held in registers, not in the unbounded
// parse's out-of-line miss path, which would go through the cursor in
// memory.
//
// While a string goes on, its code and the lookahead's hash are held in
// locals that nothing outside the loop can reach, so that the compiler
// keeps them in registers.
//
// The block boundary: the lookahead reads only within the block (and its
// slack), so at the block's end it stops, and the next block's parse takes
// it up again from what the cursor kept of the string.
template <bool every_position, bool may_skip, class Table, class StringEnded>
[[gnu::always_inline]] inline const std::uint8_t*
parse_block_asking(Cursor& cursor, Table& dictionary, std::uint32_t limit, const std::uint8_t* next,
                   const std::uint8_t* end, StringEnded&& string_ended) {
    if (next >= end) return end;
    std::size_t strings = 0; // that end in the block
    DictionaryView tables = view_of(dictionary);
    const std::uint8_t* const first = next;
    // The bytes and their hashes are read by index from base, where the
    // span begins; i is the parse's index.
    Lookahead ahead{}; // zeroed: a string of one byte that ends has no hash
    const std::uint8_t* base = next;
    std::ptrdiff_t i = 0;
    std::ptrdiff_t span = std::min(end - base, lookahead_span);
    std::memcpy(ahead.bytes, base, span + parse_slack);
    // The string's length, as the steps count it: set where the parse
    // leaves them, at a span's end.
    std::uint32_t length = cursor.length;
    std::uint32_t code = cursor.code;
    std::uint64_t ahead_hash = resume_lookahead(ahead, cursor, tables);
    // Codes below bound are in this parse's dictionary (an empty slot gives
    // a value above every code: a key is never 0).
    const std::uint64_t bound = std::min<std::uint64_t>(limit, code_mask + 1);
    const std::uint64_t* slots_last = &tables.slots[tables.mask];
    StringPlace place;       // where the string that ends at i belongs
    std::uint64_t keyed = 0; // and its entry without the code, when in a slot
    AfterString after = AfterString::go_on;
    // Whether the dictionary has the string (of two bytes or more) with the
    // byte at i: then code becomes its code; else place is where it
    // belongs. GCC inlines it as it is, and lays it out better than when
    // forced (see short_step).
    auto extends = [&]() {
        // Probed from the home slot of the hash the lookahead worked out.
        // An entry whose key matches differs from the key's bits only in its
        // code, so one xor both tests the key and leaves the code, and a
        // code below the limit is a hit with one more comparison, where
        // testing the key and then masking out the code takes more.
        std::uint64_t wanted = string_key(code, ahead.bytes[i]) << code_bits;
        // Probed by address, wrapping at the table's last slot: one
        // instruction a probe fewer than by index.
        std::uint64_t* slot = &tables.slots[home_slot_of_hash(tables, ahead.hashes[i])];
        // The first probe, then the others in the loop, into which GCC
        // joins it. Here the instructions a byte and the time part ways, and
        // the time decides: the parse waits on memory, and fewer
        // instructions only move where it waits.
        // Tried and dropped, because each saved instructions but took more
        // time: a loop entered only when the first probe finds another
        // string, and taking the ending string's code again from `wanted` on
        // a miss; see docs/performance.md.
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
        keyed = wanted;
        return false;
    };
    // Each string runs through the steps its length calls for: the pair
    // step, then the steps of strings of two, three and four bytes, which
    // ask for two levels ahead a byte, and a loop for longer strings, which
    // ask for one. The lookahead of a string of `length` bytes stands at
    // index i + min(length - 1, levels_ahead), so that every step knows its
    // entries' places. A byte costs one test of where its string is.
    // Tried and dropped: a single loop for every length, because it tests the
    // length for the requests ahead, the code for the pair table and the
    // length again for the lookahead's depth; see docs/performance.md.
    // The step of a string of two to four bytes, with the byte at i:
    // whether it goes on. Its lookahead stands at i + lookahead_at and
    // takes two levels; while the string is short (two or three bytes, and
    // four where every position is asked for), it also asks for the
    // position ahead. Called with constants, so that
    // each step's places are fixed once it is inlined, which only the GNU
    // attribute in this place asks for: GCC takes [[gnu::always_inline]]
    // here for an attribute of the lambda's type and ignores it, and a
    // called step costs far more than an inlined one.
    auto short_step = [&](std::ptrdiff_t lookahead_at, bool ask_position)
        __attribute__((always_inline)) {
        if (ask_position) prefetch_position(tables, ahead.bytes + i);
        if (!extends()) return false;
        look_ahead(ahead, i + lookahead_at, ahead_hash, tables);
        look_ahead(ahead, i + lookahead_at + 1, ahead_hash, tables);
        ++i;
        return true;
    };
    static_assert(levels_ahead == 4, "the steps below are written out for four levels ahead");
resume:
    switch (length) {
    case 1:
        goto pair;
    case 2:
        goto two;
    case 3:
        goto three;
    case 4:
        goto four;
    default:
        goto longer;
    }
string_ends:
    ++strings;
    after = string_ended(StringEnd{place, ahead.hashes[i], code, keyed}, base + i);
    if (after == AfterString::stop) return base + i;
    if (after == AfterString::go_on_regrown) [[unlikely]] {
        tables = view_of(dictionary);
        slots_last = &tables.slots[tables.mask];
    }
    if (may_skip && after == AfterString::skip) {
        i += cursor.skipped;
        if (i >= span) return base + i;
    }
    code = ahead.bytes[i];
    ahead_hash = begin_string(ahead, i, tables);
    ++i;
pair:
    // A single byte: the pair table has the two-byte string, and
    // begin_string has asked for the string's third level.
    {
        length = 1;
        if (i == span) goto span_ends;
        prefetch_position(tables, ahead.bytes + i);
        std::uint32_t* pair = &tables.pair_codes[code << 8 | ahead.bytes[i]];
        std::uint32_t found = load_entry(*pair);
        if (found == absent || found >= limit) [[unlikely]] {
            place = {pair, nullptr};
            keyed = 0; // so that keyed lives only from a miss to the string's end
            goto string_ends;
        }
        code = found;
        ++i;
    }
two:
    length = 2;
    if (i == span) goto span_ends;
    if (!short_step(1, true)) [[unlikely]]
        goto string_ends;
three:
    length = 3;
    if (i == span) goto span_ends;
    if (!short_step(2, true)) [[unlikely]]
        goto string_ends;
four:
    length = 4;
    if (i == span) goto span_ends;
    if (!short_step(3, every_position)) [[unlikely]]
        goto string_ends;
longer:
    length = long_string;
    for (;; ++i) {
        if (i == span) goto span_ends;
        if (every_position) prefetch_position(tables, ahead.bytes + i);
        if (!extends()) goto string_ends;
        look_ahead(ahead, i + levels_ahead, ahead_hash, tables);
    }
span_ends:
    if (base + i == end) goto block_ends;
    // The entries past the span move to the front, and the parse goes on
    // from its string's step.
    std::copy_n(ahead.hashes + i, levels_ahead, ahead.hashes);
    base += i;
    i = 0;
    span = std::min(end - base, lookahead_span);
    std::memcpy(ahead.bytes, base, span + parse_slack);
    goto resume;
block_ends:
    cursor.ask_every_position =
        strings * short_strings_mean > static_cast<std::size_t>(end - first);
    cursor.code = code;
    cursor.length = length;
    // What the next block's lookahead begins from: a short string's bytes
    // (the first of a string of two that began before this block, or at
    // start_string's byte, is kept already), or the hash.
    if (cursor.length == 1) {
        cursor.first_bytes[0] = static_cast<std::uint8_t>(code);
    } else if (cursor.length == 2) {
        if (end - first >= 2) cursor.first_bytes[0] = end[-2];
        cursor.first_bytes[1] = end[-1];
    } else {
        cursor.hash = ahead.hashes[i - 1];
    }
    return end;
}

// The parse of a block, asking for positions as the cursor's last block
// called for. Only a parse whose string_ended may say AfterString::skip
// says so here (may_skip).
template <bool may_skip = false, class Table, class StringEnded>
[[gnu::always_inline]] inline const std::uint8_t*
parse_block(Cursor& cursor, Table& dictionary, std::uint32_t limit, const std::uint8_t* next,
            const std::uint8_t* end, StringEnded&& string_ended) {
    if (cursor.ask_every_position)
        return parse_block_asking<true, may_skip>(cursor, dictionary, limit, next, end,
                                                  string_ended);
    return parse_block_asking<false, may_skip>(cursor, dictionary, limit, next, end, string_ended);
}

} // namespace tarnwel
