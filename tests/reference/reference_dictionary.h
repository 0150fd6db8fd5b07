// The straightforward dictionary, a prime-sized hash table probed by
// (byte << (width - 8)) ^ prefix: the oracle the fast dictionary is checked
// against.
//
// The compressor's dictionary: an open-addressing hash table of strings, each
// stored as (prefix code, last byte) with the code it was given.
//
// The slot count for a width is the largest prime not above 1.25 * 2^width.
// Being prime, stepping by (slot_count - start) from any start visits every
// slot before it comes back, and since at most 2^width - 257 strings are ever
// stored the table stays under about four-fifths full, so a probe always ends.
#pragma once

#include <array>
#include <cstdint>

#include "mapped_array.h"

#include "widths.h"

namespace tarnwel::reference {

inline constexpr std::array<std::int32_t, 26> TABLESIZE = {
    317,    317,    317,     317,     317,     317,      317,      317,     317,
    631,    1279,   2557,    5119,    10223,   20479,    40949,    81919,   163819,
    327673, 655357, 1310719, 2621431, 5242877, 10485751, 20971507, 41943023};

inline constexpr std::int32_t empty_slot = -1;

struct Dictionary {
    int width = default_width;
    std::int32_t slot_count = 0;
    MappedArray<std::int32_t> code_table;   // code stored in a slot, or empty_slot
    MappedArray<std::int32_t> prefix_table; // the string's code without its last byte; set with
    MappedArray<std::uint8_t> byte_table;   // the string's last byte; set with the code
    std::uint32_t free_code = first_free_code;
};

// Sizes the three tables for a width from 8 to 25. False when memory runs out,
// in which case the dictionary is left empty.
bool allocate_tables(Dictionary& dictionary, int width);

// Empties every slot and restarts code assignment at 256.
void clear_dictionary(Dictionary& dictionary);

// The slot that holds (prefix, byte), or the empty slot where it belongs.
inline std::int32_t probe_slot(const Dictionary& dictionary, std::int32_t prefix,
                               std::int32_t byte) {
    std::int32_t slot = (byte << (dictionary.width - 8)) ^ prefix;
    std::int32_t step = slot == 0 ? 1 : dictionary.slot_count - slot;
    for (;;) {
        if (dictionary.code_table[slot] == empty_slot) return slot;
        if (dictionary.prefix_table[slot] == prefix && dictionary.byte_table[slot] == byte)
            return slot;
        slot -= step;
        if (slot < 0) slot += dictionary.slot_count;
    }
}

// Gives the next free code to (prefix, byte) in an empty slot found by
// probe_slot. False, and nothing stored, once every code up to last_code is
// taken: the dictionary then stays as it is for the rest of the pass.
inline bool add_string(Dictionary& dictionary, std::int32_t slot, std::int32_t prefix,
                       std::int32_t byte) {
    if (dictionary.free_code > last_code(dictionary.width)) return false;
    dictionary.code_table[slot] = static_cast<std::int32_t>(dictionary.free_code++);
    dictionary.prefix_table[slot] = prefix;
    dictionary.byte_table[slot] = static_cast<std::uint8_t>(byte);
    return true;
}

} // namespace tarnwel::reference
