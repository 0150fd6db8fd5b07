// The compressor's dictionary: every string met so far, as (prefix code,
// last byte) with the code it was given.
//
// One probe per input byte makes the dictionary's memory layout the heart of
// the compressor's speed. Strings of two bytes, probed after every miss, sit
// in a direct table of 64 Ki codes (256 KiB, at home in the L2 cache).
// Longer strings live in an open-addressing hash table of 8-byte entries
// with key and code packed together, so a probe reads one entry and, with
// linear probing, nearly always one cache line. The table starts small and
// doubles as strings arrive, staying between a quarter and a half full: its
// size follows what the input needs, not the widest code.
//
// Only the set of (prefix, byte) -> code entries decides the output, so the
// compress pass can reuse the dictionary the width search grew from the same
// input: an entry counts as present only while its code is below the pass's
// free_code, and is then exactly the entry the pass itself would have made.
#pragma once

#include <cstdint>

#include "codec/huge_array.h"
#include "codec/widths.h"

namespace tarnwel {

// An entry is (prefix << 8 | byte) << code_bits | code; a code is never 0
// (strings have codes from 256), so 0 marks an empty slot.
inline constexpr int code_bits = max_bits;
inline constexpr std::uint64_t code_mask = (std::uint64_t{1} << code_bits) - 1;
inline constexpr std::uint32_t absent = 0;

struct Dictionary {
    HugeArray<std::uint32_t> pair_codes; // [first byte << 8 | second byte] -> code, or absent
    HugeArray<std::uint64_t> slots;      // strings of three bytes and more
    std::size_t mask = 0;                // slot count - 1, a power of two less one
    int shift = 64;                      // 64 - log2(slot count), for the hash
    std::size_t stored = 0;              // entries in slots
};

// Makes an empty dictionary. False when memory runs out.
bool init_dictionary(Dictionary& dictionary);

inline std::uint64_t string_key(std::uint32_t prefix, std::uint32_t byte) {
    return std::uint64_t{prefix} << 8 | byte;
}

// Fibonacci hashing: the top bits of the product mix every bit of the key.
inline std::size_t home_slot(const Dictionary& dictionary, std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> dictionary.shift);
}

// The slot that holds key, or the empty slot where it belongs.
inline std::size_t probe_slot(const Dictionary& dictionary, std::uint64_t key) {
    std::size_t slot = home_slot(dictionary, key);
    for (;;) {
        std::uint64_t entry = dictionary.slots[slot];
        if (entry == 0 || entry >> code_bits == key) return slot;
        slot = (slot + 1) & dictionary.mask;
    }
}

// Asks the memory system early for the slot where the three-byte string at
// bytes would be probed, if its first two bytes are a known string. Strings
// can start at any byte and a parse meets one every few bytes, so looking
// a little ahead of the parse hides most of the first probe's cache miss.
inline void prefetch_three(const Dictionary& dictionary, const std::uint8_t* bytes) {
    std::uint32_t pair = dictionary.pair_codes[std::uint32_t{bytes[0]} << 8 | bytes[1]];
    if (pair == absent) return;
    std::uint64_t key = string_key(pair, bytes[2]);
    __builtin_prefetch(&dictionary.slots[home_slot(dictionary, key)]);
}

// The second stage, nearer the parse: once the three-byte string's slot has
// arrived, asks for the four-byte string's.
inline void prefetch_four(const Dictionary& dictionary, const std::uint8_t* bytes) {
    std::uint32_t pair = dictionary.pair_codes[std::uint32_t{bytes[0]} << 8 | bytes[1]];
    if (pair == absent) return;
    std::uint64_t entry = dictionary.slots[probe_slot(dictionary, string_key(pair, bytes[2]))];
    if (entry == 0) return;
    std::uint64_t key = string_key(static_cast<std::uint32_t>(entry & code_mask), bytes[3]);
    __builtin_prefetch(&dictionary.slots[home_slot(dictionary, key)]);
}

// Where the code of (prefix, byte) is kept, or where it is to go. For a
// prefix of 256 and up this is a slot entry, with the code in its low bits.
struct StringPlace {
    std::uint32_t* pair = nullptr; // set for a two-byte string
    std::uint64_t* slot = nullptr; // set otherwise
};

inline StringPlace find_string(Dictionary& dictionary, std::uint32_t prefix, std::uint32_t byte) {
    if (prefix < 256) return {&dictionary.pair_codes[prefix << 8 | byte], nullptr};
    return {nullptr, &dictionary.slots[probe_slot(dictionary, string_key(prefix, byte))]};
}

inline std::uint32_t code_at(const StringPlace& place) {
    return place.pair != nullptr ? *place.pair
                                 : static_cast<std::uint32_t>(*place.slot & code_mask);
}

// Doubles the slot table. False when memory runs out.
bool grow_dictionary(Dictionary& dictionary);

// Stores code for (prefix, byte) at the empty place find_string gave. False
// when the table had to grow and memory ran out.
inline bool add_string(Dictionary& dictionary, const StringPlace& place, std::uint32_t prefix,
                       std::uint32_t byte, std::uint32_t code) {
    if (place.pair != nullptr) {
        *place.pair = code;
        return true;
    }
    *place.slot = string_key(prefix, byte) << code_bits | code;
    if (++dictionary.stored * 4 > (dictionary.mask + 1) * 3) return grow_dictionary(dictionary);
    return true;
}

} // namespace tarnwel
