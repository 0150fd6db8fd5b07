// The compressor's dictionary: every string met so far, as (prefix code,
// last byte) with the code it was given.
//
// One probe per input byte makes the dictionary's memory layout the heart of
// the compressor's speed. Strings of two bytes, probed after every miss, sit
// in a direct table of 64 Ki codes (256 KiB, at home in the L2 cache).
// Longer strings live in an open-addressing hash table of 8-byte entries
// with key and code packed together, so a probe reads one entry and, with
// linear probing, nearly always one cache line. A string's slot is placed by
// a hash of its bytes (see extend_hash), so the parse can ask for the slots
// of the levels ahead of it. The table starts small and grows as strings
// arrive, staying at most three quarters full: its size follows what the
// input needs, not the widest code. Every growth moves every entry, so the
// parse plans the final size from the rate it meets new strings, and the
// table grows to that in few steps.
//
// Each parse that grows a dictionary has one of its own; a parse frozen at
// a narrower width reads the unbounded parse's dictionary, where an entry
// counts only while its code is below that width's limit, and may do so from
// another thread while the dictionary grows (see frozen_ring.h). Entries
// are therefore stored and read as relaxed atomics: a reader sees a slot
// either empty or whole, and, since an entry never moves within a table and
// a slot never empties, it always finds an entry that was there when its
// parse started. (On x86 and ARM these are the plain loads and stores.)
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mapped_array.h"
#include "prefault.h"
#include "prefetch.h"
#include "widths.h"

namespace tarnwel {

// An entry is (prefix << 8 | byte) << code_bits | code; a code is never 0
// (strings have codes from 256), so 0 marks an empty slot.
inline constexpr int code_bits = max_width;
inline constexpr std::uint64_t code_mask = (std::uint64_t{1} << code_bits) - 1;
inline constexpr std::uint32_t absent = 0;
// A prefix is a code or a byte, so the key takes code_bits + 8 bits, and
// the whole entry must fit its 64.
static_assert(code_bits + 8 + code_bits <= 64, "a dictionary entry packs key and code in 64 bits");

struct Dictionary {
    MappedArray<std::uint32_t> pair_codes; // [first byte << 8 | second byte] -> code, or absent
    MappedArray<std::uint64_t> slots;      // strings of three bytes and more
    MappedArray<std::uint32_t> placements; // by code: placement(hash), for growing
    std::size_t mask = 0;                  // slot count - 1, a power of two less one
    int shift = 64;                        // 64 - log2(slot count), for the hash
    std::size_t stored = 0;                // entries in slots
    // Entries the table is expected to hold by the end of the input, as the
    // parse foresees them; growing goes straight to a size that holds them.
    std::size_t planned = 0;
    int generation = 0; // slot tables made so far, less one
    // While another thread may still probe them, the tables that growing
    // replaced are kept here (with the generation that replaced each) instead
    // of being released; release_old_tables lets them go.
    bool keep_old_tables = false;
    struct OldTable {
        MappedArray<std::uint64_t> slots;
        int replaced_by = 0;
    };
    std::vector<OldTable> old_tables;
    // Where a core is free for it (the owner says so in prepare_ahead), the
    // table the next growth will make is made ahead, and its pages are
    // faulted in by another thread while the parse goes on: a large table's
    // fresh pages cost the parse's thread a good part of a run otherwise
    // (see prepare_growth).
    bool prepare_ahead = false;
    MappedArray<std::uint64_t> prepared_slots;
    std::unique_ptr<Prefaulter> preparing;
};

// What a parse on another thread probes: the dictionary's tables as they
// stood at one generation. Only the owner's thread grows them.
struct DictionaryView {
    std::uint32_t* pair_codes = nullptr;
    std::uint64_t* slots = nullptr;
    std::size_t mask = 0;
    int shift = 64;
    int generation = 0;
};

inline DictionaryView view_of(Dictionary& dictionary) {
    return {dictionary.pair_codes.data(), dictionary.slots.data(), dictionary.mask,
            dictionary.shift, dictionary.generation};
}
inline DictionaryView view_of(const DictionaryView& view) {
    return view;
}

// Releases the old tables that no view of a generation from `oldest_in_use`
// on can reach.
void release_old_tables(Dictionary& dictionary, int oldest_in_use);

template <class T> inline T load_entry(T& entry) {
    return std::atomic_ref<T>(entry).load(std::memory_order_relaxed);
}

template <class T> inline void store_entry(T& entry, T value) {
    std::atomic_ref<T>(entry).store(value, std::memory_order_relaxed);
}

// Makes an empty dictionary. False when memory runs out.
bool init_dictionary(Dictionary& dictionary);

inline std::uint64_t string_key(std::uint32_t prefix, std::uint32_t byte) {
    return std::uint64_t{prefix} << 8 | byte;
}

// A string's slot is found from a hash of its bytes rather than of its
// (prefix, byte) pair: an entry still holds the pair, and a probe compares
// it exactly, but the place to look for a string can be worked out from the
// input alone, before the parse knows the codes of the string's prefixes.
// That lets the parse ask for the slots of the levels it is about to reach.
//
// Each level past the third (see three_byte_hash) turns the hash's top half, where the multiply
// gathers what all the bytes so far contributed, to its bottom before the next multiply. That
// keeps the hash from being a polynomial in the bytes, whose values for similar strings lie on a
// lattice and crowd linear probing's runs, so the top bits need no mixing of their own: a parse
// places several slots a byte (its own level, its lookahead, the positions ahead), and mixing
// there would cost at each one. The turn is a rotation, one instruction.
// Tried and dropped: folding with a shift and an xor instead, because it costs three
// instructions where the rotation costs one; see docs/performance.md.
// The multiplier of every level's hash: 2^64 over the golden ratio, odd, so
// that each multiply loses nothing and spreads every bit upwards.
inline constexpr std::uint64_t hash_multiplier = 0x9E3779B97F4A7C15ull;

constexpr std::uint64_t extend_hash(std::uint64_t hash, std::uint32_t byte) {
    return (std::rotl(hash, 32) + byte + 1) * hash_multiplier;
}

// Strings of two bytes live in the pair table, so a string's hashes begin
// at three bytes, with all three at once: one multiply of the bytes side
// by side, whose top bits are as good as a chain's. Asking for the slot of
// the string that starts at a byte takes this at nearly every byte of
// random input, so it must be cheap.
// Tried and dropped: a chain from the first byte through a table of the
// first level, because it takes two multiplies and a fold; see
// docs/performance.md.
inline std::uint64_t three_byte_hash(std::uint32_t first, std::uint32_t second,
                                     std::uint32_t third) {
    return (std::uint64_t{first | second << 8 | third << 16} + 1) * hash_multiplier;
}

// The same of the bytes at `at`, which may read the byte after them: on a
// little-endian machine one load of four bytes, where the compiler would
// make three loads and their shifts of the bytes one by one.
inline std::uint64_t three_byte_hash_at(const std::uint8_t* at) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t word;
        std::memcpy(&word, at, sizeof word);
        return (std::uint64_t{word & 0xFFFFFF} + 1) * hash_multiplier;
    } else {
        return three_byte_hash(at[0], at[1], at[2]);
    }
}

// A string's home slot is the top bits of its hash, and the top 32 of them,
// kept per code, let the table grow without the string's bytes.
inline std::uint32_t placement(std::uint64_t hash) {
    return static_cast<std::uint32_t>(hash >> 32);
}

// The probing functions below take the Dictionary itself or a
// DictionaryView, which spell their tables alike.
template <class Table>
inline std::size_t home_slot(const Table& dictionary, std::uint32_t placement) {
    return placement >> (dictionary.shift - 32);
}

// The same slot from the whole hash, whose top bits the placement is: one
// shift, where going through the placement takes a subtraction and a
// truncation too, at every slot the parse places or asks for.
// (Both take a table of fewer than 2^32 slots: one holds at most
// 2^max_width entries, and never fills past three quarters.)
static_assert(max_width + 2 < 32, "slot numbers fit a placement");
template <class Table>
inline std::size_t home_slot_of_hash(const Table& dictionary, std::uint64_t hash) {
    return hash >> dictionary.shift;
}

// The slot that holds key, or the empty slot where it belongs.
template <class Table>
inline std::size_t probe_from(Table& dictionary, std::uint64_t key, std::size_t slot) {
    for (;;) {
        std::uint64_t entry = load_entry(dictionary.slots[slot]);
        if (entry == 0 || entry >> code_bits == key) return slot;
        slot = (slot + 1) & dictionary.mask;
    }
}

// hash is the content hash of the string key stands for.
template <class Table>
inline std::size_t probe_slot(Table& dictionary, std::uint64_t key, std::uint64_t hash) {
    return probe_from(dictionary, key, home_slot_of_hash(dictionary, hash));
}

template <class Table>
TARNWEL_PREFETCH_HELPER void prefetch_string(const Table& dictionary, std::uint64_t hash) {
    __builtin_prefetch(&dictionary.slots[home_slot_of_hash(dictionary, hash)]);
}

// Where the code of (prefix, byte) is kept, or where it is to go. For a
// prefix of 256 and up this is a slot entry, with the code in its low bits.
struct StringPlace {
    std::uint32_t* pair = nullptr; // set for a two-byte string
    std::uint64_t* slot = nullptr; // set otherwise
};

// hash is the content hash of the extended string.
template <class Table>
inline StringPlace find_string(Table& dictionary, std::uint32_t prefix, std::uint32_t byte,
                               std::uint64_t hash) {
    if (prefix < 256) return {&dictionary.pair_codes[prefix << 8 | byte], nullptr};
    return {nullptr, &dictionary.slots[probe_slot(dictionary, string_key(prefix, byte), hash)]};
}

inline std::uint32_t code_at(const StringPlace& place) {
    return place.pair != nullptr ? load_entry(*place.pair)
                                 : static_cast<std::uint32_t>(load_entry(*place.slot) & code_mask);
}

// Doubles the slot table, or more when the planned entries need it. False
// when memory runs out.
bool grow_dictionary(Dictionary& dictionary);

// Where prepare_ahead allows it and the planned entries foresee a growth to
// a large table, makes that table now and has another thread fault its
// pages in. The growth takes it if the plan still foresees that size then;
// otherwise it is let go. Only memory and another core's time are at stake:
// the entries are the same either way.
void prepare_growth(Dictionary& dictionary);

// Widens the per-code records to hold code. add_string takes any code up to
// the widest; a parse's codes keep step with the table and never need this,
// so it stays out of line, off the parse's path. False when memory runs out.
bool make_room_for_code(Dictionary& dictionary, std::uint32_t code);

// The codes below which add_string would only store, wherever the string
// belongs: no table to grow (a string stores at most one entry in the
// slots), no records to widen. free_code is the next code to be added.
inline std::uint64_t quiet_codes_end(const Dictionary& dictionary, std::uint32_t free_code) {
    std::size_t most_stored = (dictionary.mask + 1) / 4 * 3;
    return std::min<std::uint64_t>(dictionary.placements.size,
                                   std::uint64_t{free_code} + (most_stored - dictionary.stored));
}

// Stores code for (prefix, byte), whose content hash is hash, at the empty
// place find_string gave, when its code is below quiet_codes_end: nothing
// needs to grow first. keyed is string_key(prefix, byte) << code_bits, the
// entry without its code, which a parse has from its probe. It tests
// nothing itself: a store to a slot may change any count it tested, so the
// compiler would read them all back, and the parse's loop would lose
// registers to them.
inline void add_string_quietly(Dictionary& dictionary, const StringPlace& place,
                               std::uint64_t keyed, std::uint64_t hash, std::uint32_t code) {
    if (place.pair != nullptr) {
        store_entry(*place.pair, code);
        return;
    }
    store_entry(*place.slot, keyed | code);
    dictionary.placements[code] = placement(hash);
    ++dictionary.stored;
}

// The same whatever the table's state: widens the per-code records first
// and grows the table after, as needed. False when memory ran out.
inline bool add_string(Dictionary& dictionary, const StringPlace& place, std::uint32_t prefix,
                       std::uint32_t byte, std::uint64_t hash, std::uint32_t code) {
    bool in_slots = place.pair == nullptr;
    if (in_slots && code >= dictionary.placements.size && !make_room_for_code(dictionary, code))
        return false;
    add_string_quietly(dictionary, place, string_key(prefix, byte) << code_bits, hash, code);
    if (in_slots && dictionary.stored * 4 > (dictionary.mask + 1) * 3)
        return grow_dictionary(dictionary);
    return true;
}

} // namespace tarnwel
