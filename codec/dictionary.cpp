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
    return allocate_zeroed(dictionary.pair_codes, std::size_t{1} << 16) &&
           allocate_slots(dictionary, initial_slot_bits);
}

bool grow_dictionary(Dictionary& dictionary) {
    HugeArray<std::uint64_t> old = std::move(dictionary.slots);
    std::size_t old_count = dictionary.mask + 1;
    if (!allocate_slots(dictionary, 64 - dictionary.shift + 1)) return false;
    for (std::size_t i = 0; i < old_count; ++i) {
        std::uint64_t entry = old[i];
        if (entry == 0) continue;
        dictionary.slots[probe_slot(dictionary, entry >> code_bits)] = entry;
        ++dictionary.stored;
    }
    return true;
}

} // namespace tarnwel
