#include "codec/dictionary.h"

namespace tarnwel {

namespace {

constexpr int initial_slot_bits = 14;

bool allocate_slots(Dictionary& dictionary, int slot_bits) {
    if (!allocate_zeroed(dictionary.slots, std::size_t{1} << slot_bits)) return false;
    dictionary.mask = (std::size_t{1} << slot_bits) - 1;
    dictionary.shift = 64 - slot_bits;
    dictionary.stored = 0;
    return true;
}

} // namespace

bool init_dictionary(Dictionary& dictionary) {
    // Only the pages of codes actually given out are ever touched.
    return allocate_zeroed(dictionary.pair_codes, std::size_t{1} << 16) &&
           allocate_zeroed(dictionary.content_hashes, std::size_t{1} << max_bits) &&
           allocate_slots(dictionary, initial_slot_bits);
}

bool grow_dictionary(Dictionary& dictionary) {
    HugeArray<std::uint64_t> old = std::move(dictionary.slots);
    std::size_t old_count = dictionary.mask + 1;
    if (!allocate_slots(dictionary, 64 - dictionary.shift + 1)) return false;
    // Every move reads a content hash and writes a slot at random: asking
    // for both well ahead keeps many of them in flight at once.
    constexpr std::size_t hash_ahead = 32;
    constexpr std::size_t slot_ahead = 16;
    for (std::size_t i = 0; i < old_count; ++i) {
        if (i + hash_ahead < old_count && old[i + hash_ahead] != 0)
            __builtin_prefetch(&dictionary.content_hashes[old[i + hash_ahead] & code_mask]);
        if (i + slot_ahead < old_count && old[i + slot_ahead] != 0)
            prefetch_string(dictionary, dictionary.content_hashes[old[i + slot_ahead] & code_mask]);
        std::uint64_t entry = old[i];
        if (entry == 0) continue;
        std::uint64_t hash = dictionary.content_hashes[entry & code_mask];
        dictionary.slots[probe_slot(dictionary, entry >> code_bits, hash)] = entry;
        ++dictionary.stored;
    }
    return true;
}

} // namespace tarnwel
