#include "reference_dictionary.h"

#include <cstring>

namespace tarnwel::reference {

bool allocate_tables(Dictionary& dictionary, int width) {
    std::size_t slots = static_cast<std::size_t>(TABLESIZE[static_cast<std::size_t>(width)]);
    dictionary.slot_count = 0;
    if (!allocate_zeroed(dictionary.code_table, slots) ||
        !allocate_zeroed(dictionary.prefix_table, slots) ||
        !allocate_zeroed(dictionary.byte_table, slots)) {
        dictionary = Dictionary{};
        return false;
    }
    dictionary.width = width;
    dictionary.slot_count = static_cast<std::int32_t>(slots);
    return true;
}

void clear_dictionary(Dictionary& dictionary) {
    // empty_slot is all one bits, so a byte fill sets it in every slot.
    static_assert(empty_slot == -1);
    std::memset(dictionary.code_table.data(), 0xFF,
                dictionary.code_table.size * sizeof(dictionary.code_table[0]));
    dictionary.free_code = first_free_code;
}

} // namespace tarnwel::reference
